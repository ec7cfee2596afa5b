#pragma once
// The spine of the program: the launch sequence, the panel icon and its menu, the hot actions
// and the road from a key press to a card. One instance lives for the life of the process.

#include <QHash>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

#include "app/Shot.h"

class Defaults;
class QMenu;
class QSystemTrayIcon;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    struct HotAction {
        QString key;
        QString title;
    };

    explicit AppDelegate(Defaults& defaults, QObject* parent = nullptr);
    ~AppDelegate() override;

    // The screenshot folder ~/Pictures/Pictolarium, created (or moved from a legacy name) on every read.
    static QString shotsFolder();
    // There is no update framework here.
    static constexpr bool updatesConfigured = false;

    static const QList<HotAction>& actions();

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    // The user started the program again while it runs: toggle the basket, open no window.
    bool applicationShouldHandleReopen();
    // The capture road: the window or screen under the pointer, the slice, the newest screenshot,
    // and files handed to the program on its command line or by a second launch.
    void capture();
    void captureRegion();
    void showLatest();
    std::optional<Shot> latestShot();
    QList<QUrl> finderSelection();
    void openFiles(const QList<QUrl>& urls);

    QMenu* makeMenu();
    void registerHotKeys();

    QSystemTrayIcon* statusItem = nullptr;
    QHash<QString, quint32> tokens;
    QHash<QString, bool> held;
    QHash<QString, bool> fired;

signals:
    // For tests and observers: the launch sequence has finished.
    void launched();

private:
    void resetShortcutsOnce();
    void attachMenu(QMenu* menu);
    void popUpMenu();

    Defaults& defaults;
    QPointer<QMenu> menu;
};
