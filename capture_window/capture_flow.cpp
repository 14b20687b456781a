#include "capture_window/capture_flow.h"

#include "capture_window/picture_checks.h"

#include "capture_window/conversion_watch.h"
#include "capture_window/failure_words.h"
#include "capture_window/window_log.h"
#include "image_store/image_store.h"
#include "image_store/process_launcher.h"
#include "image_store/sample_claim.h"
#include "image_store/share_worker.h"
#include "scan_dialog/scan_detector.h"

#include <QLocale>
#include <QTimer>

#include <algorithm>

const char* CaptureFlow::name(State state)
{
    switch (state) {
    case State::StartingCameras:
        return "starting cameras";
    case State::Idle:
        return "idle";
    case State::ScanDialogOpen:
        return "scan dialog open";
    case State::LookingUpPictures:
        return "looking up the sample's pictures";
    case State::AskingTakeNow:
        return "asking \"Take picture now?\"";
    case State::StillOfLiveCamera:
        return "still of the live camera";
    case State::Switching:
        return "switching";
    case State::StillOfOtherCamera:
        return "still of the other camera";
    case State::SwitchingBack:
        return "switching back";
    case State::Settling:
        return "settling";
    case State::Converting:
        return "converting";
    case State::AskingAutoIncrement:
        return "asking \"Auto Increment\"";
    case State::SwitchingView:
        return "switching the view";
    case State::Deleting:
        return "deleting";
    case State::FinishingConversions:
        return "finishing conversions";
    case State::Closed:
        return "closed";
    }
    return "?";
}

CaptureFlow::CaptureFlow(camera::CameraDispatch& camera, image_store::ImageStore& store,
    ConversionWatch& conversions, FlowScreen& screen, std::function<QDateTime()> clock)
    : m_camera(camera)
    , m_store(store)
    , m_conversions(conversions)
    , m_screen(screen)
    , m_clock(std::move(clock))
    , m_currentView(views::color().name)
{
    connect(&m_conversions, &ConversionWatch::unfinishedChanged, this, &CaptureFlow::conversionsMoved);
    connect(&m_conversions, &ConversionWatch::ended, this, &CaptureFlow::conversionsMoved);
}

bool CaptureFlow::busy() const
{
    switch (m_state) {
    case State::StartingCameras:
    case State::StillOfLiveCamera:
    case State::Switching:
    case State::StillOfOtherCamera:
    case State::SwitchingBack:
    case State::Settling:
    case State::Converting:
    case State::SwitchingView:
    case State::Deleting:
    case State::LookingUpPictures:
    case State::FinishingConversions:
        return true;
    case State::Idle:
    case State::ScanDialogOpen:
    case State::AskingTakeNow:
    case State::AskingAutoIncrement:
    case State::Closed:
        break;
    }
    return false;
}

void CaptureFlow::enter(State state)
{
    if (m_state == State::Closed)
        return;
    qCDebug(lcWindow, "%s", name(state));
    m_state = state;
    m_screen.stateChanged();
    emit stateEntered(state);
}

void CaptureFlow::guarded(const std::function<void()>& step)
{
    try {
        step();
    } catch (const std::exception& error) {
        report(error);
        if (m_state != State::Closed && !m_take)
            backToIdle();
    }
}

void CaptureFlow::report(const std::exception& error)
{
    qCWarning(lcWindow, "%s", error.what());
    emit failed(failureMessage(error));
}

void CaptureFlow::report(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        report(failure);
    } catch (...) {
        report(std::runtime_error("unknown failure"));
    }
}

namespace {
template <typename... Errors> bool isOneOf(std::exception_ptr error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        return (dynamic_cast<const Errors*>(&failure) || ...);
    } catch (...) {
    }
    return false;
}

// Besides the status line, a box: what the operator must act on before
// taking the sample again, or someone else must.
bool toldInABox(std::exception_ptr error)
{
    return isOneOf<image_store::SampleTakenElsewhere, image_store::ShareNotAnswering,
        image_store::LaunchError>(error);
}
} // namespace

