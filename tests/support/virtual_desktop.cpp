#include "tests/support/virtual_desktop.h"

#include "tests/support/child_process.h"
#include "tests/support/wait_until.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <csignal>
#include <xcb/xcb.h>

namespace vistrale::test {
namespace {

constexpr int READY_TIMEOUT_MS = 15000;

xcb_connection_t* conn(void* x)
{
    return static_cast<xcb_connection_t*>(x);
}

xcb_window_t rootOf(xcb_connection_t* c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

xcb_atom_t internAtom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply
        = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<quint16>(strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return atom;
}

// The property's bytes; empty when it is missing.
QByteArray propertyBytes(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property)
{
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1u << 16), nullptr);
    QByteArray bytes;
    if (reply && reply->type != XCB_ATOM_NONE)
        bytes
            = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
    free(reply);
    return bytes;
}

bool viewable(xcb_connection_t* c, xcb_window_t window)
{
    xcb_get_window_attributes_reply_t* reply
        = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
    const bool result = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    free(reply);
    return result;
}

} // namespace

VirtualDesktop::VirtualDesktop(VirtualDesktopOptions options)
    : options(options)
{
}

VirtualDesktop::~VirtualDesktop()
{
    // Clients first, all at once, then the daemons in reverse start order.
    for (QProcess* process : clients) {
        if (process->state() != QProcess::NotRunning)
            ::kill(static_cast<pid_t>(process->processId()), SIGTERM);
    }
    for (QProcess* process : clients)
        stopProcess(process);
    clients.clear();
    if (x)
        xcb_disconnect(conn(x));
    x = nullptr;
    for (auto it = daemons.rbegin(); it != daemons.rend(); ++it)
        stopProcess(*it);
    daemons.clear();
}

QProcessEnvironment VirtualDesktop::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString dir = home.path();
    env.insert("HOME", dir);
    env.insert("XDG_CONFIG_HOME", dir);
    env.insert("XDG_RUNTIME_DIR", dir);
    env.insert("XDG_CACHE_HOME", dir + "/.cache");
    env.insert("XDG_DATA_HOME", dir + "/.local/share");
    env.insert("XDG_SESSION_TYPE", "x11");
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.remove("WAYLAND_DISPLAY");
    env.remove("XAUTHORITY");
    if (!displayName.isEmpty())
        env.insert("DISPLAY", displayName);
    if (!busAddress.isEmpty())
        env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
    return env;
}

QProcess* VirtualDesktop::launch(const QString& program, const QStringList& arguments, bool client)
{
    // A daemon's standard output stays readable: Xvfb and the bus print where to reach them.
    return startLogged(program, arguments, environment(), home.path(), !client);
}

bool VirtualDesktop::start(QString* error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!home.isValid())
        return fail("cannot create a temporary HOME: " + home.errorString());
    QFile::setPermissions(home.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir(home.path()).mkpath(".cache");
    QDir(home.path()).mkpath(".local/share");

    if (!startBus(error) || !startServer(error))
        return false;
    x = xcb_connect(displayName.toLocal8Bit().constData(), nullptr);
    if (xcb_connection_has_error(conn(x)))
        return fail("cannot connect to the new X server " + displayName);
    if (options.windowManager && !startWindowManager(error))
        return false;
    if (options.trayHost && !startTrayHost(error))
        return false;
    return true;
}

bool VirtualDesktop::startBus(QString* error)
{
    QProcess* bus = startSessionBus(home.filePath("bus"), environment(), home.path(), &busAddress, error);
    if (bus)
        daemons.push_back(bus);
    return bus;
}

