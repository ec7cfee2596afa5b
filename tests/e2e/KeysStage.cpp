#include "KeysStage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

// The panel: a task list of 140-wide buttons in the order the window manager lists its windows, then the tray.
// Plain colours, so that the buttons can be found on the screen: blue, and red for the active window's.
const char* const panelConfig = "rounded = 0\nborder_width = 0\nbackground_color = #202020 100\n"
                                "rounded = 0\nborder_width = 0\nbackground_color = #3050a0 100\n"
                                "rounded = 0\nborder_width = 0\nbackground_color = #a03030 100\n"
                                "panel_items = TS\npanel_position = bottom center horizontal\npanel_size = 100% 30\n"
                                "panel_padding = 0 0 0\npanel_background_id = 1\n"
                                "taskbar_mode = single_desktop\ntaskbar_padding = 0 0 4\ntaskbar_sort_order = none\n"
                                "task_maximum_size = 140 30\ntask_padding = 2 2 4\ntask_icon = 0\ntask_text = 1\n"
                                "task_background_id = 2\ntask_active_background_id = 3\nmouse_left = toggle\n"
                                "systray_padding = 4 4 4\nsystray_icon_size = 22\nsystray_sort = ascending\n";

const char* const jwmConfig =
    "<?xml version=\"1.0\"?>\n<JWM>\n"
    "<Desktops width=\"2\" height=\"1\"><Background type=\"solid\">#111111</Background></Desktops>\n"
    "<FocusModel>click</FocusModel>\n"
    "<Key mask=\"A\" key=\"Tab\">nextstacked</Key>\n<Key mask=\"A\" key=\"F4\">close</Key>\n"
    "<Mouse context=\"title\" button=\"1\">move</Mouse>\n<Mouse context=\"border\" button=\"1\">resize</Mouse>\n"
    "<Mouse context=\"close\" button=\"-1\">close</Mouse>\n"
    "<Mouse context=\"minimize\" button=\"-1\">minimize</Mouse>\n"
    "</JWM>\n";

bool write(const QString& path, const QByteArray& text) {
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

bool taskColour(QRgb c) {
    const auto near = [c](int r, int g, int b) {
        return std::abs(qRed(c) - r) + std::abs(qGreen(c) - g) + std::abs(qBlue(c) - b) < 40;
    };
    return near(0x30, 0x50, 0xa0) || near(0xa0, 0x30, 0x30);
}

} // namespace

const char* managerName(Manager manager) {
    switch (manager) {
    case Manager::Openbox:
        return "openbox";
    case Manager::FollowMouse:
        return "openbox, focus follows the pointer";
    case Manager::None:
        return "no window manager";
    case Manager::IceWm:
        return "icewm";
    case Manager::Fluxbox:
        return "fluxbox";
    case Manager::Jwm:
        return "jwm";
    }
    return "?";
}

