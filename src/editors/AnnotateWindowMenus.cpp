// The annotate editor's pop-ups: the colour grid and the colour dialog, the size menu and the signatures.

#include "editors/AnnotateWindow.h"

#include "editors/ColorGridView.h"
#include "editors/CustomColors.h"
#include "editors/PresetMenu.h"
#include "editors/SignaturePad.h"
#include "editors/SignatureStore.h"
#include "imaging/BoundedLoad.h"
#include "imaging/ImageConvert.h"
#include "platform/Dispatch.h"
#include "ui/GhostButton.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <QWidgetAction>

#include <algorithm>
#include <cmath>

namespace {

QMenu* darkMenu(QWidget* parent) {
    QMenu* menu = PresetMenu::darkMenu(parent);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    return menu;
}

QIcon sizeIcon(double value) {
    QPixmap pixmap(68, 28);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    const double height = std::max(1.0, 1.6 * value);
    painter.drawRoundedRect(QRectF(0, 7 - height / 2, 34, height), 1, 1);
    return QIcon(pixmap);
}

QIcon thumbnail(const QImage& image, double height, double maxWidth, const QColor& ink) {
    const double width = std::min(maxWidth, image.width() * height / std::max(1, image.height()));
    QImage tinted =
        image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
            .scaled(QSize(int(width * 2), int(height * 2)), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // Drawn in the menu's text colour, as the ink is black on nothing.
    QPainter painter(&tinted);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(tinted.rect(), ink);
    painter.end();
    QPixmap pixmap = QPixmap::fromImage(tinted);
    pixmap.setDevicePixelRatio(2);
    return QIcon(pixmap);
}

} // namespace

void AnnotateWindow::popUnder(QMenu* menu, QWidget* button) {
    menu->popup(button->mapToGlobal(QPoint(0, button->height() + 6)));
}

QMenu* AnnotateWindow::colorMenu() {
    QMenu* menu = darkMenu(this);
    auto* grid = new ColorGridView(paletteColors(), CustomColors::all(), canvas->color().qcolor());
    QPointer<AnnotateWindow> self(this);
    grid->onPick = [self](const QColor& colour) {
        if (self)
            self->setColor(colour);
    };
    grid->onCustom = [self] {
        QTimer::singleShot(0, self, [self] {
            if (self)
                self->openColorPanel();
        });
    };
    grid->onRemove = [](const QColor& colour) { CustomColors::remove(colour); };
    auto* action = new QWidgetAction(menu);
    action->setDefaultWidget(grid);
    menu->addAction(action);
    return menu;
}

void AnnotateWindow::showColors() {
    popUnder(colorMenu(), colorButton);
}

QColorDialog* AnnotateWindow::openColorPanel() {
    if (!panel) {
        panel = new QColorDialog(this);
        panel->setOptions(QColorDialog::DontUseNativeDialog);
        panel->setWindowFlag(Qt::WindowStaysOnTopHint);
        panel->setModal(false);
        connect(panel, &QColorDialog::currentColorChanged, this, [this](const QColor& colour) {
            if (colour.isValid())
                setColor(colour);
        });
        connect(panel, &QDialog::finished, this, &AnnotateWindow::colorPanelClosed);
    }
    {
        const QSignalBlocker quiet(panel);
        panel->setCurrentColor(canvas->color().qcolor());
    }
    // Return in the dialog takes its colour back to the editor; it must not reach the editor's own Return.
    qApp->removeEventFilter(this);
    qApp->installEventFilter(this);
    panel->show();
    panel->raise();
    panel->activateWindow();
    return panel;
}

bool AnnotateWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && panel && panel->isVisible()) {
        auto* widget = qobject_cast<QWidget*>(watched);
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (widget && widget->window() == panel && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            setColor(panel->currentColor());
            panel->accept();
            raise();
            activateWindow();
            canvas->setFocus();
            return true;
        }
    }
    return EditorWindow::eventFilter(watched, event);
}

void AnnotateWindow::colorPanelClosed() {
    qApp->removeEventFilter(this);
    const Annotation::Color current = canvas->color();
    for (const Annotation::Color& colour : Annotation::palette())
        if (Annotation::sameColor(colour, current))
            return;
    CustomColors::add(current.qcolor());
}

QMenu* AnnotateWindow::sizeMenu() {
    QMenu* menu = darkMenu(this);
    const double current = canvas->currentThickness();
    for (int i = 0; i < sizes().size(); ++i) {
        const Size& size = sizes()[i];
        QAction* item = menu->addAction(sizeIcon(size.value), size.name);
        item->setCheckable(true);
        item->setChecked(std::abs(current - size.value) < 0.2 * size.value);
        connect(item, &QAction::triggered, this, [this, i] { pickSize(i); });
    }
    return menu;
}

void AnnotateWindow::showSizes() {
    popUnder(sizeMenu(), sizeButton);
}

