#include "image_store/image_store.h"

#include "image_store/temporary_name.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <memory>

namespace image_store {

namespace {

// These run on the share worker, with copies of what they need.
QImage readImage(const QString& local, const QSize& scaledTo)
{
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

void deleteIfExists(const QString& local)
{
    // Its converter, if still at work, then finds its file gone and writes nothing.
    QFile::remove(QFile::decodeName(
        QByteArray::fromStdString(temporaryNameOf(QFile::encodeName(local).toStdString()))));
    const QFileInfo info(local);
    if (!info.exists())
        return;
    // A file nobody may write is kept, as the file server keeps it for an
    // operator; checked here because root could delete it regardless.
    if (!(info.permissions() & QFile::WriteOwner))
        throw StoreError("Cannot delete " + local.toStdString() + ": the file is read-only");
    QFile file(local);
    if (!file.remove())
        throw StoreError("Cannot delete " + local.toStdString() + ": " + file.errorString().toStdString());
}

} // namespace

ImageStore::ImageStore(const ShareMap& share, ProcessLauncher& launcher, ShareWorker& worker)
    : m_share(share)
    , m_launcher(launcher)
    , m_worker(worker)
    , m_stills(share, worker)
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

QString ImageStore::converterProgram() const
{
    return sampleImageDirectory() + QStringLiteral("imgconv32\\imgcon32.exe");
}

QString ImageStore::converterCommand(const QString& viewPrefix, const QString& sample) const
{
    return converterProgram() + QLatin1Char(' ') + imagePath(viewPrefix, sample, BmpExtension)
        + QStringLiteral(" -j --o ") + imagePath(viewPrefix, sample, JpgExtension);
}

void ImageStore::beginTake(const QString& sample)
{
    m_stills.beginTake(sampleImageDirectory() + QLatin1Char('.') + sample + QStringLiteral(".claim"), sample);
}

void ImageStore::startConversion(
    const QString& command, int windowStyle, ProcessLauncher::Finished finished, ShareWorker::Done launched)
{
    const auto notStarted = [finished, launched](std::exception_ptr error) {
        if (launched)
            launched(error);
        else
            finished(ProcessEnd { false, 0, whatOf(error) });
    };
    ProcessLauncher::Prepared prepared;
    try {
        prepared = m_launcher.prepare(command, windowStyle);
    } catch (...) {
        m_worker.tellLater(notStarted, std::current_exception());
        return;
    }
    // The bitmap it converts, whose size sets how long it may take.
    const QString bitmap = command.section(QLatin1Char(' '), 1, 1, QString::SectionSkipEmpty);
    const QString localBitmap = ShareMap::isSharePath(bitmap) ? m_share.toLocal(bitmap) : QString();
    // Starting it reads the program from the share, which may hang.
    auto spawned = std::make_shared<Spawned>();
    m_worker.submit(
        [prepared, spawned, localBitmap, floor = m_limitFloor] {
            const qint64 bytes = localBitmap.isEmpty() ? 0 : QFileInfo(localBitmap).size();
            *spawned = prepared(conversionLimit(bytes, floor));
        },
        [this, spawned, finished, launched, notStarted](std::exception_ptr error) {
            if (error) {
                notStarted(error);
                return;
            }
            m_launcher.watch(*spawned, finished);
            if (launched)
                launched(nullptr);
        });
}

std::chrono::milliseconds ImageStore::conversionLimit(qint64 bitmapBytes, std::chrono::milliseconds floor)
{
    constexpr qint64 FullHdBitmapBytes = 54 + 1920LL * 1080 * 3;
    constexpr qint64 FullHdLimitMs = 30000;
    return std::max(floor, std::chrono::milliseconds(FullHdLimitMs * bitmapBytes / FullHdBitmapBytes));
}

namespace {

ShareWorker::Done deliver(std::shared_ptr<QImage> picture, ImageStore::Loaded loaded)
{
    return [picture = std::move(picture), loaded = std::move(loaded)](std::exception_ptr error) {
        if (error)
            loaded({}, whatOf(error));
        else
            loaded(*picture, {});
    };
}

} // namespace

void ImageStore::loadImage(const QString& path, const QSize& scaledTo, Loaded loaded) const
{
    const QString local = m_share.toLocal(path);
    auto picture = std::make_shared<QImage>();
    m_worker.submit([local, scaledTo, picture] { *picture = readImage(local, scaledTo); },
        deliver(picture, std::move(loaded)));
}

void ImageStore::loadImageIfPresent(const QString& path, Loaded loaded) const
{
    const QString local = m_share.toLocal(path);
    auto picture = std::make_shared<QImage>();
    m_worker.submit(
        [local, picture] {
            if (QFileInfo::exists(local))
                *picture = readImage(local, {});
        },
        deliver(picture, std::move(loaded)));
}

void ImageStore::checkShare(ShareWorker::Done done) const
{
    m_worker.submit(
        [share = m_share, folder = m_share.toLocal(sampleImageDirectory())] { share.checkReachable(folder); },
        std::move(done));
}

QString ImageStore::localPath(const QString& sharePath) const
{
    return m_share.toLocal(sharePath);
}

void ImageStore::lookUpPictures(const QString& sample, Found found) const
{
    QStringList paths;
    for (const QString& prefix : { ColorPrefix, BottomPrefix })
        for (const QString& extension : { JpgExtension, BmpExtension })
            paths << m_share.toLocal(imagePath(prefix, sample, extension));
    auto newest = std::make_shared<QDateTime>();
    m_worker.submit(
        [paths, newest] {
            for (const QString& path : paths) {
                const QFileInfo file(path);
                if (file.exists() && (!newest->isValid() || file.lastModified() > *newest))
                    *newest = file.lastModified();
            }
        },
        // A worker past its bound may still be at it: its finding is not read then.
        [newest, found = std::move(found)](
            std::exception_ptr error) { found(error ? QDateTime() : *newest, error); });
}

void ImageStore::deleteJpegs(const QString& sample, ShareWorker::Done done)
{
    // Colour first: a failure there leaves the bottom one untouched.
    const QString color = m_share.toLocal(imagePath(ColorPrefix, sample, JpgExtension));
    const QString bottom = m_share.toLocal(imagePath(BottomPrefix, sample, JpgExtension));
    m_worker.submit(
        [color, bottom] {
            deleteIfExists(color);
            deleteIfExists(bottom);
        },
        std::move(done));
}

} // namespace image_store
