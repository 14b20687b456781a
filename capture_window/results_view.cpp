#include "capture_window/results_view.h"

#include "capture_window/failure_words.h"
#include "capture_window/views.h"
#include "capture_window/window_log.h"
#include "image_store/image_store.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QStyle>
#include <QTimer>

#include <algorithm>

ResultsView::ResultsView(Widgets widgets, image_store::ImageStore& store, ConversionWatch& conversions,
    const CaptureSession& session)
    : m_widgets(widgets)
    , m_store(store)
    , m_conversions(conversions)
    , m_session(session)
{
    connect(&m_conversions, &ConversionWatch::unfinishedChanged, this, &ResultsView::renderStatus);
    connect(&m_conversions, &ConversionWatch::ended, this, &ResultsView::conversionEnded);
}

void ResultsView::ShowSampleImages(const QString& sample)
{
    QString caption = QStringLiteral("Last Image Taken");
    m_widgets.redo->hide();
    m_widgets.remove->hide();
    m_widgets.bottom->clear();
    m_widgets.color->clear();
    m_shownSample.clear();
    if (sample.size() == 8) {
        m_shownSample = sample.trimmed();
        for (const views::View* view : views::all())
            loadPicture(view->filePrefix);
        caption = sample;
        m_widgets.redo->show();
        m_widgets.remove->show();
    }
    m_widgets.caption->setText(caption);
}

void ResultsView::hideReviewButtons()
{
    m_widgets.redo->hide();
    m_widgets.remove->hide();
}

void ResultsView::deleting()
{
    for (const views::View* view : views::all()) {
        QLabel* box = pictureBox(view->filePrefix);
        if (box->text() == ConvertingText)
            box->clear();
    }
}

void ResultsView::addHistoryLine(const QString& line)
{
    // A new take of a sample is checked anew.
    if (!m_session.capturedSamples().isEmpty())
        m_checkNotes.remove(m_session.capturedSamples().last().trimmed());
    m_widgets.history->addItem(line);
    // The newest capture stays in sight, however long the run.
    m_widgets.history->scrollToBottom();
    renderStatus();
}

QLabel* ResultsView::pictureBox(const QString& viewPrefix) const
{
    return viewPrefix == image_store::ColorPrefix ? m_widgets.color : m_widgets.bottom;
}

QSize ResultsView::pictureSize(const QString& viewPrefix) const
{
    // Decoded at the screen's pixel density, so it is sharp there.
    const QLabel* box = pictureBox(viewPrefix);
    return box->contentsRect().size() * box->devicePixelRatioF();
}

void ResultsView::loadPicture(const QString& viewPrefix)
{
    const ConversionWatch::Picture conversion = m_conversions.picture(viewPrefix, m_shownSample);
    if (conversion.state == ConversionWatch::State::Running) {
        sayConvertingWhenSlow(viewPrefix);
        return;
    }
    if (conversion.state == ConversionWatch::State::Failed) {
        showBoxText(viewPrefix, ConversionFailedText);
        return;
    }
    readPicture(viewPrefix, m_shownSample, conversion.take);
}

void ResultsView::readPicture(const QString& viewPrefix, const QString& sample, quint64 take)
{
    m_store.loadImage(m_store.imagePath(viewPrefix, sample, image_store::JpgExtension),
        pictureSize(viewPrefix),
        [view = QPointer<ResultsView>(this), viewPrefix, sample, take](
            const QImage& picture, const QString& failure) {
            if (view)
                view->placePicture(viewPrefix, sample, take, picture, failure);
        });
}

void ResultsView::placePicture(const QString& viewPrefix, const QString& sample, quint64 take,
    const QImage& picture, const QString& failure)
{
    const ConversionWatch::Picture conversion = m_conversions.picture(viewPrefix, sample);
    // Read for a sample no longer shown, or for a take a newer one replaced.
    if (sample != m_shownSample || conversion.state == ConversionWatch::State::Running
        || conversion.take != take)
        return;
    QLabel* box = pictureBox(viewPrefix);
    if (!picture.isNull()) {
        QImage sharp = picture;
        sharp.setDevicePixelRatio(box->devicePixelRatioF());
        box->setPixmap(QPixmap::fromImage(sharp));
        emit pictureShown(viewPrefix, sample);
        return;
    }
    // A JPEG that is not there (yet) leaves its box empty; one that a
    // conversion just wrote must be whole.
    if (conversion.state != ConversionWatch::State::Ended)
        return;
    // Its failure, when the tries are spent, comes back through conversionEnded.
    m_conversions.unreadable(viewPrefix, sample, take, failure);
}

void ResultsView::conversionFailed(const QString& viewPrefix, const QString& sample)
{
    const QString why = m_conversions.picture(viewPrefix, sample).failure;
    qCWarning(lcWindow, "Conversion of %s%s failed: %s", qPrintable(viewPrefix), qPrintable(sample),
        qPrintable(why));
    markHistory(sample);
    if (sample == m_shownSample)
        showBoxText(viewPrefix, ConversionFailedText);
    // The converters that run after a failed take say nothing on screen: the
    // take's own cause stays told, and no take recorded their sample.
    const QStringList& captured = m_session.capturedSamples();
    if (!m_session.failureStatus().isEmpty()
        || std::none_of(captured.begin(), captured.end(),
            [&](const QString& recorded) { return recorded.trimmed() == sample; }))
        return;
    // The status line belongs to a sample armed since, if there is one.
    const QString armed = m_session.currentSample().trimmed();
    if (armed.isEmpty() || armed == sample)
        showStatus(conversionFailureText(views::ofPrefix(viewPrefix).name, sample), why);
}

