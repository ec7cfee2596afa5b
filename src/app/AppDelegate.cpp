#include "app/AppDelegate.h"

#include "app/MenuIcon.h"
#include "card/PDFSession.h"
#include "card/ToolbarPrefs.h"
#include "imaging/ImageConvert.h"
#include "imaging/ShotFiles.h"
#include "library/FormatWheel.h"
#include "library/LibraryPanel.h"
#include "onboarding/Onboarding.h"
#include "platform/Defaults.h"
#include "platform/DesktopChecks.h"
#include "platform/Dispatch.h"
#include "platform/FileWrites.h"
#include "platform/Platform.h"
#include "shortcuts/HotKeys.h"
#include "text/LocalLLM.h"

#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>

#include <cstdio>
#include <limits>

AppDelegate::AppDelegate(Defaults& store, Platform& desktop, QObject* parent)
    : QObject(parent), defaults(store), platform(desktop) {}

AppDelegate::~AppDelegate() {
    // The global keys outlive us: give the grabs back so the combinations are free again.
    for (const quint32 id : std::as_const(tokens))
        registry().unregister(id);
    tokens.clear();
    if (menu)
        delete menu;
}

const QList<AppDelegate::HotAction>& AppDelegate::actions() {
    static const QList<HotAction> table{
        {QStringLiteral("capture"), QStringLiteral("Capture  \u00b7  tap = window, hold = drag a piece"),
         Shortcut{2, Shortcut::command | Shortcut::shift, QStringLiteral("D")}},
        {QStringLiteral("library"), QStringLiteral("Basket  \u00b7  tap = screenshots, hold = latest"),
         Shortcut{1, Shortcut::command | Shortcut::shift, QStringLiteral("S")}},
    };
    return table;
}

QString AppDelegate::shotsFolder() {
    return ShotFiles::shotsFolder();
}

void AppDelegate::applicationDidFinishLaunching() {
    // Only the icon and the hot keys come before the icon shows: the rest of the start waits until the
    // tray has taken the icon, so that a slow start never keeps either waiting.
    resetShortcutsOnce(); // the hot keys are read after it
    statusItem = new QSystemTrayIcon(MenuIcon::make(platform.trayColors()), this);
    statusItem->setToolTip(QStringLiteral("Pictolarium"));
    connect(statusItem, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context)
            popUpMenu();
    });
    const bool tray = QSystemTrayIcon::isSystemTrayAvailable();
    if (!tray)
        std::fprintf(stderr, "pictolarium: no system tray found; the hot keys still work, and the panel icon "
                             "appears when a tray starts.\n");
    statusItem->show();
    // Scheduled first: an alert about a refused hot key waits for the user, and the rest of the start
    // (the tour among it) must not wait with it.
    if (tray)
        finishWhenDocked(0);
    else
        Dispatch::main([self = QPointer<AppDelegate>(this)] {
            if (self)
                self->finishLaunching();
        });
    registerHotKeys();
}

void AppDelegate::finishWhenDocked(int waited) {
    // The tray gives the icon a place (and so a geometry) when it docks it; the icon paints right after.
    constexpr int step = 10, patience = 1000;
    if (statusItem->geometry().isValid() || waited >= patience) {
        Dispatch::after(step, this, [this] { finishLaunching(); });
        return;
    }
    Dispatch::after(step, this, [this, waited] { finishWhenDocked(waited + step); });
}

void AppDelegate::finishLaunching() {
    // Qt's text fields carry their own editing keys, so no Edit menu is installed, and there
    // is no update framework to start.
    shotsFolder(); // so the folder is there for the file manager before the first capture
    ToolbarPrefs::adoptNewDefaultOrderOnce();
    LocalLLM::killStray();
    LocalLLM::warmUp();
    FormatWheel::shared().start();
    handTourItsServices();
    Dispatch::after(600, this, [] { Onboarding::showIfFirstRun(); });
    attachMenu(makeMenu());
    emit launched();
}

void AppDelegate::handTourItsServices() {
    Onboarding::Services services;
    services.defaults = &defaults;
    services.checks = &platform.checks();
    services.compositor = &platform.compositor();
    const QPointer<AppDelegate> self(this);
    services.isEnabled = [self](const QString& key) {
        for (const HotAction& action : actions())
            if (action.key == key)
                return self ? action.enabled(self->defaults) : action.enabled();
        return true;
    };
    services.setEnabled = [self](const QString& key, bool on) {
        if (self)
            self->setEnabled(key, on);
    };
    services.changeShortcut = [self](const QString& key) { return self && self->changeShortcut(key); };
    services.refusedHotKeys = [self] {
        QStringList refused;
        if (!self)
            return refused;
        self->retryRefusedHotKeys();
        for (const HotAction& action : actions())
            if (action.enabled(self->defaults) && !self->tokens.contains(action.key))
                refused.append(action.key);
        return refused;
    };
    services.trayIcon = [self]() -> std::optional<QRect> {
        if (!self || !self->statusItem || !QSystemTrayIcon::isSystemTrayAvailable())
            return std::nullopt;
        return self->statusItem->geometry();
    };
    Onboarding::setServices(std::move(services));
}

void AppDelegate::resetShortcutsOnce() {
    if (defaults.boolValue(QStringLiteral("shortcutsV2")))
        return;
    for (const HotAction& action : actions())
        defaults.remove(QStringLiteral("shortcut.") + action.key);
    defaults.set(QStringLiteral("shortcutsV2"), true);
}

void AppDelegate::attachMenu(QMenu* made) {
    if (menu)
        menu->deleteLater();
    menu = made;
}

void AppDelegate::popUpMenu() {
    if (menu)
        menu->popup(QCursor::pos());
}

void AppDelegate::applicationWillTerminate() {
    LocalLLM::stop();
}

void AppDelegate::applicationLostDisplay() {
    applicationWillTerminate();
    // The page writer is a child that needs no display, and so is a conversion of the wheel or the basket: the
    // work under way is finished however long it takes (each child it runs has its own limits), so that an edit
    // the user made reaches the document and a conversion its new file.
    constexpr int untilDone = std::numeric_limits<int>::max();
    PDFSession::finishAll(untilDone);
    ImageConvert::finishAll(untilDone);
    // Every other file being written (an editor's picture and its edit, a cut-out, a stitched page, the
    // settings) is finished however long it takes, and none starts from here on: a picture the user saved is
    // never lost to a logout. The settings last changed are handed to the disk first.
    defaults.flush();
    FileWrites::finishAll();
}

bool AppDelegate::applicationShouldHandleReopen() {
    LibraryPanel::shared().toggle(QCursor::pos());
    return false;
}
