#include "capture_window/conversion_watch.h"

#include "capture_window/window_log.h"
#include "image_store/converter_status.h"

#include <QPointer>
#include <QSet>
#include <QTimer>

namespace {

QString keyOf(const QString& viewPrefix, const QString& sample)
{
    return viewPrefix + sample;
}

// The share's doing, or a converter stuck on it: the same conversion may
// well succeed a moment later.
bool mayPass(const image_store::ProcessEnd& end)
{
    return !end.notStarted.isEmpty() || end.overran.count() > 0
        || (end.exited && end.code == image_store::ConverterShareFailedStatus);
}

} // namespace

std::vector<std::chrono::milliseconds> ConversionWatch::defaultRetryDelays()
{
    using namespace std::chrono_literals;
    return { 1s, 3s, 10s };
}

ConversionWatch::ConversionWatch(
    image_store::ImageStore& store, std::vector<std::chrono::milliseconds> retryDelays)
    : m_store(store)
    , m_retryDelays(std::move(retryDelays))
{
}

void ConversionWatch::convert(const QString& sample, image_store::ShareWorker::Done launched)
{
    struct Launches {
        int left = 2;
        std::exception_ptr first;
        image_store::ShareWorker::Done launched;
    };
    auto launches = std::make_shared<Launches>(Launches { 2, nullptr, std::move(launched) });
    for (const QString& prefix : { image_store::BottomPrefix, image_store::ColorPrefix }) {
        const QString command = m_store.converterCommand(prefix, sample);
        // Tried again without a wait: the operator is on to the next sample by then.
        image_store::ImageStore& store = m_store;
        Restart restart = [&store, command](image_store::ProcessLauncher::Finished finished) {
            store.startConversion(command, 2, std::move(finished));
        };
        m_store.startConversion(command, 2, begin(prefix, sample, std::move(restart)),
            [watch = QPointer<ConversionWatch>(this), launches, prefix, sample](std::exception_ptr error) {
                if (error) {
                    if (watch)
                        watch->fail(prefix, sample, image_store::whatOf(error));
                    if (!launches->first)
                        launches->first = error;
                }
                if (--launches->left == 0)
                    launches->launched(launches->first);
            });
    }
}

image_store::ProcessLauncher::Finished ConversionWatch::begin(
    const QString& viewPrefix, const QString& sample, Restart restart)
{
    const QString key = keyOf(viewPrefix, sample);
    const quint64 take = ++m_lastTake;
    const bool wasUnfinished = !samplesWithoutJpeg().isEmpty();
    m_pictures[key] = Entry { take, { State::Running, {}, std::chrono::steady_clock::now(), take, false },
        sample, std::move(restart), 0 };
    if (wasUnfinished)
        emit unfinishedChanged();
    return endOf(key, take, viewPrefix);
}

image_store::ProcessLauncher::Finished ConversionWatch::endOf(
    const QString& key, quint64 take, const QString& viewPrefix)
{
    // The converter may end after the window, and this watch, are gone.
    return
        [watch = QPointer<ConversionWatch>(this), key, take, viewPrefix](const image_store::ProcessEnd& end) {
            if (watch)
                watch->settle(key, take, viewPrefix, end.ok(), mayPass(end),
                    end.ok() ? QString() : QStringLiteral("the converter ") + end.describe());
        };
}

void ConversionWatch::unreadable(
    const QString& viewPrefix, const QString& sample, quint64 take, const QString& why)
{
    // Read back just after it was written: made again, as after a fault.
    settle(keyOf(viewPrefix, sample), take, viewPrefix, false, true, why);
}

void ConversionWatch::settle(const QString& key, quint64 take, const QString& viewPrefix, bool ok,
    bool mayPass, const QString& failure)
{
    const auto found = m_pictures.find(key);
    if (found == m_pictures.end() || found->take != take)
        return;
    if (!ok && mayPass && found->restart && found->tries < int(m_retryDelays.size())) {
        qCInfo(lcWindow, "Conversion of %s failed (%s); it is tried again", qPrintable(key),
            qPrintable(failure));
        found->picture.state = State::Running;
        found->picture.retryDue = true;
        found->picture.failure = failure;
        retryLater(key, take, viewPrefix);
        emit unfinishedChanged();
        return;
    }
    found->picture = ok ? Picture { State::Ended, {}, {}, take, false }
                        : Picture { State::Failed, failure, {}, take, false };
    const QString sample = found->sample;
    emit unfinishedChanged();
    emit ended(viewPrefix, sample);
}

void ConversionWatch::retryLater(const QString& key, quint64 take, const QString& viewPrefix)
{
    const auto delay = m_retryDelays[std::size_t(m_pictures[key].tries)];
    QTimer::singleShot(delay, this, [this, key, take, viewPrefix] {
        const auto found = m_pictures.find(key);
        // A newer take, or a deletion, made it moot.
        if (found == m_pictures.end() || found->take != take)
            return;
        ++found->tries;
        found->picture.retryDue = false;
        found->restart(endOf(key, take, viewPrefix));
    });
}

void ConversionWatch::fail(const QString& viewPrefix, const QString& sample, const QString& why)
{
    Entry& entry = m_pictures[keyOf(viewPrefix, sample)];
    entry.sample = sample;
    entry.picture = Picture { State::Failed, why, {}, 0, false };
    emit unfinishedChanged();
}

void ConversionWatch::forget(const QString& viewPrefix, const QString& sample)
{
    if (m_pictures.remove(keyOf(viewPrefix, sample)) > 0)
        emit unfinishedChanged();
}

ConversionWatch::Picture ConversionWatch::picture(const QString& viewPrefix, const QString& sample) const
{
    const Entry entry = m_pictures.value(keyOf(viewPrefix, sample));
    Picture picture = entry.picture;
    picture.take = entry.take;
    return picture;
}

QStringList ConversionWatch::samplesWhere(const std::function<bool(const Picture&)>& wanted) const
{
    QSet<QString> samples;
    for (const Entry& entry : m_pictures)
        if (wanted(entry.picture))
            samples.insert(entry.sample);
    return samples.values();
}

QStringList ConversionWatch::samplesWithoutJpeg() const
{
    return samplesWhere(
        [](const Picture& picture) { return picture.state == State::Failed || picture.retryDue; });
}

int ConversionWatch::converting() const
{
    int running = 0;
    for (const Entry& entry : m_pictures)
        running += entry.picture.state == State::Running ? 1 : 0;
    return running;
}

QStringList ConversionWatch::samplesLeftWithoutJpeg() const
{
    QStringList sorted = samplesWhere([](const Picture& picture) {
        return picture.state == State::Failed || picture.state == State::Running;
    });
    sorted.sort();
    return sorted;
}
