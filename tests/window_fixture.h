#pragma once

#include "camera/gst_camera.h"
#include "camera/live_view.h"
#include "camera_socket.h"
#include "capture_window/capture_window.h"
#include "scan_dialog/frm_wo.h"
#include "test_support.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include <functional>

// Records each command line and hands it on to the real launcher.
class RecordingLauncher final : public image_store::ProcessLauncher {
public:
    explicit RecordingLauncher(const image_store::ShareMap& share)
        : m_real(share)
    {
    }
    Prepared prepare(const QString& commandLine, int windowStyle) override
    {
        commands << commandLine;
        return m_real.prepare(commandLine, windowStyle);
    }
    void watch(const image_store::Spawned& spawned, Finished finished) override
    {
        m_real.watch(spawned, std::move(finished));
    }
    QStringList commands;

private:
    image_store::SpawnLauncher m_real;
};

// Passes every call on to the real camera; tells of each capture as it
// begins, and of each still just before and just after it is saved.
class StillWatch final : public camera::CameraDispatch {
public:
    using Hook = std::function<void(const QString& path)>;
    StillWatch(camera::CameraDispatch& real, Hook before, Hook after = {})
        : m_real(real)
        , m_before(std::move(before))
        , m_after(std::move(after))
    {
    }
    camera::Result invoke(
        std::int32_t dispid, camera::DispatchKind kind, std::vector<camera::Argument>& args) override
    {
        if (dispid != camera::operation::SaveStill.dispid)
            return m_real.invoke(dispid, kind, args);
        const QString path = camera::ArgumentReader(camera::operation::SaveStill, args).stringRefAt(2);
        if (m_before)
            m_before(path);
        camera::Result result = m_real.invoke(dispid, kind, args);
        if (m_after)
            m_after(path);
        return result;
    }
    void invokeLater(std::int32_t dispid, camera::DispatchKind kind, std::vector<camera::Argument> args,
        Done done) override
    {
        if (dispid != camera::operation::SaveStill.dispid) {
            m_real.invokeLater(dispid, kind, std::move(args), std::move(done));
            return;
        }
        const QString path = camera::ArgumentReader(camera::operation::SaveStill, args).stringRefAt(2);
        if (m_before)
            m_before(path);
        m_real.invokeLater(dispid, kind, std::move(args),
            [path, after = m_after, done = std::move(done)](
                const camera::Result& result, std::exception_ptr error) {
                if (after)
                    after(path);
                done(result, error);
            });
    }
    void attachView(camera::LiveView* view) override { m_real.attachView(view); }
    void beginCapture() override
    {
        if (beginning)
            beginning();
        m_real.beginCapture();
    }
    void endCapture() override { m_real.endCapture(); }
    // Runs as a capture begins.
    std::function<void()> beginning;

private:
    camera::CameraDispatch& m_real;
    Hook m_before;
    Hook m_after;
};

inline std::string solidSource(const char* pattern)
{
    return std::string("videotestsrc is-live=true pattern=") + pattern
        + " ! video/x-raw,width=160,height=120,framerate=60/1";
}

// The real window on real cameras (bottom red, colour green), a temporary
// share with the real converter, and scripted message boxes.
struct WindowFixture {
    TempShare share;
    image_store::ShareWorker shareWorker;
    RecordingLauncher launcher { share.map() };
    image_store::ImageStore store { share.map(), launcher, shareWorker };
    // Each camera sits in a socket that a test may pull it out of.
    camera::GstCamera camera;
    // What the window calls; a test may put a fault-injecting layer here,
    // kept in `layer` so that it outlives the window.
    camera::CameraDispatch* dispatch = &camera;
    std::unique_ptr<camera::CameraDispatch> layer;
    ScriptedPrompts prompts;
    // The boxes the window uses: scripted, unless a test puts real ones here.
    Prompts* promptsInUse = &prompts;
    ScanCollector scanCollector;
    ScriptedScanDialog scans;
    QDateTime now = QDateTime(QDate(2026, 12, 8), QTime(16, 5, 9));
    std::vector<std::chrono::milliseconds> conversionRetryDelays = ConversionWatch::defaultRetryDelays();
    std::unique_ptr<Form_ImageMaker> window;

    // Checks the takes' pictures when set before open().
    std::unique_ptr<PictureChecks> checks;

    explicit WindowFixture(std::chrono::milliseconds shareBound = image_store::ShareWorker::DefaultBound,
        const std::string& colourSource = solidSource("green"))
        : shareWorker(shareBound)
        , camera({ camera::CameraSource { camera_socket::in(solidSource("red"), 0) },
                     camera::CameraSource { camera_socket::in(colourSource, 1) } },
              store.stills())
    {
        camera_socket::registerElement();
        camera_socket::plugIn(0);
        camera_socket::plugIn(1);
    }

    // A box a failing test left open would block the next test's window.
    ~WindowFixture()
    {
        window.reset();
        while (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    }

    void open()
    {
        window = std::make_unique<Form_ImageMaker>(
            CaptureWindowServices { *dispatch, store, *promptsInUse, scanCollector, [this] { return now; },
                [this](Frm_Wo& dialog) { scans.show(dialog); }, conversionRetryDelays, checks.get() });
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        // Both cameras checked, as the operator finds the window.
        QVERIFY(QTest::qWaitFor(
            [&] { return window->flow().state() != CaptureFlow::State::StartingCameras; }, 10000));
    }
    template <typename T = QWidget> T* child(const char* name) { return window->findChild<T*>(name); }
    // Until no take or other step waits on a camera or the share.
    bool settled(int timeoutMs = 20000)
    {
        return QTest::qWaitFor([&] { return !window || !window->flow().busy(); }, timeoutMs);
    }
    QString text(const char* label) { return child<QLabel>(label)->text(); }

    // What a scanner does: eight digits and an Enter into the shown dialog.
    static ScriptedScanDialog::Action scan(const QString& number)
    {
        return [number](QWidget* dialog) {
            QTest::keyClicks(dialog->focusWidget(), number);
            QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
        };
    }
    static ScriptedScanDialog::Action press(const char* button)
    {
        return [button](QWidget* dialog) { dialog->findChild<QPushButton*>(button)->click(); };
    }
    // Whether the live view shows that camera's colour, soon.
    bool liveShows(QColor colour)
    {
        auto* view = child<camera::LiveView>("LiveCam1");
        return QTest::qWaitFor([&] { return mostlyColour(view->frame(), colour); }, 3000);
    }
    QImage picture(const char* box) { return child<QLabel>(box)->pixmap().toImage(); }
    QString sampleFile(const QString& name) { return share.sampleFile(name); }
};
