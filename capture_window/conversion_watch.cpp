#include "capture_window/conversion_watch.h"

#include <QPointer>

namespace {
QString keyOf(const QString& viewPrefix, const QString& sample)
{
    return viewPrefix + sample;
}
} // namespace

image_store::ProcessLauncher::Finished ConversionWatch::begin(
    const QString& viewPrefix, const QString& sample)
{
    const QString key = keyOf(viewPrefix, sample);
    const quint64 take = ++m_lastTake;
    m_pictures[key] = Entry { take, { State::Running, {}, std::chrono::steady_clock::now(), take } };
    // The converter may end after the window, and this watch, are gone.
    return [watch = QPointer<ConversionWatch>(this), key, take, viewPrefix, sample](
               const image_store::ProcessEnd& end) {
        if (!watch)
            return;
        const auto found = watch->m_pictures.find(key);
        if (found == watch->m_pictures.end() || found->take != take)
            return;
        found->picture = end.ok()
            ? Picture { State::Ended, {}, {}, take }
            : Picture { State::Failed, QStringLiteral("the converter ") + end.describe(), {}, take };
        emit watch->ended(viewPrefix, sample);
    };
}

void ConversionWatch::fail(const QString& viewPrefix, const QString& sample, const QString& why)
{
    m_pictures[keyOf(viewPrefix, sample)].picture = Picture { State::Failed, why, {}, 0 };
}

void ConversionWatch::forget(const QString& viewPrefix, const QString& sample)
{
    m_pictures.remove(keyOf(viewPrefix, sample));
}

ConversionWatch::Picture ConversionWatch::picture(const QString& viewPrefix, const QString& sample) const
{
    const Entry entry = m_pictures.value(keyOf(viewPrefix, sample));
    Picture picture = entry.picture;
    picture.take = entry.take;
    return picture;
}
