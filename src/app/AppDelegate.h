#pragma once
// The spine of the program: the launch sequence, the panel icon and its menu, the hot actions
// and the road from a key press to a card. One instance lives for the life of the process.

#include "shortcuts/Shortcut.h"

#include <QFileInfo>
#include <QHash>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

#include "imaging/IsolatedDecode.h"
#include "imaging/Shot.h"

class Defaults;
class HotKeys;
class Platform;
class QAction;
class QMenu;
class TapHold;
class QSystemTrayIcon;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    struct HotAction {
        QString key;
        QString title;
        Shortcut def;

        // "shortcut.enabled." + key when it holds a bool, else on.
        bool enabled() const;
        bool enabled(const Defaults& defaults) const;
    };

    // The desktop's backends come from the program's start (or a test's fakes) and outlive us.
    AppDelegate(Defaults& defaults, Platform& platform, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The screenshot folder ~/Pictures/Pictolarium, created (or moved from a legacy name) on every read.
    static QString shotsFolder();
    // There is no update framework here.
    static constexpr bool updatesConfigured = false;

    static const QList<HotAction>& actions();

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    // The end when the display went away: no window can close, so what closing the card would write is written
    // here, from whichever thread noticed, within a bounded time.
    void applicationLostDisplay();
    // The user started the program again while it runs: toggle the basket, open no window.
    bool applicationShouldHandleReopen();
    // The capture road: the window or screen under the pointer, the slice, the newest screenshot,
    // and files handed to the program on its command line or by a second launch.
    void capture();
    void captureRegion();
    // The newest screenshot as a card, read as an opened file is, while the program goes on answering; a
    // picture that can't be read says why.
    void showLatest();
    // The newest picture file of the screenshot folder (PDFs aside), by creation time; nothing when there is none.
    static std::optional<QFileInfo> latestShot();
    QList<QUrl> finderSelection();
    void openFiles(const QList<QUrl>& urls);

    QMenu* makeMenu();
    // Where the panel icon is on the screen; empty while there is none.
    QRect statusItemGeometry() const;
    void registerHotKeys();
    // Registers one enabled action's shortcut; false when another program holds it.
    bool registerOne(const HotAction& action);
    void retryRefusedHotKeys();

    // Panel menu actions.
    void showLibrary();
    void openFolder();
    void chooseLanguage();
    void customizeToolbar();
    void showTour();
    void pickWheelKey(QAction* sender);
    void toggleLogin();
    // The menu the panel icon shows; replaced whenever a hot action or the login item changes.
    QMenu* currentMenu() const;

    // Stores the flag, registers the hot keys anew and rebuilds the menu.
    void setEnabled(const QString& key, bool on);
    // Runs the change dialog; true when a shortcut was saved or reset.
    bool changeShortcut(const QString& key);
    // Menu items whose data is the action key.
    void toggleShortcutEnabled(QAction* item);
    void changeShortcut(QAction* item);

    // The hot-key registry; one on the platform's global keys unless a test hands in another
    // before launch.
    HotKeys* hotKeys = nullptr;

    QSystemTrayIcon* statusItem = nullptr;
    QHash<QString, quint32> tokens;
    QHash<QString, bool> held;
    QHash<QString, bool> fired;

signals:
    // For tests and observers: the launch sequence has finished.
    void launched();
    // A hot action's tap or hold ran.
    void hotActionRan(const QString& key, bool hold);

private:
    // Counts the requests for the newest screenshot: only the last one asked for opens its card.
    quint64 latestAsked = 0;
    // The newest screenshot, once a worker has found it, read unless a later request came meanwhile.
    void readLatest(quint64 asked, const std::optional<QFileInfo>& latest);
    // A file handed over, once a worker has looked at it: refused with the words given, or read by the decoder.
    void startOpening(const QString& refusal, const QFileInfo& info, const QString& folder, ImageFormat format);
    // The decoder's answer for a file handed over: the staged copy gets its name and becomes a card, or goes.
    void finishOpening(const QFileInfo& info, const QString& folder, const IsolatedDecode::Result& result);
    // The named copy as a card (or a PDF's session).
    void showOpened(const QFileInfo& info, const IsolatedDecode::Result& result, const QString& destination);
    void resetShortcutsOnce();
    // The tour reaches the hot actions, the tray icon and the desktop checks through these.
    void handTourItsServices();
    // The part of the start that waits for the tray icon to show (or a second, or no tray).
    void finishWhenDocked(int waited);
    void finishLaunching();
    void attachMenu(QMenu* menu);
    void popUpMenu();
    void keyPressed(const QString& key);
    void keyReleased(const QString& key);
    HotKeys& registry();
    TapHold& machine();
    void runHotAction(const QString& key, bool hold);

    TapHold* tapHold = nullptr;

    Defaults& defaults;
    Platform& platform;
    QPointer<QMenu> menu;
};