bool VirtualDesktop::startServer(QString* error)
{
    if (QStandardPaths::findExecutable("Xvfb").isEmpty()) {
        *error = "Xvfb not installed";
        return false;
    }
    const QString screen = QString("%1x%2x24").arg(options.size.width()).arg(options.size.height());
    // Xvfb picks a free display and writes its number to standard output once clients
    // can connect.
    QProcess* server = launch("Xvfb",
        QStringList{"-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}
            + options.serverArguments,
        false);
    if (!server) {
        *error = "Xvfb did not start";
        return false;
    }
    daemons.push_back(server);
    bool ok = false;
    const int number = firstLine(server, READY_TIMEOUT_MS).toInt(&ok);
    if (!ok) {
        *error = "Xvfb reported no display number (see " + home.path() + ")";
        return false;
    }
    displayName = ":" + QString::number(number);
    return true;
}

bool VirtualDesktop::startWindowManager(QString* error)
{
    if (QStandardPaths::findExecutable("openbox").isEmpty()) {
        *error = "openbox not installed";
        return false;
    }
    const QString rc = QStringLiteral(VISTRALE_SOURCE_DIR) + "/tests/support/openbox-rc.xml";
    if (!QFile::exists(rc)) {
        *error = "openbox configuration missing: " + rc;
        return false;
    }
    QProcess* wm = launch("openbox", {"--config-file", rc}, false);
    if (!wm) {
        *error = "openbox did not start";
        return false;
    }
    daemons.push_back(wm);
    // Openbox announces itself on the root, then publishes the desktops.
    if (!waitForProperty("_NET_SUPPORTING_WM_CHECK", READY_TIMEOUT_MS)
        || !waitForProperty("_NET_CURRENT_DESKTOP", READY_TIMEOUT_MS)) {
        *error = "openbox did not take over the display";
        return false;
    }
    if (!waitForManagement(READY_TIMEOUT_MS)) {
        *error = "openbox does not manage windows";
        return false;
    }
    return true;
}

bool VirtualDesktop::waitForManagement(int timeoutMs)
{
    // Openbox publishes its properties before it handles map requests, and can lose
    // one that arrives meanwhile: ready once it has managed a window of ours, which is
    // mapped again until it has.
    xcb_connection_t* c = conn(x);
    const xcb_window_t root = rootOf(c);
    const xcb_atom_t clientList = internAtom(c, "_NET_CLIENT_LIST");
    const xcb_window_t probe = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
        XCB_COPY_FROM_PARENT, 0, nullptr);
    auto listed = [&] {
        const QByteArray ids = propertyBytes(c, root, clientList);
        for (int i = 0; i + 4 <= ids.size(); i += 4) {
            if (*reinterpret_cast<const quint32*>(ids.constData() + i) == probe)
                return true;
        }
        return false;
    };
    QElapsedTimer sinceMap;
    int maps = 0;
    const bool managed = waitUntil(
        [&] {
            if (maps == 0 || sinceMap.elapsed() > 300) {
                xcb_map_window(c, probe);
                xcb_flush(c);
                sinceMap.start();
                ++maps;
            }
            return listed();
        },
        timeoutMs);
    xcb_destroy_window(c, probe);
    xcb_flush(c);
    return managed && waitUntil([&] { return !listed(); }, timeoutMs);
}

bool VirtualDesktop::startTrayHost(QString* error)
{
    if (QStandardPaths::findExecutable("trayer").isEmpty()) {
        *error = "trayer not installed";
        return false;
    }
    QProcess* tray = launch("trayer",
        {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24", "--SetDockType", "true",
            "--SetPartialStrut", "false", "--transparent", "false"},
        false);
    if (!tray) {
        *error = "trayer did not start";
        return false;
    }
    daemons.push_back(tray);
    if (!waitForSelectionOwner("_NET_SYSTEM_TRAY_S0", READY_TIMEOUT_MS)) {
        *error = "trayer did not take the system tray selection";
        return false;
    }
    return true;
}

bool VirtualDesktop::waitForProperty(const char* atomName, int timeoutMs)
{
    xcb_connection_t* c = conn(x);
    const xcb_atom_t atom = internAtom(c, atomName);
    return waitUntil([&] { return !propertyBytes(c, rootOf(c), atom).isEmpty(); }, timeoutMs);
}

bool VirtualDesktop::waitForSelectionOwner(const char* selection, int timeoutMs)
{
    xcb_connection_t* c = conn(x);
    const xcb_atom_t atom = internAtom(c, selection);
    return waitUntil(
        [&] {
            xcb_get_selection_owner_reply_t* reply
                = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom), nullptr);
            const bool owned = reply && reply->owner != XCB_WINDOW_NONE;
            free(reply);
            return owned;
        },
        timeoutMs);
}

std::optional<quint32> VirtualDesktop::findWindow(const QString& text, QStringList* seen)
{
    xcb_connection_t* c = conn(x);
    const xcb_window_t root = rootOf(c);
    // Managed windows first, then the root's children (unmanaged and override-redirect).
    QList<xcb_window_t> candidates;
    const QByteArray managed = propertyBytes(c, root, internAtom(c, "_NET_CLIENT_LIST"));
    for (int i = 0; i + 4 <= managed.size(); i += 4)
        candidates.append(*reinterpret_cast<const quint32*>(managed.constData() + i));
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
    if (tree) {
        const xcb_window_t* children = xcb_query_tree_children(tree);
        candidates.append(QList<xcb_window_t>(children, children + xcb_query_tree_children_length(tree)));
    }
    free(tree);
    const xcb_atom_t netWmName = internAtom(c, "_NET_WM_NAME");
    for (xcb_window_t window : candidates) {
        QByteArray wmClass = propertyBytes(c, window, XCB_ATOM_WM_CLASS);
        wmClass.replace('\0', ' ');
        const QString names = QString::fromLatin1(wmClass) + '\n'
            + QString::fromLatin1(propertyBytes(c, window, XCB_ATOM_WM_NAME)) + '\n'
            + QString::fromUtf8(propertyBytes(c, window, netWmName));
        if (names.contains(text) && viewable(c, window))
            return window;
        if (seen)
            seen->append(QString("0x%1 %2%3")
                             .arg(window, 0, 16)
                             .arg(QString(names).replace('\n', '|'))
                             .arg(viewable(c, window) ? "" : " (unmapped)"));
    }
    return std::nullopt;
}