QString CaptureFlow::path(const views::View& view, const QString& extension) const
{
    return m_store.imagePath(view.filePrefix, m_take->sample, extension);
}

// Start-up: the control's four calls, then both cameras checked, the colour
// one last so that it is live.
void CaptureFlow::start()
{
    enter(State::StartingCameras);
    guarded([this] {
        m_camera.InitializeControl(camera::ControlApplicationName, camera::ControlSettingsKey, 0);
        m_camera.SetStartupOptions(0, 0, 1);
        m_camera.StartControlLater(
            later([this](std::int32_t, std::exception_ptr error) { camerasStarted(error); }));
    });
}

void CaptureFlow::camerasStarted(std::exception_ptr error)
{
    guarded([this, error] {
        if (error)
            std::rethrow_exception(error);
        m_camera.StartupSwitch(-1);
        m_camera.SelectCameraLater(views::BottomCamIndex,
            later([this](std::int32_t bottom, std::exception_ptr error) { bottomChecked(bottom, error); }));
    });
}

void CaptureFlow::bottomChecked(std::int32_t bottom, std::exception_ptr error)
{
    guarded([this, bottom, error] {
        if (error)
            std::rethrow_exception(error);
        m_camera.SelectCameraLater(
            views::ColorCamIndex, later([this, bottom](std::int32_t color, std::exception_ptr error) {
                guarded([this, bottom, color, error] {
                    if (error)
                        std::rethrow_exception(error);
                    if (bottom == 0 || color == 0) {
                        m_screen.tell(QStringLiteral("Unable to connect to any camera"));
                        m_captureEnabled = false;
                    }
                    checkShare();
                });
            }));
    });
}

void CaptureFlow::checkShare()
{
    m_store.checkShare(later([this](std::exception_ptr error) {
        guarded([this, error] {
            if (error) {
                const QString why = image_store::whatOf(error);
                qCWarning(lcWindow, "%s", qPrintable(why));
                m_session.shareFailed(ShareUnreachableStatus, why);
                m_screen.showStatus(m_session.failureStatus(), m_session.failureDetail());
                tellShareUnreachable();
            }
            backToIdle();
        });
    }));
}

void CaptureFlow::tellShareUnreachable()
{
    // Once, until a take finds the share again.
    if (std::exchange(m_shareTold, true))
        return;
    m_screen.tell(shareUnreachableMessage());
}

void CaptureFlow::startupTick()
{
    // Once the cameras are checked and no box is open.
    if (m_state != State::Idle) {
        m_startupCheckDue = true;
        return;
    }
    guarded([this] {
        m_captureEnabled = !m_session.currentSample().isEmpty();
        m_screen.stateChanged();
        if (!m_captureEnabled)
            getNumberNow();
    });
}

void CaptureFlow::getNumber()
{
    if (mayGetNumber())
        guarded([this] { getNumberNow(); });
}

void CaptureFlow::getNumberNow()
{
    enter(State::ScanDialogOpen);
    const bool exit = m_screen.showScanDialog();
    enter(State::Idle);
    if (exit || m_closeAsked) {
        m_screen.unloadScanDialog();
        closeAsked();
        return;
    }
    armNumber();
}

void CaptureFlow::acceptSampleNumber()
{
    if (m_state == State::Idle)
        guarded([this] { armNumber(); });
}

