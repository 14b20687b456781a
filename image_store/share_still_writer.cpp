#include "image_store/share_still_writer.h"

#include "image_store/atomic_file.h"
#include "image_store/bitmap_file.h"
#include "image_store/share_path.h"

namespace image_store {

ShareStillWriter::ShareStillWriter(const ShareMap& share, ShareWorker& worker)
    : m_share(share)
    , m_worker(worker)
{
}

void ShareStillWriter::write(const QString& sharePath, const QImage& frame)
{
    const QString local = m_share.toLocal(sharePath);
    // The frame stays as the camera gave it until it is written.
    m_pending.push_back(m_worker.queue(
        [local, frame](const CancelToken& token) { replaceFile(local, encodeBitmap(frame), token); }));
}

void ShareStillWriter::settle()
{
    const std::vector<ShareWorker::Ticket> pending = std::move(m_pending);
    m_pending.clear();
    m_worker.wait(pending);
}

} // namespace image_store
