#include "image_store/share_still_writer.h"

#include "image_store/atomic_file.h"
#include "image_store/bitmap_file.h"
#include "image_store/sample_claim.h"
#include "image_store/share_log.h"
#include "image_store/share_path.h"

#include <QFile>

#include <cerrno>
#include <cstring>
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
    auto take
        = std::make_shared<Take>(Take { SampleClaim(m_share.toLocal(claimPath), sample), sample, false, {} });
    m_take = take;
    m_pending.push_back(m_worker.queue([take](const CancelToken&) {
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

void ShareStillWriter::settle()
{
    const std::vector<ShareWorker::Ticket> pending = std::move(m_pending);
    m_pending.clear();
    m_worker.wait(pending);
    if (!m_take)
        return;
    // Another bench that does not claim may still have renamed over a still.
    m_worker.call([take = m_take] {
        for (const auto& [local, identity] : take->written) {
            const QByteArray path = QFile::encodeName(local);
            struct stat info { };
            if (::lstat(path.constData(), &info) != 0)
                throw StoreError("Cannot check " + path.toStdString() + ": " + std::strerror(errno));
            if (!(FileIdentity::of(info) == identity))
                throw SampleTakenElsewhere(take->sample,
                    path.toStdString() + " was replaced by another writer right after this one");
        }
    });
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
        // Left on the share; this bench takes it over at its next take.
        qCWarning(lcShare, "The claim of sample %s is left on the share", qPrintable(take->sample));
    }
}

} // namespace image_store
