#pragma once

#include "image_store/process_launcher.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <chrono>

// What is known of each picture's latest conversion, by view prefix and
// sample: still running, ended well, or failed and why. Converters report
// their end here; the picture panel asks before it loads a JPEG. A report
// from an older take's converter is ignored once a newer one has begun.
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
    };

    // Notes a conversion that is about to start; hand what this returns to
    // the launcher as the conversion's end.
    image_store::ProcessLauncher::Finished begin(const QString& viewPrefix, const QString& sample);
    void fail(const QString& viewPrefix, const QString& sample, const QString& why);
    // Its conversion's end, if still to come, is of no concern any more.
    void forget(const QString& viewPrefix, const QString& sample);
    Picture picture(const QString& viewPrefix, const QString& sample) const;

signals:
    // The latest conversion of that picture has ended, well or not.
    void ended(const QString& viewPrefix, const QString& sample);

private:
    struct Entry {
        quint64 take = 0;
        Picture picture;
    };
    QHash<QString, Entry> m_pictures;
    quint64 m_lastTake = 0;
};
