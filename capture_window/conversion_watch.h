#pragma once

#include "image_store/image_store.h"
#include "image_store/process_launcher.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <vector>

// The one owner of conversions: it launches the converters of a take, and
// knows of each picture's latest conversion, by view prefix and sample:
// still running (or waiting to be tried again), ended well, or failed and
// why. Converters report their end here; the picture panel asks before it
// loads a JPEG. A report from an older take's converter is
// ignored once a newer one has begun. A conversion the share failed, or
// that ran past its limit (not one the converter refused), is started again after each of the delays in
// turn, as long as no newer take began; it fails only when they are spent.
class ConversionWatch final : public QObject {
    Q_OBJECT
public:
    enum class State { Unknown, Running, Ended, Failed };
    struct Picture {
        State state = State::Unknown;
        QString failure;
        // When it began, while it runs.
        std::chrono::steady_clock::time_point startedAt;
        // Which take it is: a picture read for one take must not count for the next.
        quint64 take = 0;
        // Running, but waiting to be tried again after the share failed it.
        bool retryDue = false;
    };
    // Starts the same conversion again; `finished` is its end.
    using Restart = std::function<void(image_store::ProcessLauncher::Finished finished)>;

    static std::vector<std::chrono::milliseconds> defaultRetryDelays();
    explicit ConversionWatch(image_store::ImageStore& store,
        std::vector<std::chrono::milliseconds> retryDelays = defaultRetryDelays());

    // Launches the converters of a take's two bitmaps, bottom first, without
    // waiting; `launched` gets the first start that failed, or null, once
    // both have started or failed to.
    void convert(const QString& sample, image_store::ShareWorker::Done launched);

    // Notes a conversion that is about to start; hand what this returns to
    // the launcher as the conversion's end.
    image_store::ProcessLauncher::Finished begin(
        const QString& viewPrefix, const QString& sample, Restart restart = {});
    void fail(const QString& viewPrefix, const QString& sample, const QString& why);
    // The JPEG that take's conversion wrote cannot be read: it is made again
    // while tries are left, as after a fault of the share.
    void unreadable(const QString& viewPrefix, const QString& sample, quint64 take, const QString& why);
    // Its conversion's end, if still to come, is of no concern any more.
    void forget(const QString& viewPrefix, const QString& sample);
    Picture picture(const QString& viewPrefix, const QString& sample) const;
    // Samples with a picture waiting to be tried again or failed.
    QStringList samplesWithoutJpeg() const;
    // Pictures whose conversion runs or waits to be tried again.
    int converting() const;
    // Samples with a picture failed, running or waiting: what a close now leaves.
    QStringList samplesLeftWithoutJpeg() const;

signals:
    // The latest conversion of that picture has ended, well or not.
    void ended(const QString& viewPrefix, const QString& sample);
    // What samplesWithoutJpeg() holds may have changed.
    void unfinishedChanged();

private:
    QStringList samplesWhere(const std::function<bool(const Picture&)>& wanted) const;
    struct Entry {
        quint64 take = 0;
        Picture picture;
        QString sample;
        Restart restart;
        int tries = 0;
    };
    image_store::ProcessLauncher::Finished endOf(const QString& key, quint64 take, const QString& viewPrefix);
    void settle(const QString& key, quint64 take, const QString& viewPrefix, bool ok, bool mayPass,
        const QString& failure);
    void retryLater(const QString& key, quint64 take, const QString& viewPrefix);

    image_store::ImageStore& m_store;
    std::vector<std::chrono::milliseconds> m_retryDelays;
    QHash<QString, Entry> m_pictures;
    quint64 m_lastTake = 0;
};