QByteArray logged(const QString& log) {
    QFile file(log);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

KeysStage::KeysStage(Manager m, const QStringList& hiddenTools)
    : desktop([] {
          Desktop::Options o;
          o.windowManager = false;
          o.tray = false;
          return o;
      }()),
      manager(m) {
    if (!desktop.ok())
        error = desktop.error();
    else if (!desktop.writeCardSettings(hiddenTools))
        error = QStringLiteral("the settings could not be written");
}

bool KeysStage::start() {
    if (!error.isEmpty())
        return false;
    const QString config = desktop.configHome();
    // A picture opened from the basket (Return on its tiles, where a window manager's switcher left the keyboard)
    // opens in a program that shows no window: a viewer would take the keyboard from every row after, and the
    // plain windows have no viewer to open.
    const QString data = desktop.environment().value(QStringLiteral("XDG_DATA_HOME"));
    write(data + QStringLiteral("/applications/keys-viewer.desktop"),
          "[Desktop Entry]\nType=Application\nName=Viewer\nExec=true %f\nMimeType=image/png;\n");
    write(config + QStringLiteral("/mimeapps.list"), "[Default Applications]\nimage/png=keys-viewer.desktop\n");
    switch (manager) {
    case Manager::Openbox:
        desktop.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        break;
    case Manager::FollowMouse: {
        QFile stock(QStringLiteral("/etc/xdg/openbox/rc.xml"));
        QByteArray rc = stock.open(QIODevice::ReadOnly) ? stock.readAll() : QByteArray();
        if (!rc.contains("<followMouse>no</followMouse>")) {
            error = QStringLiteral("openbox's stock rc.xml has no followMouse to turn on");
            return false;
        }
        rc.replace("<followMouse>no</followMouse>", "<followMouse>yes</followMouse>");
        write(config + QStringLiteral("/openbox/follow.xml"), rc);
        desktop.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable"), QStringLiteral("--config-file"),
                                                  config + QStringLiteral("/openbox/follow.xml")});
        break;
    }
    case Manager::IceWm:
        // The panel below is the task list and the tray: icewm's own bar stays off.
        write(desktop.home() + QStringLiteral("/.icewm/preferences"), "ShowTaskBar=0\n");
        desktop.start(QStringLiteral("icewm"));
        break;
    case Manager::Fluxbox:
        // The panel below is the task list and the tray: fluxbox's toolbar stays off and keeps no tray of its own
        // to take the icons. Its wallpaper stays off too: a missing one is an error window over the terminals.
        write(desktop.home() + QStringLiteral("/.fluxbox/init"),
              "session.screen0.toolbar.visible: false\nsession.screen0.toolbar.tools: iconbar, clock\n"
              "session.styleOverlay: ~/.fluxbox/overlay\n");
        write(desktop.home() + QStringLiteral("/.fluxbox/overlay"), "background: none\n");
        desktop.start(QStringLiteral("fluxbox"));
        break;
    case Manager::Jwm:
        // The panel below is the task list and the tray: jwm's own tray stays off. Focus by a click, two desktops.
        write(desktop.home() + QStringLiteral("/.jwmrc"), jwmConfig);
        desktop.start(QStringLiteral("jwm"));
        break;
    case Manager::None:
        break;
    }
    if (hasManager() && !Desktop::waitUntil(
                            [&] {
                                return desktop.run(QStringLiteral("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"})
                                    .contains("window id");
                            },
                            10000, 100)) {
        error = QStringLiteral("%1 did not start").arg(QLatin1String(managerName(manager)));
        return false;
    }
    // The panel waits for a window manager before it docks anything: with none, there is no tray and no task list.
    const QString rc = desktop.folder(QStringLiteral("panel")) + QStringLiteral("/tint2rc");
    write(rc, panelConfig);
    if (hasManager()) {
        desktop.start(QStringLiteral("tint2"), {QStringLiteral("-c"), rc});
        if (!Desktop::waitUntil([&] { return desktop.selectionOwned(QStringLiteral("_NET_SYSTEM_TRAY_S0")); }, 10000)) {
            error = QStringLiteral("the panel's tray did not start");
            return false;
        }
    }
    // Created one after another, so that the window manager lists them (and the task list shows them) in order.
    for (int i = 0; i < 3; ++i) {
        logs[i] = desktop.home() + QStringLiteral("/%1.log").arg(QChar(u'a' + i));
        terminals[i] = desktop.keyLogTerminal(logs[i], QPoint(20, 40 + 250 * i), QStringLiteral("keylog%1").arg(i));
        if (!terminals[i]) {
            error = QStringLiteral("terminal %1 logged no key").arg(i);
            return false;
        }
    }
    if (!restartApp())
        return false;
    if (!hasManager())
        return true;
    icon = desktop.trayIcon();
    if (icon.isNull())
        error = QStringLiteral("no tray icon");
    return !icon.isNull();
}

