#pragma once

#include "camera/camera_control.h"
#include "capture_window/capture_flow.h"
#include "capture_window/capture_session.h"
#include "capture_window/closer_look.h"
#include "capture_window/conversion_watch.h"
#include "capture_window/prompts.h"
#include "capture_window/results_view.h"
#include "image_store/image_store.h"
#include "scan_dialog/scan_collector.h"
#include "scan_dialog/scan_dialog_access.h"

#include <QDateTime>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class Form_ImageMaker;
}
class QKeyEvent;

// What the capture window is given rather than makes: the camera behind
// LiveCam1, the image store, the message boxes, the clock and the way the
// scan dialog is shown.
struct CaptureWindowServices {
    camera::CameraDispatch& camera;
    image_store::ImageStore& store;
    Prompts& prompts;
    // The digits of the program's keys; the prompts' boxes use the same one.
    ScanCollector& scans;
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTime(); };
    // How the scan dialog is shown; by default modally, on its own.
    ScanDialogAccess::ShowModal showScanDialog = {};
    // After a conversion the share failed, it is tried again after each of these.
    std::vector<std::chrono::milliseconds> conversionRetryDelays = ConversionWatch::defaultRetryDelays();
    // What checks the take's pictures; none when null.
    PictureChecks* checks = nullptr;
};

// The main window: it builds the widgets, forwards the operator's actions
// to the capture flow and shows its state; what may run now (buttons, their
// Alt+letters, closing) follows from that state.
class Form_ImageMaker : public QWidget, private FlowScreen, private ScanTaker {
    Q_OBJECT
public:
    explicit Form_ImageMaker(CaptureWindowServices services, QWidget* parent = nullptr);
    ~Form_ImageMaker() override;

    void ShowSampleImages(const QString& sample) { m_results->ShowSampleImages(sample); }
    // Arms the number in the scan dialog and asks "Take picture now?" once
    // its pictures are looked up; Yes takes the picture.
    void AcceptSampleNumber() { m_flow.acceptSampleNumber(); }

    const QString& currentView() const { return m_flow.currentView(); }
    const QString& currentSample() const { return m_flow.session().currentSample(); }
    const QStringList& capturedSamples() const { return m_flow.session().capturedSamples(); }
    qint64 capturedCount() const { return m_flow.session().capturedCount(); }
    ScanDialogAccess& scanDialog() { return m_scanDialog; }
    const CaptureFlow& flow() const { return m_flow; }

    static constexpr int StartupCheckDelayMs = 1000;
    static inline const QString ConvertingText = ResultsView::ConvertingText;
    static inline const QString ConversionFailedText = ResultsView::ConversionFailedText;

signals:
    // A picture of the displayed sample was put in the panel.
    void pictureShown(const QString& viewPrefix, const QString& sample);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The live camera, or the shown sample's JPEG of a view, at full size.
    void lookCloserAtLive();
    void lookCloserAtPicture(const QString& viewPrefix);
    void openCloserLook();
    void showEvent(QShowEvent* event) override;

private:
    // Set-up, in the order the constructor runs it.
    void setUpLayout();
    void setUpArtwork();
    void setUpAccessibleNames();
    void setUpTimers();
    void connectHandlers();
    void formLoad();

    void report(const QString& what);

    // Digits while no dialog or question is open: a step that runs keeps a
    // scan for after it; a box that only tells something keeps it until it
    // has closed.
    void scanEnded(const QString& number) override;
    void notASampleNumber() override;
    bool typedEnded(const QKeyEvent& key) override;
    void typedPaused() override;

    // The flow's screen.
    QString numberText() override;
    void setNumberText(const QString& text) override;
    bool showScanDialog() override;
    void unloadScanDialog() override;
    Answer ask(const QString& text, const QString& title, bool noByDefault) override;
    void addToQuestion(const QString& line) override;
    void tell(const QString& text) override;
    void showArmed(const QString& sample) override;
    void showNothingArmed() override;
    void showStatus(const QString& text, const QString& detail = {}) override;
    void addHistoryLine(const QString& line) override;
    void showSampleImages(const QString& sample) override { m_results->ShowSampleImages(sample); }
    QString shownSampleCaption() override;
    void hideReviewButtons() override { m_results->hideReviewButtons(); }
    void showViewChosen(const views::View& view) override;
    void stateChanged() override;
    void closeWindow() override;

    std::unique_ptr<Ui::Form_ImageMaker> ui;
    camera::CameraDispatch& m_camera;
    image_store::ImageStore& m_store;
    Prompts& m_prompts;
    ScanCollector& m_scans;
    ScanDialogAccess m_scanDialog;
    QTimer* Timer1 = nullptr;
    ConversionWatch m_conversions;
    CaptureFlow m_flow;
    std::unique_ptr<ResultsView> m_results;
    // The control that had the focus before a step disabled it.
    QPointer<QWidget> m_focusBeforeBusy;
    QPointer<CloserLook> m_closerLook;
};