void CaptureFlow::armNumber()
{
    m_session.disarm();
    const QString text = m_screen.numberText();
    // The dialog is discarded once its number is read: no digit is left in
    // front of the next scan.
    m_screen.unloadScanDialog();
    if (text.size() != SampleNumberLength) {
        // Empty, or a number of the wrong length: nothing is armed, and the
        // window must not look armed either.
        m_captureEnabled = false;
        m_redoAsked = false;
        m_screen.showNothingArmed();
        backToIdle();
        return;
    }
    m_screen.showArmed(text);
    m_session.arm(text);
    m_captureEnabled = true;
    enter(State::LookingUpPictures);
    m_store.lookUpPictures(text, later([this, text](const QDateTime& newest, std::exception_ptr error) {
        guarded([this, text, newest, error] {
            if (error && m_keptScan.isEmpty())
                lookUpFailed(text, error);
            else
                askTakeNow(text, newest);
        });
    }));
}

void CaptureFlow::lookUpFailed(const QString& sample, std::exception_ptr error)
{
    // Not knowing what the share holds, no take is offered: its Yes could
    // replace pictures unasked once the server answers again.
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        qCWarning(lcWindow, "Pictures of %s not looked up: %s", qPrintable(sample), failure.what());
        m_session.shareFailed(captureFailureText(failure), QString::fromUtf8(failure.what()));
    }
    m_screen.showStatus(m_session.failureStatus(), m_session.failureDetail());
    emit failed(failureMessage(error));
    backToIdle();
}

QString CaptureFlow::replacing(const QString& question, const QString& sample, const QDateTime& newest) const
{
    if (!newest.isValid())
        return question;
    const QDateTime now = m_clock();
    const QLocale locale;
    const QString time = newest.time().toString(QStringLiteral("HH:mm"));
    const QString when = newest.date() == now.date() ? time + QStringLiteral(" today")
        : newest.date() == now.date().addDays(-1)
        ? time + QStringLiteral(" yesterday")
        : locale.toString(newest.date(), QLocale::ShortFormat) + QLatin1Char(' ') + time;
    return question + QLatin1Char('\n') + sample.trimmed() + QStringLiteral(" already has pictures from ")
        + when + QStringLiteral("; Yes replaces them.");
}

void CaptureFlow::askTakeNow(const QString& sample, const QDateTime& newest)
{
    // A scan that ended meanwhile is the sample under the camera now.
    if (!m_keptScan.isEmpty()) {
        m_redoAsked = false;
        m_screen.setNumberText(std::exchange(m_keptScan, QString()));
        armNumber();
        return;
    }
    // A re-take asked for: Redo, or the scan the failure told of.
    const bool redo = std::exchange(m_redoAsked, false) || sample.trimmed() == m_failedSample;
    enter(State::AskingTakeNow);
    // Enter keeps pictures already there; a Redo asked for them to go.
    const Answer answer = m_screen.ask(replacing(QStringLiteral("Take picture now?"), sample, newest),
        QStringLiteral("Take picture"), newest.isValid() && !redo);
    enter(State::Idle);
    if (!answer.scanned.isEmpty()) {
        // Scanned while asked: not this sample, the one just scanned.
        m_screen.setNumberText(answer.scanned);
        armNumber();
        return;
    }
    // A close asked while the question was open wins over its answer.
    if (answer.yes && !m_closeAsked)
        beginTake();
    else
        backToIdle();
}

void CaptureFlow::capture()
{
    if (mayCapture())
        guarded([this] { beginTake(); });
}

void CaptureFlow::beginTake()
{
    const views::View& live = views::named(m_currentView);
    m_take = Take { m_session.currentSample(), &live, &views::other(live), nullptr };
    m_session.beginAttempt();
    enter(State::StillOfLiveCamera);
    try {
        m_store.beginTake(m_take->sample.trimmed());
    } catch (...) {
        stepFailed(std::current_exception());
        return;
    }
    m_camera.beginCapture();
    stillOfLiveCamera();
}

void CaptureFlow::stillOfLiveCamera()
{
    m_camera.SaveStillLater(0, 24, path(*m_take->live, image_store::BmpExtension), QString(),
        later([this](std::exception_ptr error) {
            if (!stepFailed(error))
                switchToSecond();
        }));
}