bool KeysStage::restartApp() {
    if (QProcess* old = desktop.app(); old && old->state() != QProcess::NotRunning) {
        old->kill();
        old->waitForFinished(3000);
    }
    desktop.startApp();
    if (!desktop.waitForApp()) {
        error = QStringLiteral("the program did not start: ") + desktop.appStderr();
        return false;
    }
    return true;
}

quint32 KeysStage::focused() {
    int code = 0;
    const QString out = desktop.run(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")}, &code);
    return code == 0 ? out.trimmed().toUInt() : 0;
}

void KeysStage::setFocus(quint32 window) {
    xcb_connection_t* c = xcb_connect(desktop.display().toUtf8().constData(), nullptr);
    if (!xcb_connection_has_error(c)) {
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, window ? window : xcb_window_t(XCB_INPUT_FOCUS_POINTER_ROOT),
                            XCB_CURRENT_TIME);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    xcb_disconnect(c);
}

QList<QPoint> KeysStage::taskButtons() {
    const QImage screen = desktop.screenshot();
    QList<QPoint> centres;
    // Below the buttons' titles, whose letters would cut the rows up.
    const int y = screen.height() - 4;
    int start = -1;
    // The tray sits at the right end; the task list stops well before it.
    for (int x = 0; x < screen.width() - 150; ++x) {
        const bool task = taskColour(screen.pixel(x, y));
        if (task && start < 0)
            start = x;
        if (!task && start >= 0) {
            if (x - start > 40)
                centres.append(QPoint((start + x) / 2, y));
            start = -1;
        }
    }
    return centres;
}

QPoint KeysStage::terminalCentre(int index) {
    return desktop.clientGeometry(terminals[index]).center();
}

QStringList KeysStage::properties(quint32 window, quint32* transientFor) {
    QStringList specs;
    xcb_connection_t* c = xcb_connect(desktop.display().toUtf8().constData(), nullptr);
    if (transientFor)
        *transientFor = 0;
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return specs;
    }
    quint32 parent = 0, leader = 0;
    for (const char* name : {"_NET_WM_WINDOW_TYPE", "_NET_WM_STATE", "_NET_WM_DESKTOP", "_MOTIF_WM_HINTS", "WM_HINTS",
                             "WM_NORMAL_HINTS", "WM_TRANSIENT_FOR", "WM_CLIENT_LEADER"}) {
        xcb_intern_atom_reply_t* a =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t property = a ? a->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(a);
        xcb_get_property_reply_t* r = xcb_get_property_reply(
            c, xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr);
        if (r && r->format != 0 && xcb_get_property_value_length(r) > 0) {
            const QByteArray data(static_cast<const char*>(xcb_get_property_value(r)),
                                  xcb_get_property_value_length(r));
            if (QByteArray(name) == "WM_TRANSIENT_FOR") {
                parent = *reinterpret_cast<const quint32*>(data.constData());
            } else if (QByteArray(name) == "WM_CLIENT_LEADER") {
                leader = *reinterpret_cast<const quint32*>(data.constData());
            } else {
                specs.append(QStringLiteral("%1,%2,%3,%4")
                                 .arg(property)
                                 .arg(r->type)
                                 .arg(r->format)
                                 .arg(QString::fromLatin1(data.toHex())));
            }
        }
        std::free(r);
    }
    // Transient for the program's own hidden leader window (as the toolkit makes a dialog with no parent): the
    // stand-in is transient for a leader of its own.
    if (parent && parent == leader)
        specs.append(QStringLiteral("transient-for-leader"));
    else if (transientFor)
        *transientFor = parent;
    xcb_disconnect(c);
    return specs;
}

QString KeysStage::transientSpec(quint32 parent) {
    xcb_connection_t* c = xcb_connect(desktop.display().toUtf8().constData(), nullptr);
    QString spec;
    if (!xcb_connection_has_error(c))
        spec = QStringLiteral("%1,%2,32,%3")
                   .arg(XCB_ATOM_WM_TRANSIENT_FOR)
                   .arg(XCB_ATOM_WINDOW)
                   .arg(QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(&parent), 4).toHex()));
    xcb_disconnect(c);
    return spec;
}

