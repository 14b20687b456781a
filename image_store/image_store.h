#pragma once

#include "process_launcher.h"
#include "share_path.h"

#include <QImage>
#include <QString>

#include <stdexcept>

namespace image_store {

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Tells one version of a file from another: a file replaced by a rename has
// a new identity even when its time stamp does not change.
struct FileStamp {
    bool exists = false;
    quint64 identity = 0;
    qint64 modifiedNs = 0;
    qint64 size = 0;
    bool operator==(const FileStamp&) const = default;
};

inline const QString ColorPrefix = QStringLiteral("CLR_");
inline const QString BottomPrefix = QStringLiteral("BTM_");
inline const QString BmpExtension = QStringLiteral(".bmp");
inline const QString JpgExtension = QStringLiteral(".jpg");

// Where a file of the share is written before it is renamed into place: a
// name derived from the final one (".NAME.part" in the same folder), so one
// left by a killed writer is replaced by the next write of the same file.
// The converter names its temporaries the same way.
QString temporaryNameOf(const QString& localPath);

// The store's names, built by plain concatenation. The server comes from the
// share map; everything after it is fixed.
class ImageStore {
public:
    ImageStore(const ShareMap& share, ProcessLauncher& launcher);

    const ShareMap& share() const { return m_share; }

    QString softwareDirectory() const;
    QString sampleImageDirectory() const;

    // viewPrefix is ColorPrefix or BottomPrefix.
    QString imagePath(const QString& viewPrefix, const QString& sample, const QString& extension) const;
    // view is "Color" or "Bottom".
    QString buttonFacePath(const QString& view) const;
    QString converterCommand(const QString& viewPrefix, const QString& sample) const;

    // `finished` runs on the event loop once the converter has ended.
    void startConversion(
        const QString& command, int windowStyle = 2, ProcessLauncher::Finished finished = {});

    // Throws StoreError when the file is missing or cannot be read as a
    // picture. A non-empty size decodes it straight to that size.
    QImage loadImage(const QString& path, const QSize& scaledTo = {}) const;

    // False also when the share cannot be reached.
    bool fileExists(const QString& path) const;
    FileStamp stamp(const QString& path) const;

    // Colour JPEG first, then bottom, each only when it exists. A read-only
    // file is not overridden: it raises, and a failure on the colour file
    // leaves the bottom one untouched. Bitmaps are never deleted. A JPEG
    // being written goes too, so a conversion at work cannot bring it back.
    void deleteJpegs(const QString& sample);

private:
    void deleteIfExists(const QString& path);

    const ShareMap& m_share;
    ProcessLauncher& m_launcher;
};

} // namespace image_store