void CaptureFlow::switchToSecond()
{
    enter(State::Switching);
    // Its result is not looked at; only an error counts as a failure.
    m_camera.SelectCameraLater(
        m_take->second->cameraIndex, later([this](std::int32_t, std::exception_ptr error) {
            if (!stepFailed(error))
                stillOfSecond();
        }));
}

void CaptureFlow::stillOfSecond()
{
    enter(State::StillOfOtherCamera);
    m_camera.SaveStillLater(0, 24, path(*m_take->second, image_store::BmpExtension), QString(),
        later([this](std::exception_ptr error) {
            if (error)
                takeFailed(error);
            switchBack();
        }));
}

void CaptureFlow::switchBack()
{
    enter(State::SwitchingBack);
    // The operator's view comes back while the stills are still being written.
    m_camera.SelectCameraLater(
        m_take->live->cameraIndex, later([this](std::int32_t, std::exception_ptr error) {
            if (error)
                takeFailed(error);
            settle();
        }));
}

void CaptureFlow::settle()
{
    enter(State::Settling);
    // The converters read the bitmaps: both must be in place, and both this
    // take's, first.
    m_store.settleStills(later([this](std::exception_ptr error) {
        // The sample is this bench's until here.
        m_store.endTake();
        if (error) {
            takeFailed(error);
            try {
                std::rethrow_exception(error);
            } catch (const image_store::SampleTakenElsewhere&) {
                // Its pictures may be another bench's, or a mix: nothing is
                // converted, and the operator is told that it must be taken again.
                takeEnded();
                return;
            } catch (...) {
            }
        }
        convert();
    }));
}

void CaptureFlow::convert()
{
    enter(State::Converting);
    // After a failed still too: the converters convert whatever bitmaps
    // are on the share under those names.
    try {
        m_conversions.convert(
            m_take->sample.trimmed(), later([this](std::exception_ptr error) { converted(error); }));
    } catch (...) {
        converted(std::current_exception());
    }
}

void CaptureFlow::converted(std::exception_ptr error)
{
    if (error && m_take->failure) {
        // The take's own cause is what the operator is told; the converters
        // that run after it only have their say in the log.
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& failure) {
            qCWarning(lcWindow, "Converters after the failed take of %s: %s", qPrintable(m_take->sample),
                failure.what());
        }
    } else if (error) {
        takeFailed(error);
    }
    takeEnded();
}

bool CaptureFlow::stepFailed(std::exception_ptr error)
{
    if (!error)
        return false;
    // The rest of the take is skipped; the live camera comes back all the same.
    takeFailed(error);
    switchBack();
    return true;
}

void CaptureFlow::takeFailed(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        qCWarning(lcWindow, "Capture of %s failed: %s", qPrintable(m_take->sample), failure.what());
        m_session.captureFailed(captureFailureText(failure), QString::fromUtf8(failure.what()));
    }
    if (!m_take->failure)
        m_take->failure = error;
}

void CaptureFlow::takeEnded()
{
    m_camera.endCapture();
    const Take take = std::move(*m_take);
    m_take.reset();
    enter(State::Idle);
    // "Scan again": its pictures are the failed take's, asked to go.
    m_failedSample = take.failure ? take.sample.trimmed() : QString();
    const bool unreachable = isOneOf<image_store::ShareUnreachable>(take.failure);
    if (!take.failure)
        m_shareTold = false;
    guarded([this, &take, unreachable] {
        if (take.failure) {
            // Stays in the status line until the next sample is armed.
            m_screen.showStatus(m_session.failureStatus(), m_session.failureDetail());
            // Logged as the take failed.
            if (toldInABox(take.failure))
                emit failed(failureMessage(take.failure));
            if (unreachable)
                tellShareUnreachable();
        } else {
            m_screen.addHistoryLine(m_session.recordCapture(take.sample, m_clock(), QLocale()));
            m_screen.showStatus(QStringLiteral("Images have been captured"));
            if (m_checks)
                m_checks->check(take.sample.trimmed(),
                    m_store.localPath(
                        m_store.imagePath(image_store::ColorPrefix, take.sample, image_store::BmpExtension)),
                    m_store.localPath(m_store.imagePath(
                        image_store::BottomPrefix, take.sample, image_store::BmpExtension)));
            const QString next = CaptureSession::nextSampleNumber(take.sample);
            m_screen.showSampleImages(take.sample);
            if (m_closeAsked) {
                closeAsked();
                return;
            }
            if (m_keptScan.isEmpty()) {
                enter(State::LookingUpPictures);
                m_store.lookUpPictures(next,
                    later([this, taken = take.sample.trimmed(), next](
                              const QDateTime& newest, std::exception_ptr) {
                        guarded([this, taken, next, newest] { askAutoIncrement(taken, next, newest); });
                    }));
                return;
            }
        }
        armNext();
    });
}