std::optional<quint32> VirtualDesktop::waitForWindow(const QString& text, int timeoutMs)
{
    if (!x)
        return std::nullopt;
    std::optional<quint32> found;
    waitUntil(
        [&] {
            found = findWindow(text, nullptr);
            return found.has_value();
        },
        timeoutMs);
    if (!found) {
        // Says what was there instead, for the test's log.
        QStringList seen;
        findWindow(text, &seen);
        qWarning("no window matching \"%s\" on %s; windows: %s", qPrintable(text), qPrintable(displayName),
            qPrintable(seen.join("; ")));
    }
    return found;
}

qint64 VirtualDesktop::startClient(const QString& program, const QStringList& arguments)
{
    QProcess* process = launch(program, arguments, true);
    if (!process)
        return -1;
    clients.push_back(process);
    return process->processId();
}

void VirtualDesktop::stopClient(qint64 pid)
{
    for (auto it = clients.begin(); it != clients.end(); ++it) {
        if ((*it)->processId() == pid) {
            stopProcess(*it);
            clients.erase(it);
            return;
        }
    }
}

int VirtualDesktop::run(const QString& program, const QStringList& arguments, QString* standardOutput, int timeoutMs)
{
    return runProgram(program, arguments, environment(), standardOutput, timeoutMs);
}

bool VirtualDesktop::splitIntoMonitors(const QList<QRect>& monitors)
{
    if (monitors.isEmpty())
        return false;
    // The first monitor takes the place of the server's output; the others stand alone.
    QString listing;
    if (run("xrandr", {"--query"}, &listing) != 0)
        return false;
    QString output;
    for (const QString& line : listing.split('\n')) {
        if (line.contains(" connected")) {
            output = line.section(' ', 0, 0);
            break;
        }
    }
    if (output.isEmpty())
        return false;
    for (qsizetype i = 0; i < monitors.size(); ++i) {
        const QRect& m = monitors[i];
        // Physical size at 96 dots per inch.
        const QString geometry = QString("%1/%2x%3/%4+%5+%6")
                                     .arg(m.width())
                                     .arg(m.width() * 254 / 960)
                                     .arg(m.height())
                                     .arg(m.height() * 254 / 960)
                                     .arg(m.x())
                                     .arg(m.y());
        if (run("xrandr", {"--setmonitor", QString("VD-%1").arg(i), geometry, i == 0 ? output : "none"}) != 0)
            return false;
    }
    QString listed;
    if (run("xrandr", {"--listmonitors"}, &listed) != 0)
        return false;
    return listed.startsWith(QString("Monitors: %1").arg(monitors.size()));
}

QRect VirtualDesktop::frameOf(quint32 window)
{
    QString info;
    run("xwininfo", {"-id", QString::number(window)}, &info);
    QString extents;
    run("xprop", {"-id", QString::number(window), "_NET_FRAME_EXTENTS"}, &extents);
    auto number = [&](const char* label) {
        return QRegularExpression(QString(label) + R"(:\s+(-?\d+))").match(info).captured(1).toInt();
    };
    const QRegularExpressionMatch e = QRegularExpression(R"((\d+), (\d+), (\d+), (\d+))").match(extents);
    const int left = e.captured(1).toInt(), right = e.captured(2).toInt(), top = e.captured(3).toInt(),
              bottom = e.captured(4).toInt();
    return QRect(number("Absolute upper-left X") - left, number("Absolute upper-left Y") - top,
        number("Width") + left + right, number("Height") + top + bottom);
}

bool VirtualDesktop::askToClose(quint32 window)
{
    xcb_connection_t* c = conn(x);
    if (!c)
        return false;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = internAtom(c, "_NET_CLOSE_WINDOW");
    event.data.data32[0] = XCB_CURRENT_TIME;
    event.data.data32[1] = 2; // from a pager
    xcb_send_event(c, 0, rootOf(c), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char*>(&event));
    return xcb_flush(c) > 0;
}

} // namespace vistrale::test
