// The tour's page table, its key caps and the buttons that switch and change a hot action.

#include "onboarding/Onboarding.h"

#include "library/FormatWheel.h"
#include "onboarding/ShadButton.h"
#include "platform/Defaults.h"
#include "ui/UI.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>

namespace {

const Shortcut kCaptureDefault{2, Shortcut::command | Shortcut::shift, QStringLiteral("D")};
const Shortcut kLibraryDefault{1, Shortcut::command | Shortcut::shift, QStringLiteral("S")};

// One key of a shortcut, drawn as a small raised cap.
class KeyCap : public QWidget {
public:
    KeyCap(const QString& text, QWidget* parent) : QWidget(parent), label(text) {
        const double w = QFontMetricsF(UI::font(13, QFont::Medium)).horizontalAdvance(text);
        setFixedSize(int(std::ceil(std::max(w + 16, 28.0))), 26);
        setAccessibleName(text);
    }
    const QString label;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -2.5);
        QPainterPath cap;
        cap.addRoundedRect(r, 6, 6);
        // The hard shadow two points under the cap gives it its depth.
        p.fillPath(cap.translated(0, 2), QColor::fromRgbF(0, 0, 0, 0.55f));
        p.fillPath(cap, QColor(36, 38, 37));
        p.fillPath(cap, QColor::fromRgbF(1, 1, 1, 0.1f));
        p.strokePath(cap, QPen(QColor::fromRgbF(1, 1, 1, 0.12f), 1));
        p.setFont(UI::font(13, QFont::Medium));
        p.setPen(Qt::white);
        p.drawText(r, Qt::AlignCenter, label);
    }
};

} // namespace

QList<Onboarding::Page> Onboarding::pages() const {
    using Kind = TourScene::Kind;
    const Shortcut capture = Shortcut::load(QStringLiteral("capture"), kCaptureDefault, defaults);
    const Shortcut library = Shortcut::load(QStringLiteral("library"), kLibraryDefault, defaults);
    const QString tap = QStringLiteral("tap"), hold = QStringLiteral("hold");
    const QString wayland = QStringLiteral("This desktop runs on Wayland; capture needs an X11 desktop.");
    return {
        {Kind::welcome,
         QStringLiteral("Meet Pictolarium"),
         std::nullopt,
         QStringLiteral("Screenshots that appear where you are, get edited where they land, and never leave your "
                        "computer."),
         {},
         {}},
        {Kind::pick, QStringLiteral("Tap to grab a window"), capture,
         QStringLiteral("Point at a window and tap. A card appears at your cursor; drag it straight into any app. "
                        "Open a PDF or image with Pictolarium to get its card."),
         QStringLiteral("capture"), tap},
        {Kind::slice,
         QStringLiteral("Hold to slice a piece"),
         capture,
         QStringLiteral("Keep the key down, then drag over anything on screen. The piece lands on the same card."),
         {},
         hold},
        {Kind::card,
         QStringLiteral("Edit right on the card"),
         std::nullopt,
         QStringLiteral("Annotate, sign, crop, resize, rotate, copy or translate text, redact, cut out, pin, "
                        "convert. Every tool sits in the pill under the image; reorder or hide them in the menu "
                        "(Customize Toolbar)."),
         {},
         {}},
        {Kind::basket, QStringLiteral("Tap for your basket"), library,
         QStringLiteral("Screenshots and every image that landed on this computer in the last 24 hours. Nothing is "
                        "deleted; older files stay in your folder. Double-click a tile for its card, or drag it into "
                        "an app."),
         QStringLiteral("library"), tap},
        {Kind::latest,
         QStringLiteral("Hold for the latest"),
         library,
         QStringLiteral("Keep the key down and the newest screenshot opens as a card to edit, or drag it straight "
                        "into a message."),
         {},
         hold},
        {Kind::wheel,
         FormatWheel::modifierSymbol(defaults) + QStringLiteral("-drag to convert"),
         std::nullopt,
         QStringLiteral("Hold ") + FormatWheel::modifierSymbol(defaults) +
             QStringLiteral(" while dragging any image and a wheel of formats appears. Drop on a segment. Works in "
                            "your file manager too."),
         {},
         {}},
        {Kind::permissions,
         setupTitle.isEmpty() ? QStringLiteral("Ready to capture") : setupTitle,
         std::nullopt,
         probe.wayland() ? wayland : QStringLiteral("Nothing to allow on X11. Everything stays on this computer."),
         {},
         {}},
    };
}

QString Onboarding::eyebrowWord(TourScene::Kind kind) {
    switch (kind) {
    case TourScene::Kind::welcome:
        return QStringLiteral("WELCOME");
    case TourScene::Kind::pick:
        return QStringLiteral("PICK");
    case TourScene::Kind::slice:
        return QStringLiteral("SLICE");
    case TourScene::Kind::card:
        return QStringLiteral("THE CARD");
    case TourScene::Kind::basket:
        return QStringLiteral("BASKET");
    case TourScene::Kind::latest:
        return QStringLiteral("LATEST");
    case TourScene::Kind::wheel:
        return QStringLiteral("CONVERT");
    case TourScene::Kind::permissions:
        return QStringLiteral("SETUP");
    }
    return {};
}

QStringList Onboarding::capWords(const Shortcut& shortcut) {
    // Split the display text at its modifier words, never per character: "F12" and "Space" are one key.
    QStringList words = Shortcut::modifierWords(shortcut.modifiers).split(QLatin1Char('+'), Qt::SkipEmptyParts);
    words.append(shortcut.keyName);
    return words;
}

QWidget* Onboarding::keycap(const QString& text) {
    return new KeyCap(text, keycaps);
}

void Onboarding::addHotActionControls(QHBoxLayout* row, const QString& key) {
    row->addSpacing(6);
    auto* change = new ShadButton(QStringLiteral("Change"), false, true, keycaps);
    change->setFixedSize(68, 26);
    change->setToolTip(QStringLiteral("Pick your own shortcut"));
    change->setFocusPolicy(Qt::NoFocus);
    connect(change, &QAbstractButton::clicked, this, &Onboarding::changeShortcut);
    row->addWidget(change, 0, Qt::AlignVCenter);

    const bool on = services.isEnabled ? services.isEnabled(key)
                                       : defaults.boolean(QStringLiteral("shortcut.enabled.") + key).value_or(true);
    auto* toggle = new ShadButton(on ? QStringLiteral("On") : QStringLiteral("Off"), on, !on, keycaps);
    toggle->setFixedSize(52, 26);
    toggle->setToolTip(QStringLiteral("Turn this shortcut on or off (you can change it later in the menu: Shortcuts)"));
    toggle->setFocusPolicy(Qt::NoFocus);
    connect(toggle, &QAbstractButton::clicked, this, &Onboarding::toggleEnabled);
    row->addWidget(toggle, 0, Qt::AlignVCenter);
}

void Onboarding::toggleEnabled() {
    const QList<Page> all = pages();
    if (index < 0 || index >= all.size() || all.at(index).actionKey.isEmpty() || !services.setEnabled)
        return;
    const QString key = all.at(index).actionKey;
    const bool on = services.isEnabled ? services.isEnabled(key)
                                       : defaults.boolean(QStringLiteral("shortcut.enabled.") + key).value_or(true);
    services.setEnabled(key, !on);
    render(false);
}

void Onboarding::changeShortcut() {
    const QList<Page> all = pages();
    if (index < 0 || index >= all.size() || all.at(index).actionKey.isEmpty() || !services.changeShortcut)
        return;
    if (services.changeShortcut(all.at(index).actionKey))
        render(false);
    activateWindow();
    raise();
}
