#pragma once

#include <QString>

#include <stdexcept>

namespace image_store {

class SharePathError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Turns the system's share paths ("\\server\virtual_directories\...") into
// local paths under the folder where that server's shares are mounted.
// Nothing outside this class knows that share paths are not native paths.
class ShareMap {
public:
    // `mounted`: the mount point must hold a mounted file system.
    ShareMap(QString server, QString mountPoint, bool mounted = false);

    // The map of this build: the configured server and mount point, or the
    // mount point that IMAGEMAKER_MOUNT_POINT names.
    static ShareMap fromBuild();

    // "\\" + server + "\".
    QString root() const;

    // Throws SharePathError for a path on another server or one whose
    // components could leave the share (empty, ".", "..", "/" inside).
    QString toLocal(const QString& sharePath) const;

    static bool isSharePath(const QString& text) { return text.startsWith(QLatin1String("\\\\")); }

    // Throws ShareUnreachable unless `localFolder` (a folder of the share)
    // is there to write in, on the mounted share where one must be.
    void checkReachable(const QString& localFolder) const;

private:
    QString m_server;
    QString m_mountPoint;
    bool m_mounted = false;
};

} // namespace image_store