QMenu* AnnotateWindow::signatureMenu() {
    QMenu* menu = darkMenu(this);
    signatureURLs = SignatureStore::all();
    const QColor ink(Qt::white); // the menus are dark
    QList<std::optional<QImage>> pictures;
    for (int i = 0; i < signatureURLs.size(); ++i) {
        pictures.append(SignatureStore::read(signatureURLs[i]));
        if (!pictures.last())
            continue;
        // A menu item's icon is too small for a signature: the entry is a flat button of its own.
        auto* button = new QToolButton;
        const QIcon picture = thumbnail(*pictures.last(), 36, 180, ink);
        button->setIcon(picture);
        button->setIconSize(picture.availableSizes().value(0) / 2);
        button->setAutoRaise(true);
        // The menu's own dark highlight under the pointer: the style's light panel would hide the white ink.
        button->setStyleSheet(QStringLiteral("QToolButton { background: transparent; border: none; padding: 4px 8px; }"
                                             "QToolButton:hover, QToolButton:pressed { background: #3d3d3d; }"));
        auto* item = new QWidgetAction(menu);
        item->setDefaultWidget(button);
        menu->addAction(item);
        connect(button, &QToolButton::clicked, this, [this, menu, i] {
            menu->hide();
            placeSavedSignature(i);
        });
    }
    if (!signatureURLs.isEmpty())
        menu->addSeparator();
    QPointer<AnnotateWindow> self(this);
    connect(menu->addAction(QStringLiteral("Create signature\u2026")), &QAction::triggered, this, [self] {
        QTimer::singleShot(0, self, [self] {
            if (self)
                self->newSignature();
        });
    });
    connect(menu->addAction(QStringLiteral("Import image\u2026")), &QAction::triggered, this, [self] {
        QTimer::singleShot(0, self, [self] {
            if (self)
                self->importSignature();
        });
    });
    if (!signatureURLs.isEmpty()) {
        QMenu* remove = menu->addMenu(QStringLiteral("Remove"));
        for (int i = 0; i < signatureURLs.size(); ++i) {
            QAction* item = remove->addAction(QStringLiteral("Signature %1").arg(i + 1));
            if (pictures[i])
                item->setIcon(thumbnail(*pictures[i], 22, 120, ink));
            connect(item, &QAction::triggered, this, [this, i] { removeSignature(i); });
        }
    }
    return menu;
}

void AnnotateWindow::showSignatures() {
    popUnder(signatureMenu(), signatureButton);
}

void AnnotateWindow::placeSavedSignature(int index) {
    if (index < 0 || index >= signatureURLs.size())
        return;
    const std::optional<QImage> picture = SignatureStore::read(signatureURLs[index]);
    if (!picture)
        return;
    canvas->placeSignature(*picture);
}

void AnnotateWindow::newSignature() {
    const std::optional<QImage> drawn = SignatureDialog::draw(this);
    if (!drawn)
        return;
    SignatureStore::save(*drawn);
    canvas->placeSignature(*drawn);
    canvas->setFocus();
}

void AnnotateWindow::importSignature() {
    // This window can close while the dialog waits (the basket's key closes it): the dialog, its child, goes with
    // it, so it lives on the heap and nothing here is touched once it has gone.
    const QPointer<QFileDialog> dialog =
        new QFileDialog(this, QStringLiteral("Pick a picture of your signature (dark ink on white paper works)"));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setWindowFlag(Qt::WindowStaysOnTopHint);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(QStringLiteral("Pictures (*.png *.jpg *.jpeg *.heic *.tif *.tiff)"));
    const bool picked = dialog->exec() == QDialog::Accepted;
    if (!dialog)
        return;
    const QStringList files = dialog->selectedFiles();
    delete dialog.data();
    if (!picked || files.isEmpty())
        return;
    // Read as an opened file is and cleaned on a worker: a photograph of a signature can be large.
    const QUrl url = QUrl::fromLocalFile(files.first());
    QPointer<AnnotateWindow> self(this);
    setCursor(Qt::BusyCursor);
    BoundedLoad::start(url, this, [self, url](const IsolatedDecode::Result& result) {
        if (!result.ok()) {
            self->unsetCursor();
            self->fail(ConvertError(BoundedLoad::refusal(url, result)));
            return;
        }
        Dispatch::global([self, picture = result.image] {
            std::optional<QImage> ink = SignatureStore::cleaned(picture);
            Dispatch::main([self, ink = std::move(ink)] {
                if (!self)
                    return;
                self->unsetCursor();
                if (!ink)
                    return;
                SignatureStore::save(*ink);
                self->canvas->placeSignature(*ink);
                self->canvas->setFocus();
            });
        });
    });
}

void AnnotateWindow::removeSignature(int index) {
    if (index >= 0 && index < signatureURLs.size())
        SignatureStore::remove(signatureURLs[index]);
}

AnnotateStyle AnnotateWindow::currentStyle() const {
    AnnotateStyle style;
    const QColor now = canvas->color().qcolor().toRgb();
    const QList<QColor> palette = paletteColors();
    for (int i = 0; i < palette.size(); ++i) {
        const QColor p = palette[i].toRgb();
        if (std::abs(p.redF() - now.redF()) < 0.01 && std::abs(p.greenF() - now.greenF()) < 0.01 &&
            std::abs(p.blueF() - now.blueF()) < 0.01 && std::abs(p.alphaF() - now.alphaF()) < 0.01) {
            style.color = i;
            break;
        }
    }
    style.thickness = canvas->thickness();
    style.filled = canvas->filled();
    return style;
}

void AnnotateWindow::applyStyle(const AnnotateStyle& style) {
    const QList<QColor> palette = paletteColors();
    setColor(palette[std::clamp(style.color, 0, int(palette.size()) - 1)]);
    colorButton->update();
    // A style is for what is drawn next: the selected shape keeps its width.
    canvas->setToolThickness(style.appliedThickness());
    canvas->setFilled(style.filled);
    updateFillButton();
}

void AnnotateWindow::showPresets(QWidget* sender) {
    if (presetMenu)
        presetMenu->show(sender);
}
