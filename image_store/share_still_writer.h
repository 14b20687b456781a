#pragma once

#include "image_store/share_worker.h"
#include "image_store/still_writer.h"

#include <memory>
#include <vector>

namespace image_store {

class ShareMap;

// Writes stills as bitmaps on the share, on the share worker, so the next
// frame can be awaited while one is written. It keeps the stills written
// since the last settle; a still that a settle gave up on is never put in
// place, even when the server answers later.
//
// The stills of one sample may be written as a take: the sample is claimed
// on the share first (SampleClaim), nothing is written without the claim,
// and the settle checks that every still is still the file it wrote.
class ShareStillWriter final : public StillWriter {
public:
    ShareStillWriter(const ShareMap& share, ShareWorker& worker);

    // `claimPath` is a share path beside the sample's files.
    void beginTake(const QString& claimPath, const QString& sample);
    void write(const QString& sharePath, const QImage& frame) override;
    // `done` runs once the stills written so far are in place, with the
    // first that could not be, ShareNotAnswering past the worker's bound, or
    // SampleTakenElsewhere when another bench holds the sample or replaced a
    // still of this take; null when all is well.
    void settle(ShareWorker::Done done);
    // The claim goes, without a wait.
    void endTake();

private:
    struct Take;
    static void checkWritten(const Take& take);

    const ShareMap& m_share;
    ShareWorker& m_worker;
    std::vector<ShareWorker::Ticket> m_pending;
    std::shared_ptr<Take> m_take;
    std::vector<std::shared_ptr<Take>> m_unreleased;
};

} // namespace image_store
