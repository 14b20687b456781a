#pragma once

#include "camera/camera_control.h"
#include "capture_window/capture_session.h"
#include "capture_window/picture_checks.h"
#include "capture_window/prompts.h"
#include "capture_window/views.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

#include <exception>
#include <chrono>
#include <functional>
#include <optional>

class ConversionWatch;
namespace image_store {
class ImageStore;
}

// The window's side of the flow: what it shows and asks. The modal boxes
// and the scan dialog return once answered; nothing else waits.

class FlowScreen {
public:
    virtual ~FlowScreen() = default;
    // The scan dialog's number label, the one place a pending number is held.
    virtual QString numberText() = 0;
    virtual void setNumberText(const QString& text) = 0;
    // Shows the scan dialog modally; true when the operator chose Exit.
    virtual bool showScanDialog() = 0;
    virtual void unloadScanDialog() = 0;
    // Yes is the default answer, unless `noByDefault`.
    virtual Answer ask(const QString& text, const QString& title, bool noByDefault = false) = 0;
    // A line under the text of the question that is open now.
    virtual void addToQuestion(const QString& line) = 0;
    virtual void tell(const QString& text) = 0;
    virtual void showArmed(const QString& sample) = 0;
    virtual void showNothingArmed() = 0;
    virtual void showStatus(const QString& text, const QString& detail = {}) = 0;
    virtual void addHistoryLine(const QString& line) = 0;
    virtual void showSampleImages(const QString& sample) = 0;
    // The sample whose pictures the panel shows, as its caption says.
    virtual QString shownSampleCaption() = 0;
    virtual void hideReviewButtons() = 0;
    virtual void showViewChosen(const views::View& view) = 0;
    // What may run now has changed: buttons, their Alt+letters, closing.
    virtual void stateChanged() = 0;
    virtual void closeWindow() = 0;
};

// The capture flow, step by step: start-up, arming, the capture sequence
// and the review actions, as named states and the events that move between
// them. Every step that needs a camera or the share sends a request and
// goes on when its answer comes back; the window forwards the operator's
// actions here and shows what follows. Each take carries its own sample
// number from arming to its converters and its history line.
//
// clang-format off
//   state                 event                               next
//   StartingCameras       cameras and share checked           Idle
//   Idle                  Get Wo, start-up check              ScanDialogOpen
//   ScanDialogOpen        OK or Cancel                        LookingUpPictures, Idle
//   ScanDialogOpen        Exit                                Closed
//   Idle                  a scan, Redo                        LookingUpPictures
//   LookingUpPictures     the sample's pictures found or not  AskingTakeNow
//   LookingUpPictures     the share did not answer            Idle
//   AskingTakeNow         Yes                                 StillOfLiveCamera
//   AskingTakeNow         No                                  Idle
//   AskingTakeNow         a scan                              LookingUpPictures
//   Idle                  capture                             StillOfLiveCamera
//   StillOfLiveCamera     still saved                         Switching
//   StillOfLiveCamera     still failed                        SwitchingBack
//   Switching             other camera ready                  StillOfOtherCamera
//   Switching             other camera failed                 SwitchingBack
//   StillOfOtherCamera    still saved or failed               SwitchingBack
//   SwitchingBack         live camera ready or failed         Settling
//   Settling              stills in place, or failed          Converting
//   Settling              another bench took it               Idle
//   Converting            converters started                  LookingUpPictures
//   Converting            converters failed                   Idle
//   LookingUpPictures     the next number's pictures found    AskingAutoIncrement
//   AskingAutoIncrement   Yes, or a scan                      LookingUpPictures
//   AskingAutoIncrement   No                                  Idle
//   Idle                  view toggle                         SwitchingView
//   SwitchingView         camera ready or failed              Idle
//   Idle                  Delete                              Deleting
//   Deleting              deleted or failed                   Idle
//   Idle                  close asked, no conversion running  Closed
//   Idle                  close asked, conversions running    FinishingConversions
//   FinishingConversions  conversions ended, bound, close     Closed
// clang-format on
//
// A close asked during a take, or under a question, waits until it is over.
//
// A scan that ends during a take is kept, one, and answers the take's
// "Auto Increment" No and arms itself when the take is over.
class CaptureFlow final : public QObject {
    Q_OBJECT
public:
    enum class State {
        StartingCameras,
        Idle,
        ScanDialogOpen,
        LookingUpPictures,
        AskingTakeNow,
        StillOfLiveCamera,
        Switching,
        StillOfOtherCamera,
        SwitchingBack,
        Settling,
        Converting,
        AskingAutoIncrement,
        SwitchingView,
        Deleting,
        // Closing, once the conversions under way have ended.
        FinishingConversions,
        Closed,
    };
    static const char* name(State state);
    static inline const QString ShareUnreachableStatus
        = QStringLiteral("Sample folder not reached: check the share");

    CaptureFlow(camera::CameraDispatch& camera, image_store::ImageStore& store, ConversionWatch& conversions,
        FlowScreen& screen, std::function<QDateTime()> clock);