void ResultsView::markHistory(const QString& sample)
{
    QStringList reasons;
    for (const views::View* view : views::all()) {
        const ConversionWatch::Picture picture = m_conversions.picture(view->filePrefix, sample);
        if (picture.state == ConversionWatch::State::Failed)
            reasons << conversionFailureText(view->name, sample) + QStringLiteral(": ") + picture.failure;
    }
    for (const PictureChecks::Finding& finding : m_checkNotes.value(sample))
        reasons << finding.said;
    // The latest take of the sample carries the mark; earlier ones never do.
    bool latest = true;
    const QStringList& samples = m_session.capturedSamples();
    for (qsizetype i = samples.size() - 1; i >= 0; --i) {
        if (samples[i].trimmed() != sample)
            continue;
        QListWidgetItem* item = m_widgets.history->item(int(i));
        if (!item)
            continue;
        const QString why = latest ? reasons.join(QLatin1Char('\n')) : QString();
        item->setIcon(
            why.isEmpty() ? QIcon() : QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning));
        item->setToolTip(why);
        item->setData(Qt::AccessibleDescriptionRole, why);
        latest = false;
    }
}

void ResultsView::checked(const QString& sample, const QList<PictureChecks::Finding>& findings)
{
    m_checkNotes.insert(sample, findings);
    markHistory(sample);
    // Told whatever is armed by now: the sample may still be under the camera.
    if (!findings.isEmpty())
        showFindings(findings);
}

void ResultsView::showFindings(const QList<PictureChecks::Finding>& findings)
{
    QStringList said;
    for (const PictureChecks::Finding& finding : findings)
        said << finding.said;
    showStatus(findings.first().status, said.join(QLatin1Char('\n')));
}

void ResultsView::showWaiting()
{
    // A failed capture's reason stays until the next sample is armed; so
    // does a finding of the last take, which may ask for its Redo.
    const QStringList& captured = m_session.capturedSamples();
    if (m_session.failureStatus().isEmpty() && !captured.isEmpty()) {
        const QList<PictureChecks::Finding> findings = m_checkNotes.value(captured.last().trimmed());
        if (!findings.isEmpty())
            return showFindings(findings);
    }
    showStatus(m_session.waitingStatus(), m_session.failureDetail());
}

void ResultsView::showStatus(const QString& text, const QString& detail)
{
    m_statusText = text;
    m_statusDetail = detail;
    renderStatus();
}

void ResultsView::renderStatus()
{
    // Samples of the history still without their JPEGs stay told, whatever
    // is said since. One whose capture failed was told then.
    QSet<QString> captured;
    for (const QString& sample : m_session.capturedSamples())
        captured.insert(sample.trimmed());
    int unfinished = 0;
    for (const QString& sample : m_conversions.samplesWithoutJpeg())
        unfinished += captured.contains(sample) ? 1 : 0;
    QString text = m_statusText;
    QStringList detail;
    if (!m_statusDetail.isEmpty())
        detail << m_statusDetail;
    if (unfinished > 0) {
        text += QStringLiteral(" \u00b7 %1 without JPEG").arg(unfinished);
        detail << QStringLiteral("%1 of this run's samples lack a JPEG: it is being made again, or its "
                                 "history line is marked.")
                      .arg(unfinished);
    }
    m_widgets.status->setText(text);
    m_widgets.status->setToolTip(detail.join(QLatin1Char('\n')));
    m_widgets.status->setAccessibleDescription(detail.join(QLatin1Char('\n')));
}

void ResultsView::showBoxText(const QString& viewPrefix, const QString& text)
{
    QLabel* box = pictureBox(viewPrefix);
    box->setAlignment(Qt::AlignCenter);
    box->setWordWrap(true);
    box->setText(text);
}

void ResultsView::sayConvertingWhenSlow(const QString& viewPrefix)
{
    const QString sample = m_shownSample;
    const auto runFor = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - m_conversions.picture(viewPrefix, sample).startedAt);
    const auto left = std::chrono::milliseconds(ConvertingNoticeMs) - runFor;
    QTimer::singleShot(std::max(left, std::chrono::milliseconds(0)), this, [this, viewPrefix, sample] {
        // The picture, or its failure, replaces it when the conversion ends.
        if (sample == m_shownSample
            && m_conversions.picture(viewPrefix, sample).state == ConversionWatch::State::Running)
            showBoxText(viewPrefix, ConvertingText);
    });
}

void ResultsView::conversionEnded(const QString& viewPrefix, const QString& sample)
{
    if (m_conversions.picture(viewPrefix, sample).state == ConversionWatch::State::Failed) {
        conversionFailed(viewPrefix, sample);
        return;
    }
    // One that ended well takes back its mark.
    markHistory(sample);
    if (m_shownSample.isEmpty() || sample != m_shownSample)
        return;
    readPicture(viewPrefix, sample, m_conversions.picture(viewPrefix, sample).take);
}