void CaptureFlow::askAutoIncrement(const QString& taken, const QString& next, const QDateTime& newest)
{
    // A scan that ended meanwhile answers it No.
    if (!m_keptScan.isEmpty()) {
        armNext();
        return;
    }
    enter(State::AskingAutoIncrement);
    m_askingAfter = taken;
    QString question = QStringLiteral("Auto increment to next sample number (") + next + QLatin1Char(')');
    // What the pictures just taken showed, where known by now.
    if (m_checks)
        for (const PictureChecks::Finding& finding : m_checks->findings(taken))
            question += QLatin1Char('\n') + finding.said;
    const Answer increment
        = m_screen.ask(replacing(question, next, newest), QStringLiteral("Auto Increment"), newest.isValid());
    m_askingAfter.clear();
    enter(State::Idle);
    if (increment.yes)
        m_screen.setNumberText(next);
    else if (!increment.scanned.isEmpty())
        m_screen.setNumberText(increment.scanned);
    else
        runWhenIdle([this] { getNumberNow(); });
    armNext();
}

void CaptureFlow::setPictureChecks(PictureChecks* checks)
{
    m_checks = checks;
    if (m_checks)
        connect(m_checks, &PictureChecks::checked, this, &CaptureFlow::picturesChecked);
}

void CaptureFlow::picturesChecked(const QString& sample, const QList<PictureChecks::Finding>& findings)
{
    if (m_state != State::AskingAutoIncrement || sample != m_askingAfter)
        return;
    for (const PictureChecks::Finding& finding : findings)
        m_screen.addToQuestion(finding.said);
}

void CaptureFlow::armNext()
{
    // A scan made during the take answers No and is armed.
    if (!m_keptScan.isEmpty()) {
        m_screen.setNumberText(std::exchange(m_keptScan, QString()));
        m_whenIdle = nullptr;
    }
    if (m_closeAsked) {
        closeAsked();
        return;
    }
    armNumber();
}

void CaptureFlow::runWhenIdle(std::function<void()> step)
{
    m_whenIdle = std::move(step);
}

void CaptureFlow::backToIdle()
{
    enter(State::Idle);
    if (m_closeAsked) {
        closeAsked();
        return;
    }
    // After the current handling, as a queued Alt+G would.
    if (m_whenIdle || m_startupCheckDue || !m_keptScan.isEmpty())
        QTimer::singleShot(0, this, [this] {
            if (m_state != State::Idle)
                return;
            // A scan made while a step ran is the sample under the camera.
            if (!m_keptScan.isEmpty()) {
                scanned(std::exchange(m_keptScan, QString()));
                return;
            }
            if (std::exchange(m_startupCheckDue, false)) {
                startupTick();
                return;
            }
            if (const auto step = std::exchange(m_whenIdle, nullptr))
                guarded(step);
        });
}