quint32 KeysStage::rootWindow() {
    xcb_connection_t* c = xcb_connect(desktop.display().toUtf8().constData(), nullptr);
    const quint32 root = xcb_connection_has_error(c) ? 0 : xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_disconnect(c);
    return root;
}

quint32 KeysStage::openStandIn(const QRect& where, const QRect& button, const QStringList& properties,
                               QProcess** process) {
    const QString title = QStringLiteral("standin%1").arg(++standIns);
    const QString area = button.isNull() ? QStringLiteral("-")
                                         : QStringLiteral("%1,%2,%3,%4")
                                               .arg(button.left())
                                               .arg(button.top())
                                               .arg(button.right())
                                               .arg(button.bottom());
    QProcess* p = desktop.start(QStringLiteral(STAND_IN_BIN),
                                QStringList{title, QString::number(where.x()), QString::number(where.y()),
                                            QString::number(where.width()), QString::number(where.height()), area} +
                                    properties);
    if (process)
        *process = p;
    quint32 id = 0;
    Desktop::waitUntil([&] { return (id = desktop.visibleWindow(u'^' + title + u'$')) != 0; }, 8000, 100);
    if (!id)
        return 0;
    if (hasManager())
        Desktop::waitUntil([&] { return desktop.activeWindow() == id; }, 3000);
    Desktop::pause(200);
    return id;
}

void KeysStage::clearLogs() {
    for (const QString& log : logs)
        QFile(log).open(QIODevice::WriteOnly | QIODevice::Truncate);
}

QPoint CardUnderReview::at(int x, int y) const {
    const double scale = picture.width() / 900.0;
    return QPoint(picture.left() + int(x * scale), picture.top() + int(y * scale));
}

void openCardUnderReview(Desktop& desktop, CardUnderReview& review) {
    ASSERT_TRUE(desktop.ok()) << desktop.error().toStdString();
    ASSERT_TRUE(desktop.writeCardSettings({"annotate", "crop", "resize", "rotate", "text", "pin", "translate", "cutout",
                                           "scroll", "compress", "library"}));
    desktop.startApp();
    ASSERT_TRUE(desktop.waitForApp()) << desktop.appStderr().toStdString();
    review.log = desktop.home() + QStringLiteral("/keys.log");
    review.terminal = desktop.keyLogTerminal(review.log);
    ASSERT_NE(review.terminal, 0u);

    const QString source = desktop.home() + QStringLiteral("/Notes.png");
    ASSERT_TRUE(Desktop::writeSecretsPicture(source));
    review.card = desktop.openCard(source);
    ASSERT_NE(review.card, 0u);
    desktop.waitToast(false, 4000);
    EXPECT_EQ(desktop.activeWindow(), review.terminal) << "the card leaves the keyboard where it was";
    desktop.click(desktop.pillButton(review.card, 2, true, 0));
    review.redacted = desktop.shotsFolder() + QStringLiteral("/Notes redacted.png");
    ASSERT_TRUE(Desktop::waitUntil([&] { return QFileInfo::exists(review.redacted); }, 60000, 200));
    Desktop::pause(500);
    ASSERT_LT(qGray(QImage(review.redacted).pixel(400, 50)), 60) << "the address is covered";

    // A double click on the picture enlarges the card for review.
    const QRect small = desktop.clientGeometry(review.card);
    const QRect picture = Desktop::pictureOnScreen(desktop.screenshot(), small);
    desktop.click(QPoint(picture.center().x(), picture.bottom() - 10), 2);
    ASSERT_TRUE(Desktop::waitUntil([&] { return desktop.clientGeometry(review.card).width() > small.width(); }, 3000));
    Desktop::pause(400);
    review.large = desktop.clientGeometry(review.card);
    review.picture = Desktop::pictureOnScreen(desktop.screenshot(), review.large);
}
