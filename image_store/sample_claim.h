#pragma once

#include "image_store/file_identity.h"
#include "image_store/store_error.h"

#include <QDateTime>
#include <QString>

namespace image_store {

// Another bench is taking, or took, the same sample at the same time. Its
// message is for the operator; whoever throws it logs the particulars.
class SampleTakenElsewhere : public StoreError {
public:
    explicit SampleTakenElsewhere(const QString& sample);
    const QString& sample() const { return m_sample; }

protected:
    SampleTakenElsewhere(const QString& sample, const std::string& message);

private:
    QString m_sample;
};

// Another bench holds the sample's claim now: its pictures are being taken there.
class SampleBeingTaken : public SampleTakenElsewhere {
public:
    SampleBeingTaken(const QString& sample, const QString& bench, const QDateTime& since);
    const QString& bench() const { return m_bench; }
    // In this bench's time.
    const QDateTime& since() const { return m_since; }

private:
    QString m_bench;
    QDateTime m_since;
};

// A file on the share that says "this bench is writing this sample now",
// so two benches on one file server never write one sample's files at once.
// It holds the bench's name, its process and its run (benchRun()). Its age
// is read against the server's own clock, never this bench's: one older
// than StaleAfterSeconds, or as far in the future, is taken over, and so is
// one whose process is known gone (only this run can know), and the
// sample's temporaries its bench left, by age. One left empty by a create
// the server failed is no bench's. Anything at its
// name that is not a small regular file is not a claim: it is removed where
// that is safe. Runs on the share worker.
class SampleClaim {
public:
    static constexpr int StaleAfterSeconds = 120;

    SampleClaim(QString localPath, QString sample);
    // Throws SampleBeingTaken when another bench holds it, StoreError when
    // the share refuses or fails.
    void take();
    // Only the file take() made goes; nothing is raised.
    void release();

private:
    struct Found;
    Found inspect() const;
    void removeFound(const Found& found) const;
    void removeDebris(qint64 serverNow) const;
    qint64 serverNow() const;

    QString m_path;
    QString m_sample;
    bool m_held = false;
    FileIdentity m_identity;
};

} // namespace image_store
