#include "image_store/share_path.h"

#include "build_config.h"
#include "image_store/store_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace image_store {

namespace {
QString fromView(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
} // namespace

ShareMap::ShareMap(QString server, QString mountPoint, bool mounted)
    : m_server(std::move(server))
    , m_mountPoint(std::move(mountPoint))
    , m_mounted(mounted)
{
    while (m_mountPoint.size() > 1 && m_mountPoint.endsWith(QLatin1Char('/')))
        m_mountPoint.chop(1);
}

ShareMap ShareMap::fromBuild()
{
    // A bench whose share is mounted somewhere else says so at run time.
    const QString mounted = qEnvironmentVariable("IMAGEMAKER_MOUNT_POINT");
    return ShareMap(fromView(buildconfig::FileServer),
        mounted.isEmpty() ? fromView(buildconfig::MountPoint) : mounted, buildconfig::ShareMounted);
}

namespace {

// Whether a file system is mounted at or below the mount point that holds
// `folder`: the share's own mount, not a copy of its folders on the
// bench's disk. An automount counts; reaching the folder then mounts it.
bool onMountedShare(const QString& mountPoint, const QString& folder)
{
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly))
        return false;
    const QString root = QFileInfo(mountPoint).canonicalFilePath();
    if (root.isEmpty())
        return false;
    const QString inside
        = QDir::cleanPath(folder).replace(QDir::cleanPath(mountPoint), root) + QLatin1Char('/');
    for (const QByteArray& line : mounts.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 2)
            continue;
        // Blanks in a mount point are written as \040.
        const QString mounted = QFile::decodeName(QByteArray(fields[1]).replace("\\040", " "));
        if ((mounted == root || mounted.startsWith(root + QLatin1Char('/')))
            && inside.startsWith(mounted + QLatin1Char('/')))
            return true;
    }
    return false;
}

} // namespace

void ShareMap::checkReachable(const QString& localFolder) const
{
    if (m_mounted && !onMountedShare(m_mountPoint, localFolder))
        throw ShareUnreachable(
            localFolder.toStdString() + " is on no share mounted at " + m_mountPoint.toStdString());
    const QFileInfo folder(localFolder);
    if (!folder.isDir())
        throw ShareUnreachable(localFolder.toStdString() + " is not there");
    if (::access(QFile::encodeName(localFolder).constData(), W_OK) != 0)
        throw ShareUnreachable(localFolder.toStdString() + " is not writable: " + std::strerror(errno));
}

QString ShareMap::root() const
{
    return QLatin1String("\\\\") + m_server + QLatin1Char('\\');
}

QString ShareMap::toLocal(const QString& sharePath) const
{
    const QString prefix = root();
    // Server names are case-insensitive, as on the platform the paths come from.
    if (!sharePath.startsWith(prefix, Qt::CaseInsensitive))
        throw SharePathError(
            "Not a path on the file server \\\\" + m_server.toStdString() + ": " + sharePath.toStdString());
    const QString rest = sharePath.mid(prefix.size());
    const QStringList parts = rest.split(QLatin1Char('\\'));
    QString local = m_mountPoint;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString& part = parts[i];
        const bool trailing = (i == parts.size() - 1);
        if (part.isEmpty() && trailing && i > 0)
            break;
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..")
            || part.contains(QLatin1Char('/')) || part.contains(QChar(0)))
            throw SharePathError("Share path refused (component \"" + part.toStdString()
                + "\" is not allowed): " + sharePath.toStdString());
        local += QLatin1Char('/') + part;
    }
    return local;
}

} // namespace image_store
