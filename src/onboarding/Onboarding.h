#pragma once
// The first-run tour: one frameless 600 × 560 window of eight pages, each with an animated scene,
// an eyebrow word, a title, the user's shortcut as key caps and a body text. It opens once after the
// first launch (and again from the panel menu), teaches the two hot actions, the card, the basket and
// the format wheel, and ends on a page that checks this desktop can do what the program needs.

#include "onboarding/CapabilityProbe.h"
#include "onboarding/TourScene.h"
#include "shortcuts/Shortcut.h"

#include <QImage>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>

class CheckRow;
class Compositor;
class Defaults;
class DesktopChecks;
class GhostButton;
class QGraphicsOpacityEffect;
class QHBoxLayout;
class QLabel;
class ShadButton;

class Onboarding : public QWidget {
    Q_OBJECT
public:
    // What the tour needs from the program's top, handed in once at start.
    struct Services {
        Defaults* defaults = nullptr; // the standard store when none is given
        const DesktopChecks* checks = nullptr;
        const Compositor* compositor = nullptr;
        // The hot actions by key ("capture", "library"): whether one is on, switching it, and the
        // change dialog (true when a shortcut was saved or reset).
        std::function<bool(const QString&)> isEnabled;
        std::function<void(const QString&, bool)> setEnabled;
        std::function<bool(const QString&)> changeShortcut;
        // The enabled hot actions whose keys could not be grabbed.
        std::function<QStringList()> refusedHotKeys;
        // Where the panel icon sits: nothing when there is no tray, an empty rectangle when the tray
        // does not say.
        std::function<std::optional<QRect>()> trayIcon;
    };

    struct Page {
        TourScene::Kind kind;
        QString title;
        std::optional<Shortcut> keys;
        QString body;
        QString actionKey; // the hot action the page controls, or empty
        QString gesture;   // "tap", "hold" or empty
    };

    static void setServices(Services services);
    // Opens the tour unless "onboardingSeen" is true, at the setup page when the user left there.
    static void showIfFirstRun();
    // Closes a tour that is open and opens a fresh one.
    static void show(bool resumeAtPermissions);
    // The tour last opened, while its window lives.
    static Onboarding* current();

    // Built afresh on every read, so they show the current shortcuts and wheel key.
    QList<Page> pages() const;
    int pageIndex() const { return index; }
    static QString eyebrowWord(TourScene::Kind kind);
    // The setup page's title: what is not ready, by the names of the failing checks, in one line of the font.
    static QString notReadyTitle(const QStringList& failing, const QFont& font);
    // The four checks of the setup page as the title names them, in the order of their rows.
    static QStringList checkNames();
    // One cap per modifier word and one for the key: "Super", "Shift", "D".
    static QStringList capWords(const Shortcut& shortcut);

    void next();
    void backTapped();
    void finishTour();

    // The parts tests look at.
    TourScene* scene() const { return sceneView; }
    QLabel* titleLabel() const { return title; }
    QLabel* eyebrowLabel() const { return eyebrow; }
    QLabel* bodyLabel() const { return body; }
    QWidget* keycapsRow() const { return keycaps; }
    QWidget* heroCard() const { return hero; }
    ShadButton* nextButton() const { return nextButtonView; }
    ShadButton* backButton() const { return backButtonView; }
    ShadButton* skipButton() const { return skipButtonView; }
    const QList<CheckRow*>& checkRows() const { return rows; }
    bool staysOnTop() const { return onTop; }
    void refreshPermissions();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    Onboarding(const Services& services, Defaults& defaults, bool resumeAtPermissions, int shrink);

    void render(bool animated);
    void applyPage();
    void setBody(const QString& text, std::optional<QColor> colour);
    QWidget* keycap(const QString& text);
    void addHotActionControls(QHBoxLayout* row, const QString& key);
    void buildPermissionButtons();
    void toggleEnabled();
    void changeShortcut();
    void setLevel(bool top);
    // Stores the tour as seen and points at the tray icon, once, however the tour ended.
    void markSeen();
    void tick();
    void layoutContent(double now);
    bool onPermissions() const;
    // The panel's glass and the scene's card, drawn once per card height.
    const QImage& backgroundImage();
    static void showTrayHint(const Services& services);

    Services services;
    Defaults& defaults;
    CapabilityProbe probe;
    int index = 0;
    TourScene* sceneView = nullptr;
    QWidget* hero = nullptr;
    QLabel* title = nullptr;
    QLabel* eyebrow = nullptr;
    QWidget* keycaps = nullptr;
    QLabel* body = nullptr;
    QWidget* content = nullptr;
    QWidget* permBox = nullptr;
    QWidget* dots = nullptr;
    QList<QWidget*> dotViews;
    ShadButton* nextButtonView = nullptr;
    ShadButton* skipButtonView = nullptr;
    ShadButton* backButtonView = nullptr;
    GhostButton* closeButton = nullptr;
    QList<CheckRow*> rows;
    QList<QGraphicsOpacityEffect*> reveals;
    QTimer permTimer;
    QTimer keysTimer;
    QTimer animation;
    const int shrink; // points taken off the picture on a short screen
    QString lastTraced;
    QString setupTitle; // what the last poll found not ready, or that all is
    QImage background;
    int backgroundHero = 0;
    bool onTop = true;
    bool composited = false;
    // Page change: fading out until fadeOutEnd, then the new page fades in over 0.18 s.
    double fadeOutEnd = 0;
    double fadeInStart = 0;
    double revealStart = 0;
    bool revealWelcome = false;
    QPoint dragFrom;
    // Where a press on the panel's background went down; the panel moves once the pointer has gone a few pixels.
    std::optional<QPoint> pressAt;
    bool finished = false;
    QMetaObject::Connection activation;
};