    // What the take's pictures say of its sample, when a bench checks them.
    void setPictureChecks(PictureChecks* checks);

    State state() const { return m_state; }
    // A request to a camera or the share is under way.
    bool busy() const;
    // The operator's commands that act now, as the buttons show them.
    bool mayCapture() const { return m_state == State::Idle && m_captureEnabled; }
    bool mayGetNumber() const { return m_state == State::Idle; }
    bool mayReview() const { return m_state == State::Idle; }
    // A take is under way, from its first still to its converters.
    bool taking() const { return m_take.has_value(); }

    const CaptureSession& session() const { return m_session; }
    const QString& currentView() const { return m_currentView; }
    bool captureEnabled() const { return m_captureEnabled; }

    // Events.
    void start();
    void startupTick();
    void getNumber();
    void capture();
    void toggleView();
    void showHistoryEntry(int index);
    void redo();
    void deleteShown();
    // A whole number scanned while no dialog or question was open.
    void scanned(const QString& number);
    // Digits typed into the window that ended without an Enter: the dialog
    // opens to go on with them.
    void typedDigitsPaused();
    // False when the close must wait until the take is over, or until the
    // conversions under way end (a second close does not wait for those).
    bool closeAsked();
    // Longest a close waits for conversions: enough for a retry or two.
    static constexpr std::chrono::seconds FinishingBound { 30 };

    // Arms the number in the scan dialog's label, looks up the pictures it
    // already has and asks "Take picture now?"; Yes takes the picture.
    // Only while idle.
    void acceptSampleNumber();

signals:
    // A step failed in a way the operator must be told of in a box.
    void failed(const QString& what);
    // Once the screen has followed the new state.
    void stateEntered(CaptureFlow::State state);

private:
    struct Take {
        QString sample;
        const views::View* live = nullptr;
        const views::View* second = nullptr;
        // The first failure: the cause the operator is told.
        std::exception_ptr failure;
    };
    // An answer that comes after the flow is gone goes nowhere.
    template <typename Call> auto later(Call call)
    {
        return [flow = QPointer<CaptureFlow>(this), call = std::move(call)](auto&&... answer) {
            if (flow)
                call(std::forward<decltype(answer)>(answer)...);
        };
    }
    void enter(State state);
    void runWhenIdle(std::function<void()> step);
    void camerasStarted(std::exception_ptr error);
    void bottomChecked(std::int32_t bottom, std::exception_ptr error);
    // Whether the share's sample folder is there to write in; told if not.
    void checkShare();
    void tellShareUnreachable();
    void getNumberNow();
    void armNumber();
    // The question, with a line under it when a take would replace the
    // sample's pictures.
    QString replacing(const QString& question, const QString& sample, const QDateTime& newest) const;
    void lookUpFailed(const QString& sample, std::exception_ptr error);
    void askTakeNow(const QString& sample, const QDateTime& newest);
    void askAutoIncrement(const QString& taken, const QString& next, const QDateTime& newest);
    // The checks of a take that end while its question is open add to it.
    void picturesChecked(const QString& sample, const QList<PictureChecks::Finding>& findings);
    // After a take: the number scanned meanwhile, or the one the dialog holds.
    void armNext();
    // Takes the armed sample, and the chain of samples that follows.
    void beginTake();
    void stillOfLiveCamera();
    void switchToSecond();
    void stillOfSecond();
    void switchBack();
    void settle();
    void convert();
    void converted(std::exception_ptr error);
    void takeEnded();
    // While closing: says how many are left, and closes when none is.
    void conversionsMoved();
    void takeFailed(std::exception_ptr error);
    // True, and the camera switched back, when a step's answer is a failure.
    bool stepFailed(std::exception_ptr error);
    void backToIdle();
    void report(const std::exception& error);
    void report(std::exception_ptr error);
    // Runs a step; an error it does not trap is told and the flow goes on idle.
    void guarded(const std::function<void()>& step);
    QString path(const views::View& view, const QString& extension) const;

    camera::LiveCamera m_camera;
    image_store::ImageStore& m_store;
    ConversionWatch& m_conversions;
    FlowScreen& m_screen;
    PictureChecks* m_checks = nullptr;
    std::function<QDateTime()> m_clock;

    State m_state = State::StartingCameras;
    CaptureSession m_session;
    QString m_currentView;
    bool m_captureEnabled = false;
    std::optional<Take> m_take;
    // A scan that ended while a take was under way.
    QString m_keptScan;
    // The sample just taken, while the question after it is open.
    QString m_askingAfter;
    bool m_closeAsked = false;
    // The question that follows is for a re-take the operator asked for.
    bool m_redoAsked = false;
    // The sample of the take that failed last, until another take ends.
    QString m_failedSample;
    // The operator was told in a box that the share cannot be reached.
    bool m_shareTold = false;
    bool m_startupCheckDue = false;
    std::function<void()> m_whenIdle;
};
