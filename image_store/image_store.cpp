#include "image_store.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <sys/stat.h>

namespace image_store {

QString temporaryNameOf(const QString& localPath)
{
    const qsizetype slash = localPath.lastIndexOf(QLatin1Char('/'));
    return localPath.left(slash + 1) + QLatin1Char('.') + localPath.mid(slash + 1) + QStringLiteral(".part");
}

ImageStore::ImageStore(const ShareMap& share, ProcessLauncher& launcher)
    : m_share(share)
    , m_launcher(launcher)
{
}

QString ImageStore::softwareDirectory() const
{
    return m_share.root() + QStringLiteral("virtual_directories\\IMG_SOFTWARE\\QORVEL\\Lens_Desk\\");
}

QString ImageStore::sampleImageDirectory() const
{
    return m_share.root() + QStringLiteral("virtual_directories\\IMG_SAMPLES\\QORVEL\\");
}

QString ImageStore::imagePath(
    const QString& viewPrefix, const QString& sample, const QString& extension) const
{
    return sampleImageDirectory() + viewPrefix + sample + QStringLiteral("_01") + extension;
}

QString ImageStore::buttonFacePath(const QString& view) const
{
    return softwareDirectory() + QStringLiteral("bt_vw_") + view + JpgExtension;
}

QString ImageStore::converterCommand(const QString& viewPrefix, const QString& sample) const
{
    return sampleImageDirectory() + QStringLiteral("imgconv32\\imgcon32.exe ")
        + imagePath(viewPrefix, sample, BmpExtension) + QStringLiteral(" -j --o ")
        + imagePath(viewPrefix, sample, JpgExtension);
}

void ImageStore::startConversion(const QString& command, int windowStyle, ProcessLauncher::Finished finished)
{
    m_launcher.start(command, windowStyle, std::move(finished));
}

QImage ImageStore::loadImage(const QString& path, const QSize& scaledTo) const
{
    const QString local = m_share.toLocal(path);
    QFile file(local);
    if (!file.open(QIODevice::ReadOnly))
        throw StoreError("Cannot load " + local.toStdString() + ": " + file.errorString().toStdString());
    // One read: the share is slow to ask twice.
    QByteArray data = file.readAll();
    // A JPEG cut short still decodes, grey where it ends; it must end with
    // its end-of-image marker to count as a picture.
    if (local.endsWith(JpgExtension) && !data.endsWith("\xFF\xD9"))
        throw StoreError("Cannot load " + local.toStdString() + ": the JPEG is cut short");
    QBuffer buffer(&data);
    QImageReader reader(&buffer);
    if (!scaledTo.isEmpty())
        reader.setScaledSize(scaledTo);
    QImage image = reader.read();
    if (image.isNull())
        throw StoreError("Cannot load " + local.toStdString() + ": " + reader.errorString().toStdString());
    return image;
}

bool ImageStore::fileExists(const QString& path) const
{
    return QFileInfo::exists(m_share.toLocal(path));
}

FileStamp ImageStore::stamp(const QString& path) const
{
    const QByteArray local = QFile::encodeName(m_share.toLocal(path));
    struct stat info { };
    if (::stat(local.constData(), &info) != 0)
        return {};
    return FileStamp { true, static_cast<quint64>(info.st_ino),
        static_cast<qint64>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
        static_cast<qint64>(info.st_size) };
}

void ImageStore::deleteJpegs(const QString& sample)
{
    deleteIfExists(imagePath(ColorPrefix, sample, JpgExtension));
    deleteIfExists(imagePath(BottomPrefix, sample, JpgExtension));
}

void ImageStore::deleteIfExists(const QString& path)
{
    const QString local = m_share.toLocal(path);
    // Its converter, if still at work, then finds its file gone and writes nothing.
    QFile::remove(temporaryNameOf(local));
    const QFileInfo info(local);
    if (!info.exists())
        return;
    // The permission bits stand for the read-only attribute; they are checked
    // here because root could delete the file regardless.
    if (!(info.permissions() & QFile::WriteOwner))
        throw StoreError("Cannot delete " + path.toStdString() + ": the file is read-only");
    QFile file(local);
    if (!file.remove())
        throw StoreError("Cannot delete " + path.toStdString() + ": " + file.errorString().toStdString());
}

} // namespace image_store
