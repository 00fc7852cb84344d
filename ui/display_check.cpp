#include "ui/display_check.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QPluginLoader>
#include <QStringList>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace trelvo::ui {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The folders Qt looks for platform plugins in.
QStringList platform_plugin_folders() {
    QStringList folders;
    const QString own = qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH");
    if (!own.isEmpty()) folders << own;
    QStringList plugin_paths =
        qEnvironmentVariable("QT_PLUGIN_PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    plugin_paths << QLibraryInfo::path(QLibraryInfo::PluginsPath);
    for (const QString& path : plugin_paths)
        folders << path + QStringLiteral("/platforms");
    return folders;
}

// Whether a platform plugin for `key` is installed and loads with all it needs.
bool platform_plugin_loads(const QString& key) {
    for (const QString& folder : platform_plugin_folders()) {
        const QDir dir(folder);
        for (const QString& file : dir.entryList(QDir::Files)) {
            QPluginLoader plugin(dir.filePath(file));
            const QJsonObject meta = plugin.metaData();
            if (!meta.value(QStringLiteral("IID"))
                     .toString()
                     .startsWith(QLatin1String("org.qt-project.Qt.QPA.QPlatformIntegration")))
                continue;
            const QJsonArray keys = meta.value(QStringLiteral("MetaData"))
                                        .toObject()
                                        .value(QStringLiteral("Keys"))
                                        .toArray();
            for (const QJsonValue& plugin_key : keys) {
                if (plugin_key.toString().compare(key, Qt::CaseInsensitive) == 0 && plugin.load())
                    return true;
            }
        }
    }
    return false;
}

// An X connection to DISPLAY through libxcb, which the xcb platform loads anyway: the
// handshake includes the authorisation, so a server that refuses us counts as none. The
// connection is kept open until Qt has its own: a server that resets when its last client
// leaves (Xvfb does) would otherwise refuse Qt for a moment.
std::shared_ptr<void> x_display_connection() {
    void* xcb = ::dlopen("libxcb.so.1", RTLD_LAZY | RTLD_LOCAL);
    if (xcb == nullptr) return nullptr;
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
    auto has_error = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
    auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
    if (connect == nullptr || has_error == nullptr || disconnect == nullptr) {
        ::dlclose(xcb);
        return nullptr;
    }
    void* connection = connect(nullptr, nullptr);
    std::shared_ptr<void> held(connection, [xcb, disconnect](void* c) {
        disconnect(c);
        ::dlclose(xcb);
    });
    if (connection == nullptr || has_error(connection) != 0) return nullptr;
    return held;
}

// The compositor's socket: WAYLAND_DISPLAY, a path or a name in XDG_RUNTIME_DIR. A socket
// handed down in WAYLAND_SOCKET is taken as it is.
bool wayland_display_answers() {
    if (!environment("WAYLAND_SOCKET").empty()) return true;
    std::string path = environment("WAYLAND_DISPLAY");
    if (path.empty()) return false;
    if (path.front() != '/') {
        const std::string runtime = environment("XDG_RUNTIME_DIR");
        if (runtime.empty()) return false;
        path = runtime + "/" + path;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool answers = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return answers;
}

// `entry` is a platform name with its options after a colon ("vnc:size=800x600"); `held`
// gets a display connection to keep while Qt starts.
bool platform_starts(const std::string& entry, std::shared_ptr<void>& held) {
    const std::string name = entry.substr(0, entry.find(':'));
    if (!platform_plugin_loads(QString::fromStdString(name))) return false;
    if (name == "xcb") {
        held = x_display_connection();
        return held != nullptr;
    }
    if (name.rfind("wayland", 0) == 0) return wayland_display_answers();
    return true;
}

}  // namespace

WindowPlatform window_platform() {
    std::vector<std::string> candidates;
    std::string where;
    const std::string chosen = environment("QT_QPA_PLATFORM");
    if (!chosen.empty()) {
        for (size_t start = 0; start <= chosen.size();) {
            size_t end = std::min(chosen.find(';', start), chosen.size());
            if (end > start) candidates.push_back(chosen.substr(start, end - start));
            start = end + 1;
        }
        where = "platform " + chosen;
    } else {
        const std::string x11 = environment("DISPLAY");
        const std::string wayland = environment("WAYLAND_DISPLAY");
        if (!x11.empty()) candidates.push_back("xcb");
        if (!wayland.empty()) {
            // A Wayland session gets its own display first.
            auto at = environment("XDG_SESSION_TYPE") == "wayland" ? candidates.begin()
                                                                   : candidates.end();
            candidates.insert(at, "wayland");
        }
        where = !x11.empty() ? "display " + x11 : "Wayland display " + wayland;
    }
    WindowPlatform platform;
    for (const std::string& candidate : candidates) {
        if (platform_starts(candidate, platform.held)) {
            platform.name = candidate;
            return platform;
        }
    }
    platform.problem = "cannot open a window on the " + where + "; running in the terminal";
    return platform;
}

}  // namespace trelvo::ui
