#include "image_store/share_path.h"

#include "build_config.h"

#include <QStringList>

namespace image_store {

namespace {
QString fromView(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
} // namespace

ShareMap::ShareMap(QString server, QString mountPoint)
    : m_server(std::move(server))
    , m_mountPoint(std::move(mountPoint))
{
    while (m_mountPoint.size() > 1 && m_mountPoint.endsWith(QLatin1Char('/')))
        m_mountPoint.chop(1);
}

ShareMap ShareMap::fromBuild()
{
    // A bench whose share is mounted somewhere else says so at run time.
    const QString mounted = qEnvironmentVariable("IMAGEMAKER_MOUNT_POINT");
    return ShareMap(
        fromView(buildconfig::FileServer), mounted.isEmpty() ? fromView(buildconfig::MountPoint) : mounted);
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
