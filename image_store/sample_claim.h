#pragma once

#include "image_store/file_identity.h"
#include "image_store/store_error.h"

#include <QString>

namespace image_store {

// Another bench is taking, or took, the same sample at the same time. Its
// message is for the operator; whoever throws it logs the particulars.
class SampleTakenElsewhere : public StoreError {
public:
    explicit SampleTakenElsewhere(const QString& sample);
    const QString& sample() const { return m_sample; }

private:
    QString m_sample;
};

// A file on the share that says "this bench is writing this sample now",
// so two benches on one file server never write one sample's files at once.
// It holds the bench and the process; one left by a process that is gone,
// or older than StaleAfterSeconds, is taken over. Runs on the share worker.
class SampleClaim {
public:
    static constexpr int StaleAfterSeconds = 120;

    SampleClaim(QString localPath, QString sample);
    // Throws SampleTakenElsewhere when another bench holds it, StoreError
    // when the share refuses.
    void take();
    // Only the file take() made goes; nothing is raised.
    void release();

private:
    bool stale() const;

    QString m_path;
    QString m_sample;
    bool m_held = false;
    FileIdentity m_identity;
};

} // namespace image_store
