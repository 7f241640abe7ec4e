#include "Display.h"

#include <QDir>
#include <QLibraryInfo>
#include <QStringList>

#include <xcb/xcb.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

namespace brimtone::host {
namespace {

std::string env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool xReachable(const std::string& display)
{
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    const bool reached = connection != nullptr && xcb_connection_has_error(connection) == 0;
    if (connection != nullptr) xcb_disconnect(connection);
    return reached;
}

bool waylandReachable(const std::string& display)
{
    std::string path = display;
    if (path.empty()) return false;
    if (path[0] != '/') {
        const std::string runtime = env("XDG_RUNTIME_DIR");
        if (runtime.empty()) return false;
        path = runtime + "/" + path;
    }
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool reached = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return reached;
}

// Whether Qt has its Wayland platform; without it (Debian's qt6-wayland) Qt
// falls back to X11 and aborts when there is none.
bool qtHasWayland()
{
    QStringList folders = QString::fromLocal8Bit(qgetenv("QT_PLUGIN_PATH")).split(':', Qt::SkipEmptyParts);
    folders << QLibraryInfo::path(QLibraryInfo::PluginsPath);
    for (const QString& folder : folders)
        if (!QDir(folder + "/platforms").entryList({"libqwayland*.so"}, QDir::Files).isEmpty()) return true;
    return false;
}

// The platforms Qt tries, in order: QT_QPA_PLATFORM ("a;b", each with
// optional ":arguments"), else Wayland or X11 as the session offers.
std::vector<std::string> platforms()
{
    std::vector<std::string> names;
    std::istringstream list(env("QT_QPA_PLATFORM"));
    for (std::string entry; std::getline(list, entry, ';');)
        if (!entry.empty()) names.push_back(entry.substr(0, entry.find(':')));
    if (names.empty()) {
        if (!env("WAYLAND_DISPLAY").empty()) names.push_back("wayland");
        if (!env("DISPLAY").empty()) names.push_back("xcb");
    }
    return names;
}

}  // namespace

std::string displayProblem()
{
    const std::vector<std::string> names = platforms();
    if (names.empty()) return "no display: DISPLAY and WAYLAND_DISPLAY are not set";
    std::string problem;
    for (const std::string& name : names) {
        if (name == "offscreen" || name == "minimal" || name == "minimalegl") {
            problem = "no display: Qt's platform '" + name + "' shows no windows";
        } else if (name == "xcb") {
            if (xReachable(env("DISPLAY"))) return {};
            problem = "cannot reach the X display '" + env("DISPLAY") + "' (DISPLAY)";
        } else if (name == "wayland" || name == "wayland-egl") {
            if (!waylandReachable(env("WAYLAND_DISPLAY")))
                problem = "cannot reach the Wayland display '" + env("WAYLAND_DISPLAY") + "' (WAYLAND_DISPLAY)";
            else if (qtHasWayland())
                return {};
            else
                problem = "Qt's Wayland support is not installed (Debian package qt6-wayland), and there is no X display";
        } else {
            return {};  // a framebuffer or remote platform: Qt reports its own failures
        }
    }
    return problem;
}

void useOffscreenUnlessDisplayReachable()
{
    const std::vector<std::string> names = platforms();
    const bool offscreen = !names.empty() && names[0] == "offscreen";
    if (!offscreen && !displayProblem().empty()) setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

}  // namespace brimtone::host
