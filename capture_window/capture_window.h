#pragma once

#include "camera/camera_control.h"
#include "capture_window/busy_input.h"
#include "capture_window/capture_session.h"
#include "capture_window/conversion_watch.h"
#include "capture_window/held_calls.h"
#include "capture_window/prompts.h"
#include "image_store/image_store.h"
#include "scan_dialog/scan_detector.h"
#include "scan_dialog/scan_dialog_access.h"

#include <QDateTime>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class Form_ImageMaker;
}
class QKeyEvent;
class QLabel;

// What the capture window is given rather than makes: the camera behind
// LiveCam1, the image store, the message boxes, the clock and the way the
// scan dialog is shown.
struct CaptureWindowServices {
    camera::CameraDispatch& camera;
    image_store::ImageStore& store;
    Prompts& prompts;
    // What a scan is; the prompts' boxes use the same one.
    ScanDetector& scans;
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTime(); };
    // How the scan dialog is shown; by default modally, on its own.
    ScanDialogAccess::ShowModal showScanDialog = {};
    // After a conversion the share failed, it is tried again after each of these.
    std::vector<std::chrono::milliseconds> conversionRetryDelays = ConversionWatch::defaultRetryDelays();
};

// The main window: live view, arming, capture, history and review.
class Form_ImageMaker : public QWidget {
    Q_OBJECT
public:
    explicit Form_ImageMaker(CaptureWindowServices services, QWidget* parent = nullptr);
    ~Form_ImageMaker() override;

    // Start-up and display.
    void InitCameras();
    void ShowSampleImages(const QString& sample);

    // Arming. Returns whether the operator asked to take the picture now;
    // the caller then runs the capture chain.
    bool AcceptSampleNumber();
    void CheckSampleOnStartup();

    // Capture.
    bool CaptureViews();
    void RecordCapture();

    const QString& currentView() const { return CurrentView; }
    const QString& currentSample() const { return m_session.currentSample(); }
    const QStringList& capturedSamples() const { return m_session.capturedSamples(); }
    qint64 capturedCount() const { return m_session.capturedCount(); }
    ScanDialogAccess& scanDialog() { return m_scanDialog; }

    static constexpr int StartupCheckDelayMs = 1000;
    static constexpr int ConvertingNoticeMs = 500;
    static inline const QString ConvertingText = QStringLiteral("Converting…");
    static inline const QString ConversionFailedText = QStringLiteral("Conversion failed");

signals:
    // A picture of the displayed sample was put in the panel.
    void pictureShown(const QString& viewPrefix, const QString& sample);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Set-up, in the order the constructor runs it.
    void setUpLayout();
    void setUpArtwork();
    void setUpAccessibleNames();
    void setUpTimers();
    void connectHandlers();

    // Event handlers.
    void formLoad();
    void cmd_View_Click();
    void cmd_Close_Click();
    void Timer1_Timer();
    void cmd_wo_Click();
    void cmd_capture_Click();
    void lst_Captured_DblClick();
    void cmd_Redo_Click();
    void cmd_Delete_Click();

    // Steps of the handlers above.
    void getWoAction(bool showDialog = true);
    void openScanDialogLater();
    // Digits typed while no dialog was open: collected for the scan dialog.
    bool scanKeyTyped(QObject* watched, const QKeyEvent& key, ScanDetector::Kind kind);
    void typedScanEnded(bool byEnter);
    void captureChain();
    void captureAction();
    void finishCapture(qint16 returnCamera, bool convert = true);
    void showCaptureFailure();
    void runStartupCheckWhenIdle();
    void enterWaiting();

    // A picture of the shown sample: its JPEG once its conversion ended well,
    // nothing while it runs, "Conversion failed" when it did.
    void loadPicture(const QString& viewPrefix);
    // `take` is the conversion's take the picture was read for.
    void placePicture(const QString& viewPrefix, const QString& sample, quint64 take, const QImage& picture,
        const QString& failure);
    // "Converting…" in the picture's box once its conversion has run for
    // ConvertingNoticeMs, unless it has ended by then.
    void sayConvertingWhenSlow(const QString& viewPrefix);
    void showBoxText(const QString& viewPrefix, const QString& text);
    QLabel* pictureBox(const QString& viewPrefix) const;
    QSize pictureSize(const QString& viewPrefix) const;
    void conversionEnded(const QString& viewPrefix, const QString& sample);

    // The status line: `text` for the operator, `detail` in its tooltip and
    // for a screen reader.
    void showStatus(const QString& text, const QString& detail = {});
    void renderStatus();
    // A conversion's failure, once it is known: its picture box if the
    // sample is shown, its history line, and the status line unless another
    // sample was armed since.
    void conversionFailed(const QString& viewPrefix, const QString& sample);
    void markHistory(const QString& sample);

    // Runs a handler; an error it does not trap is shown and the program goes on.
    void guarded(const std::function<void()>& handler);
    void report(const std::exception& error);

    std::unique_ptr<Ui::Form_ImageMaker> ui;
    camera::LiveCamera m_camera;
    image_store::ImageStore& m_store;
    Prompts& m_prompts;
    std::function<QDateTime()> m_clock;
    ScanDetector& m_scans;
    ScanDialogAccess m_scanDialog;
    QTimer* Timer1 = nullptr;
    HeldCalls m_held;
    // Window handling under way, a question's wait included.
    int m_handling = 0;
    BusyInput m_busyInput { *this, m_held, [this] { return m_handling > 0; } };

    QString CurrentView;
    CaptureSession m_session;

    ConversionWatch m_conversions;
    // The sample whose pictures the panel shows; empty when none.
    QString m_shownSample;
    // The status line as last said, before the count of samples without JPEGs.
    QString m_statusText;
    QString m_statusDetail;
    // A pause after digits typed into the window ends them without an Enter.
    QTimer m_typedScanPause;
};
