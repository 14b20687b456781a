#pragma once

#include "image_store/process_launcher.h"
#include "image_store/sample_claim.h"
#include "image_store/share_path.h"
#include "image_store/share_still_writer.h"
#include "image_store/share_worker.h"
#include "image_store/store_error.h"

#include <QDateTime>
#include <QImage>
#include <QString>

#include <chrono>
#include <functional>

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
    // Where a share path is on this machine.
    QString localPath(const QString& sharePath) const;
    QString converterCommand(const QString& viewPrefix, const QString& sample) const;

    // Starts the converter without waiting for it; `finished` runs on the
    // event loop once it has ended. A start that fails (LaunchError, or the
    // share not answering) goes to `launched` when given, else ends it at
    // once with the reason in ProcessEnd::notStarted; `launched` gets null
    // once the converter runs.
    void startConversion(const QString& command, int windowStyle, ProcessLauncher::Finished finished,
        ShareWorker::Done launched = {});
    // How long a conversion may run before it is stopped: 30 s for a 1080p
    // bitmap, in proportion to its bitmap's size, and never less than `floor`.
    static std::chrono::milliseconds conversionLimit(qint64 bitmapBytes, std::chrono::milliseconds floor);
    void setConversionLimitFloor(std::chrono::milliseconds floor) { m_limitFloor = floor; }

    // Where the camera puts its stills.
    StillWriter& stills() { return m_stills; }
    // The stills written from here on are one take of the sample: no other
    // bench writes it meanwhile (SampleTakenElsewhere otherwise).
    void beginTake(const QString& sample);
    // `done` runs once the stills written so far are in place and still
    // this take's, with the first that could not be written, or null.
    void settleStills(ShareWorker::Done done) { m_stills.settle(std::move(done)); }
    void endTake() { m_stills.endTake(); }

    // Reads a picture without waiting: `loaded` gets it, or the reason it
    // could not be read (missing, not a picture). A non-empty size decodes
    // it straight to that size.
    using Loaded = std::function<void(const QImage& picture, const QString& failure)>;
    void loadImage(const QString& path, const QSize& scaledTo, Loaded loaded) const;
    // The same, but a file that does not exist is no failure: `loaded` gets
    // a null picture and no reason.
    void loadImageIfPresent(const QString& path, Loaded loaded) const;

    // `done` gets ShareUnreachable when the sample folder is not there to
    // write in, or null.
    void checkShare(ShareWorker::Done done) const;

    // When the sample's newest picture on the share (JPEG or bitmap, either
    // view) was written; null when it has none, so a take replaces nothing.
    using Found = std::function<void(const QDateTime& newest, std::exception_ptr error)>;
    void lookUpPictures(const QString& sample, Found found) const;

    // Colour JPEG first, then bottom, each only when it exists. A read-only
    // file is not overridden: it fails, and a failure on the colour file
    // leaves the bottom one untouched. Bitmaps are never deleted. A JPEG
    // being written goes too, so a conversion at work cannot bring it back.
    // `done` gets the failure, or null.
    void deleteJpegs(const QString& sample, ShareWorker::Done done);

private:
    const ShareMap& m_share;
    ProcessLauncher& m_launcher;
    ShareWorker& m_worker;
    ShareStillWriter m_stills;
    std::chrono::milliseconds m_limitFloor { 10000 };
};

} // namespace image_store