void CaptureFlow::toggleView()
{
    if (!mayCapture())
        return;
    guarded([this] {
        // Only exactly "Color" turns to the bottom view; anything else to colour.
        const views::View& next = m_currentView == views::color().name ? views::bottom() : views::color();
        m_screen.showViewChosen(next);
        m_currentView = next.name;
        enter(State::SwitchingView);
        // Its result is not looked at here.
        m_camera.SelectCameraLater(next.cameraIndex, later([this](std::int32_t, std::exception_ptr error) {
            if (error)
                report(error);
            backToIdle();
        }));
    });
}

void CaptureFlow::showHistoryEntry(int index)
{
    // No selection, or nothing captured yet: there is no entry to show.
    if (!mayReview() || index < 0 || index >= m_session.capturedCount())
        return;
    guarded([this, index] { m_screen.showSampleImages(m_session.capturedSamples()[index]); });
}

void CaptureFlow::redo()
{
    if (!mayReview())
        return;
    guarded([this] {
        m_screen.hideReviewButtons();
        m_screen.setNumberText(m_screen.shownSampleCaption());
        m_redoAsked = true;
        armNumber();
    });
}

void CaptureFlow::deleteShown()
{
    if (!mayReview())
        return;
    guarded([this] {
        const QString sample = m_screen.shownSampleCaption();
        // A conversion still at work writes nothing now: not a failure, and
        // no longer at work.
        for (const views::View* view : views::all())
            m_conversions.forget(view->filePrefix, sample.trimmed());
        enter(State::Deleting);
        m_store.deleteJpegs(sample, later([this](std::exception_ptr error) {
            // A JPEG that cannot be deleted (read-only, locked) is reported.
            if (error)
                report(error);
            backToIdle();
        }));
    });
}

void CaptureFlow::scanned(const QString& number)
{
    if (busy()) {
        // One kept: the last scan is the sample under the camera.
        m_keptScan = number;
        return;
    }
    if (m_state != State::Idle)
        return;
    guarded([this, number] {
        m_screen.setNumberText(number);
        armNumber();
    });
}

void CaptureFlow::typedDigitsPaused()
{
    if (m_state == State::Idle)
        guarded([this] { getNumberNow(); });
}

bool CaptureFlow::closeAsked()
{
    if (m_state == State::Closed)
        return true;
    // Never inside a take, nor under a question or the dialog: the answer
    // would go on after the window has gone.
    if (m_take || m_state == State::AskingTakeNow || m_state == State::AskingAutoIncrement
        || m_state == State::ScanDialogOpen) {
        m_closeAsked = true;
        return false;
    }
    const int converting = m_conversions.converting();
    if (converting > 0 && m_state != State::FinishingConversions) {
        enter(State::FinishingConversions);
        conversionsMoved();
        QTimer::singleShot(FinishingBound, this, [this] {
            if (m_state == State::FinishingConversions)
                closeAsked();
        });
        return false;
    }
    // Of this run's history: a failed take's converters were told then.
    QStringList left = m_conversions.samplesLeftWithoutJpeg();
    const QStringList captured = m_session.capturedSamples();
    left.removeIf([&captured](const QString& sample) {
        return std::none_of(captured.begin(), captured.end(),
            [&sample](const QString& entry) { return entry.trimmed() == sample; });
    });
    if (!left.isEmpty())
        qCWarning(lcWindow, "Closing with samples left without JPEG: %s",
            qPrintable(left.join(QStringLiteral(", "))));
    enter(State::Closed);
    m_screen.unloadScanDialog();
    m_screen.closeWindow();
    return true;
}

void CaptureFlow::conversionsMoved()
{
    if (m_state != State::FinishingConversions)
        return;
    const int converting = m_conversions.converting();
    if (converting == 0) {
        closeAsked();
        return;
    }
    m_screen.showStatus(converting == 1 ? QStringLiteral("Finishing 1 conversion\u2026")
                                        : QStringLiteral("Finishing %1 conversions\u2026").arg(converting));
}
