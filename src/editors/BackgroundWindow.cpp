#include "editors/BackgroundWindow.h"

#include "editors/Backdrop.h"
#include "editors/BackgroundCanvas.h"
#include "editors/Beautify.h"
#include "editors/CustomColors.h"
#include "editors/PresetMenu.h"
#include "imaging/ShotFiles.h"
#include "imaging/UserError.h"
#include "ui/Divider.h"
#include "ui/GhostButton.h"
#include "ui/Prefs.h"
#include "ui/UI.h"

#include <QMenu>
#include <QPointer>

BackgroundWindow::BackgroundWindow(const Shot& shot, std::function<void(const QUrl&, const QImage&)> done)
    : EditorWindow(shot, 100, false, QStringLiteral("Pictolarium Backdrop")), onDone(std::move(done)) {
    canvas = new BackgroundCanvas(image(), current, this);
    canvas->setGeometry(QRect(QPoint(20, 20), canvasSize()));
    QPointer<BackgroundWindow> self(this);
    canvas->onStyleChange = [self](const BackdropStyle& style) {
        if (self)
            self->setStyle(style);
    };

    const QFont font = UI::font(12 * Prefs::barScale(), QFont::DemiBold);
    fillButton = new GhostButton(QStringLiteral("Backdrop"), QString(), QString(), QSizeF(30, 28), 14);
    connect(fillButton, &QAbstractButton::clicked, this, [this] { showFills(fillButton); });
    shadowButton = new GhostButton(QStringLiteral("Shadow"), QString(), QStringLiteral("Shadow"), QSizeF(66, 28), 14);
    shadowButton->setFont(font);
    connect(shadowButton, &QAbstractButton::clicked, this, &BackgroundWindow::toggleShadow);
    presetsButton =
        new GhostButton(QStringLiteral("Style presets"), QStringLiteral("bookmark"), QString(), QSizeF(30, 28), 14);
    connect(presetsButton, &QAbstractButton::clicked, this, [this] { showPresets(presetsButton); });
    auto* doneButton =
        new GhostButton(QStringLiteral("Done (\u21A9)"), QStringLiteral("checkmark"), QString(), QSizeF(30, 28), 14);
    doneButton->setGlass(GhostButton::Glass::done);
    connect(doneButton, &QAbstractButton::clicked, this, &BackgroundWindow::finish);
    addToolbar({fillButton, shadowButton, presetsButton, new Divider(16, false), doneButton});

    presetMenu = new PresetMenu(
        PresetMenu::Kind::background,
        [self](const QString& name) {
            StylePreset preset{QUuid::createUuid(), name, std::nullopt, std::nullopt};
            if (self)
                preset.background = self->current;
            return preset;
        },
        [self](const StylePreset& preset) {
            if (self && preset.background)
                self->setStyle(preset.background->clamped());
        },
        this);
    refreshButtons();
    canvas->setFocus();
}

void BackgroundWindow::setStyle(const BackdropStyle& next) {
    current = next;
    canvas->show(next);
    refreshButtons();
}

void BackgroundWindow::refreshButtons() {
    std::optional<QList<QColor>> colours;
    if (current.customHex)
        if (const std::optional<QColor> colour = CustomColors::color(*current.customHex))
            colours = QList<QColor>{*colour};
    if (!colours)
        colours = Backdrop::all().at(current.clamped().fill).colors;
    fillButton->setTint(colours && !colours->isEmpty() ? colours->first() : QColor(255, 255, 255, int(0.25 * 255)));
    shadowButton->setActive(current.shadow);
    shadowButton->setContentTintColor(current.shadow ? UI::accent() : QColor(Qt::white));
    fillButton->update();
    shadowButton->update();
}

QMenu* BackgroundWindow::fillsMenu(QWidget* parent) {
    QMenu* menu = PresetMenu::darkMenu(parent);
    const QList<Backdrop::Fill>& fills = Backdrop::all();
    for (int i = 0; i < fills.size(); ++i) {
        QAction* item =
            menu->addAction(Backdrop::swatch(fills[i], 14), fills[i].name, this, [this, i] { pickFill(i); });
        item->setCheckable(true);
        item->setChecked(!current.customHex && current.fill == i);
    }
    const QList<QColor> saved = CustomColors::all();
    if (!saved.isEmpty()) {
        menu->addSeparator();
        menu->addAction(QStringLiteral("Saved colours"))->setEnabled(false);
        for (const QColor& colour : saved) {
            const QString hex = CustomColors::hex(colour);
            QAction* item = menu->addAction(Backdrop::swatch(Backdrop::flat(colour, hex), 14), hex, this,
                                            [this, hex] { pickCustom(hex); });
            item->setCheckable(true);
            item->setChecked(current.customHex == hex);
        }
    }
    return menu;
}

void BackgroundWindow::showFills(QWidget* sender) {
    QMenu* menu = fillsMenu(sender);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(sender->mapToGlobal(QPoint(0, sender->height() + 6)));
}

void BackgroundWindow::pickFill(int index) {
    BackdropStyle next = current;
    next.customHex.reset();
    next.fill = index;
    setStyle(next);
}

void BackgroundWindow::pickCustom(const QString& hex) {
    BackdropStyle next = current;
    next.customHex = hex;
    setStyle(next);
}

void BackgroundWindow::toggleShadow() {
    BackdropStyle next = current;
    next.shadow = !next.shadow;
    setStyle(next);
}

void BackgroundWindow::showPresets(QWidget* sender) {
    if (presetMenu)
        presetMenu->show(sender);
}

void BackgroundWindow::finish() {
    if (isWriting())
        return;
    QPointer<BackgroundWindow> self(this);
    writeAway([self, source = canvas->source, style = canvas->style, url = shot().fileURL] {
        const std::optional<QImage> result = Beautify::render(source, style);
        if (!result)
            throw ConvertError(QStringLiteral("Can't render"));
        const QUrl written = ShotFiles::savePNG(*result, url, QStringLiteral("styled"));
        return Written{written, [self, written, image = *result] {
                           if (self->onDone)
                               self->onDone(written, image);
                           self->close();
                       }};
    });
}
