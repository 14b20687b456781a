#pragma once

#include "process_launcher.h"
#include "share_path.h"
#include "share_worker.h"

#include <QImage>
#include <QString>

#include <optional>
#include <stdexcept>

namespace image_store {

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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
// share map; everything after it is fixed. Every access to the share goes
// through the worker: a server that hangs makes the step fail after the
// worker's bound (ShareNotAnswering), never freezes the window.
class ImageStore {
public:
    ImageStore(const ShareMap& share, ProcessLauncher& launcher, ShareWorker& worker);

    QString softwareDirectory() const;
    QString sampleImageDirectory() const;

    // viewPrefix is ColorPrefix or BottomPrefix.
    QString imagePath(const QString& viewPrefix, const QString& sample, const QString& extension) const;
    // view is "Color" or "Bottom".
    QString buttonFacePath(const QString& view) const;
    QString converterProgram() const;
    QString converterCommand(const QString& viewPrefix, const QString& sample) const;

    // `finished` runs on the event loop once the converter has ended.
    void startConversion(
        const QString& command, int windowStyle = 2, ProcessLauncher::Finished finished = {});

    // Waits until the stills handed to the worker are in place; throws the
    // first that could not be written.
    void waitForStills();

    // Throws StoreError when the file is missing or cannot be read as a
    // picture. A non-empty size decodes it straight to that size.
    QImage loadImage(const QString& path, const QSize& scaledTo = {}) const;
    // The same, but nothing when the file does not exist.
    std::optional<QImage> loadImageIfPresent(const QString& path) const;
    // The same without waiting: `loaded` gets the picture, or the reason.
    using Loaded = std::function<void(const QImage& picture, const QString& failure)>;
    void loadImageLater(const QString& path, const QSize& scaledTo, Loaded loaded) const;

    // False also when the share cannot be reached.
    bool fileExists(const QString& path) const;

    // Colour JPEG first, then bottom, each only when it exists. A read-only
    // file is not overridden: it raises, and a failure on the colour file
    // leaves the bottom one untouched. Bitmaps are never deleted. A JPEG
    // being written goes too, so a conversion at work cannot bring it back.
    void deleteJpegs(const QString& sample);

private:
    const ShareMap& m_share;
    ProcessLauncher& m_launcher;
    ShareWorker& m_worker;
};

} // namespace image_store
