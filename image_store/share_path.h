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
    ShareMap(QString server, QString mountPoint);

    // The map of this build: the configured server and mount point, or the
    // mount point that IMAGEMAKER_MOUNT_POINT names.
    static ShareMap fromBuild();

    // "\\" + server + "\".
    QString root() const;

    // Throws SharePathError for a path on another server or one whose
    // components could leave the share (empty, ".", "..", "/" inside).
    QString toLocal(const QString& sharePath) const;

    static bool isSharePath(const QString& text) { return text.startsWith(QLatin1String("\\\\")); }

private:
    QString m_server;
    QString m_mountPoint;
};

} // namespace image_store
