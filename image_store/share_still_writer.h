#pragma once

#include "image_store/share_worker.h"
#include "image_store/still_writer.h"

#include <vector>

namespace image_store {

class ShareMap;

// Writes stills as bitmaps on the share, on the share worker, so the next
// frame can be awaited while one is written. It keeps the stills written
// since the last settle(); a still that settle() gave up on is never put in
// place, even when the server answers later.
class ShareStillWriter final : public StillWriter {
public:
    ShareStillWriter(const ShareMap& share, ShareWorker& worker);

    void write(const QString& sharePath, const QImage& frame) override;
    // Waits until the stills written so far are in place; throws the first
    // that could not be, or ShareNotAnswering past the worker's bound.
    void settle();

private:
    const ShareMap& m_share;
    ShareWorker& m_worker;
    std::vector<ShareWorker::Ticket> m_pending;
};

} // namespace image_store
