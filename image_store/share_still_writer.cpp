#include "image_store/share_still_writer.h"

#include "image_store/atomic_file.h"
#include "image_store/bitmap_file.h"
#include "image_store/sample_claim.h"
#include "image_store/share_log.h"
#include "image_store/share_path.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <utility>
#include <sys/stat.h>

namespace image_store {

// Touched by the worker's jobs only, which run one after another.
struct ShareStillWriter::Take {
    SampleClaim claim;
    QString sample;
    bool claimed = false;
    std::vector<std::pair<QString, FileIdentity>> written;
};

ShareStillWriter::ShareStillWriter(const ShareMap& share, ShareWorker& worker)
    : m_share(share)
    , m_worker(worker)
{
}

void ShareStillWriter::beginTake(const QString& claimPath, const QString& sample)
{
    endTake();
    // Claims left while the server did not answer go first.
    while (!m_unreleased.empty()) {
        m_worker.queue([left = m_unreleased.back()](const CancelToken&) { left->claim.release(); });
        m_unreleased.pop_back();
    }
    const QString local = m_share.toLocal(claimPath);
    auto take = std::make_shared<Take>(Take { SampleClaim(local, sample), sample, false, {} });
    m_take = take;
    m_pending.push_back(
        m_worker.queue([take, share = m_share, folder = QFileInfo(local).path()](const CancelToken&) {
            // Never onto the bench's own disk under an empty mount point.
            share.checkReachable(folder);
            take->claim.take();
            take->claimed = true;
        }));
}

void ShareStillWriter::write(const QString& sharePath, const QImage& frame)
{
    const QString local = m_share.toLocal(sharePath);
    // The frame stays as the camera gave it until it is written.
    m_pending.push_back(m_worker.queue([local, frame, take = m_take](const CancelToken& token) {
        if (take && !take->claimed)
            throw StoreError("Not written without the sample's claim: " + local.toStdString());
        const FileIdentity written = replaceFile(local, encodeBitmap(frame), token);
        if (take)
            take->written.emplace_back(local, written);
    }));
}

void ShareStillWriter::settle(ShareWorker::Done done)
{
    std::vector<ShareWorker::Ticket> pending = std::exchange(m_pending, {});
    try {
        // Another bench that does not claim may still have renamed over a still.
        if (m_take)
            pending.push_back(m_worker.queue([take = m_take](const CancelToken&) { checkWritten(*take); }));
    } catch (const ShareNotAnswering&) {
        m_worker.tellLater(std::move(done), std::current_exception());
        return;
    }
    m_worker.whenDone(std::move(pending), std::move(done));
}

void ShareStillWriter::checkWritten(const Take& take)
{
    for (const auto& [local, identity] : take.written) {
        const QByteArray path = QFile::encodeName(local);
        struct stat info { };
        if (::lstat(path.constData(), &info) != 0)
            throw StoreError("Cannot check " + path.toStdString() + ": " + std::strerror(errno));
        if (!(FileIdentity::of(info) == identity)) {
            qCWarning(lcShare, "%s was replaced by another writer right after this one", path.constData());
            throw SampleTakenElsewhere(take.sample);
        }
    }
}

void ShareStillWriter::endTake()
{
    const std::shared_ptr<Take> take = std::move(m_take);
    m_take.reset();
    if (!take)
        return;
    try {
        m_worker.queue([take](const CancelToken&) { take->claim.release(); });
    } catch (const ShareNotAnswering&) {
        // Released at the next take, once the server answers again.
        qCWarning(lcShare, "The claim of sample %s stays on the share for now", qPrintable(take->sample));
        m_unreleased.push_back(take);
    }
}

} // namespace image_store
