#pragma once

#include "image_store/process_launcher.h"
#include "image_store/sample_claim.h"
#include "image_store/share_path.h"
#include "image_store/share_still_writer.h"
#include "image_store/share_worker.h"
#include "image_store/store_error.h"

#include <QImage>
#include <QString>

#include <optional>

namespace image_store {

inline const QString ColorPrefix = QStringLiteral("CLR_");
inline const QString BottomPrefix = QStringLiteral("BTM_");
inline const QString BmpExtension = QStringLiteral(".bmp");
inline const QString JpgExtension = QStringLiteral(".jpg");

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
    // The same without waiting; a start that fails ends it at once, with
    // the reason in ProcessEnd::notStarted.
    void startConversionLater(const QString& command, ProcessLauncher::Finished finished);

    // Where the camera puts its stills.
    StillWriter& stills() { return m_stills; }
    // The stills written from here on are one take of the sample: no other
    // bench writes it meanwhile (SampleTakenElsewhere otherwise).
    void beginTake(const QString& sample);
    // Waits until the stills written so far are in place and still this
    // take's; throws the first that could not be written.
    void waitForStills() { m_stills.settle(); }
    void endTake() { m_stills.endTake(); }
    // The worker's waits, which run the event loop inside the caller's step.
    ShareWorker& worker() { return m_worker; }

    // Throws StoreError when the file is missing or cannot be read as a
    // picture. A non-empty size decodes it straight to that size.
    QImage loadImage(const QString& path, const QSize& scaledTo = {}) const;
    // The same, but nothing when the file does not exist.
    std::optional<QImage> loadImageIfPresent(const QString& path) const;
    // The same without waiting: `loaded` gets the picture, or the reason.
    using Loaded = std::function<void(const QImage& picture, const QString& failure)>;
    void loadImageLater(const QString& path, const QSize& scaledTo, Loaded loaded) const;

    // Colour JPEG first, then bottom, each only when it exists. A read-only
    // file is not overridden: it raises, and a failure on the colour file
    // leaves the bottom one untouched. Bitmaps are never deleted. A JPEG
    // being written goes too, so a conversion at work cannot bring it back.
    void deleteJpegs(const QString& sample);

private:
    const ShareMap& m_share;
    ProcessLauncher& m_launcher;
    ShareWorker& m_worker;
    ShareStillWriter m_stills;
};

} // namespace image_store
