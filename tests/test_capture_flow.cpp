// The capture flow alone, with a camera whose answers the test hands out in
// any order and as late as it likes, on a real store in a temporary share.

#include "capture_window/capture_flow.h"
#include "capture_window/conversion_watch.h"
#include "test_support.h"

#include <QtTest>

#include <deque>

namespace {

using camera::Argument;
using camera::DispatchKind;
using camera::Result;

// Answers SelectCamera and SaveStill only when the test says so.
class HeldCamera final : public camera::CameraDispatch {
public:
    struct Call {
        QString what;
        Done done;
    };
    Result invoke(std::int32_t dispid, DispatchKind, std::vector<Argument>& arguments) override
    {
        calls << describe(dispid, arguments);
        return dispid == camera::operation::SelectCamera.dispid ? Result { 1 } : Result {};
    }
    void invokeLater(
        std::int32_t dispid, DispatchKind kind, std::vector<Argument> arguments, Done done) override
    {
        if (dispid == camera::operation::StartControl.dispid) {
            CameraDispatch::invokeLater(dispid, kind, std::move(arguments), std::move(done));
            return;
        }
        calls << describe(dispid, arguments);
        held.push_back({ calls.last(), std::move(done) });
    }
    void attachView(camera::LiveView*) override { }
    // Answers the oldest held call.
    void answer(std::exception_ptr error = nullptr)
    {
        QVERIFY(!held.empty());
        const Call call = held.front();
        held.pop_front();
        call.done(call.what.startsWith("select") ? Result { 1 } : Result {}, error);
    }
    // Answers every call as it comes, until `until` holds.
    bool answerAll(const std::function<bool()>& until)
    {
        return QTest::qWaitFor(
            [&] {
                while (!held.empty())
                    answer();
                return until();
            },
            10000);
    }

    QStringList calls;
    std::deque<Call> held;

private:
    static QString describe(std::int32_t dispid, std::vector<Argument>& arguments)
    {
        if (dispid == camera::operation::SelectCamera.dispid)
            return "select " + QString::number(std::get<std::int32_t>(arguments.front()));
        if (dispid == camera::operation::SaveStill.dispid)
            return "still " + std::get<QString*>(arguments[1])->section('\\', -1);
        return "op " + QString::number(dispid);
    }
};

class RecordingScreen final : public FlowScreen {
public:
    QString numberText() override { return number; }
    void setNumberText(const QString& text) override { number = text; }
    bool showScanDialog() override
    {
        log << "dialog";
        number.clear();
        return false;
    }
    void unloadScanDialog() override { }
    Answer ask(const QString& text, const QString&, bool) override
    {
        log << "ask " + text;
        const bool yes = !answers.empty() && answers.front();
        if (!answers.empty())
            answers.pop_front();
        return { yes, {} };
    }
    void addToQuestion(const QString& line) override { log << "added " + line; }
    void tell(const QString& text) override { log << "tell " + text; }
    void showArmed(const QString& sample) override { log << "armed " + sample; }
    void showNothingArmed() override { log << "waiting"; }
    void showStatus(const QString& text, const QString&) override { log << "status " + text; }
    void addHistoryLine(const QString& line) override { log << "history " + line.left(8); }
    void showSampleImages(const QString& sample) override { log << "show " + sample; }
    QString shownSampleCaption() override { return shown; }
    void hideReviewButtons() override { }
    void showViewChosen(const views::View& view) override { log << "view " + view.name; }
    void stateChanged() override { }
    void closeWindow() override { log << "closed"; }

    QString number;
    QString shown;
    std::deque<bool> answers;
    QStringList log;
};

} // namespace

class TestCaptureFlow : public QObject {
    Q_OBJECT
    std::unique_ptr<TempShare> share;
    std::unique_ptr<image_store::ShareWorker> worker;
    std::unique_ptr<image_store::SpawnLauncher> launcher;
    std::unique_ptr<image_store::ImageStore> store;
    std::unique_ptr<ConversionWatch> conversions;
    HeldCamera* camera = nullptr;
    std::unique_ptr<HeldCamera> ownCamera;
    RecordingScreen screen;
    std::unique_ptr<CaptureFlow> flow;

    void startArmed(const QString& sample)
    {
        flow->start();
        QVERIFY(camera->answerAll([&] { return flow->state() == CaptureFlow::State::Idle; }));
        screen.number = sample;
        screen.answers = { false };
        flow->acceptSampleNumber();
        QTRY_VERIFY(flow->state() == CaptureFlow::State::Idle);
        camera->calls.clear();
        screen.log.clear();
    }

private slots:
    void init()
    {
        share = std::make_unique<TempShare>();
        worker = std::make_unique<image_store::ShareWorker>();
        launcher = std::make_unique<image_store::SpawnLauncher>(share->map());
        store = std::make_unique<image_store::ImageStore>(share->map(), *launcher, *worker);
        conversions = std::make_unique<ConversionWatch>(*store);
        ownCamera = std::make_unique<HeldCamera>();
        camera = ownCamera.get();
        screen = RecordingScreen();
        flow = std::make_unique<CaptureFlow>(*camera, *store, *conversions, screen,
            [] { return QDateTime(QDate(2026, 12, 8), QTime(16, 5, 9)); });
    }
    void cleanup()
    {
        flow.reset();
        conversions.reset();
    }

    // Each step waits for its answer; what the operator asks meanwhile acts
    // on nothing, and a close waits for the take's end.
    void take_goesStepByStep_ignoresCommandsMeanwhile_andClosesAfterIt()
    {
        startArmed("00000099");
        flow->capture();
        QCOMPARE(flow->state(), CaptureFlow::State::StillOfLiveCamera);
        QCOMPARE(camera->calls, QStringList { "still CLR_00000099_01.bmp" });
        // Another number armed meanwhile must not rename this take.
        screen.shown = "00000098";
        flow->redo();
        flow->getNumber();
        flow->capture();
        flow->toggleView();
        flow->deleteShown();
        QVERIFY(!flow->closeAsked());
        QCOMPARE(camera->calls.size(), 1);
        QVERIFY(screen.log.isEmpty());

        const QStringList steps { "select 0", "still BTM_00000099_01.bmp", "select 1" };
        const CaptureFlow::State states[] { CaptureFlow::State::Switching,
            CaptureFlow::State::StillOfOtherCamera, CaptureFlow::State::SwitchingBack };
        for (int i = 0; i < 3; ++i) {
            camera->answer();
            QCOMPARE(camera->calls.last(), steps[i]);
            QCOMPARE(flow->state(), states[i]);
            QVERIFY(flow->taking());
        }
        camera->answer();
        QCOMPARE(flow->state(), CaptureFlow::State::Settling);
        QTRY_COMPARE(flow->state(), CaptureFlow::State::Closed);
        QCOMPARE(flow->session().capturedSamples(), QStringList { "00000099" });
        // The close then waits for the take's conversions (one may have
        // ended by then), and says so.
        QCOMPARE(screen.log.mid(0, 3),
            (QStringList { "history 00000099", "status Images have been captured", "show 00000099" }));
        QVERIFY2(screen.log.value(3).startsWith("status Finishing "), qPrintable(screen.log.join('|')));
        QCOMPARE(screen.log.last(), QString("closed"));
        QCOMPARE(conversions->converting(), 0);
    }

    // A failed still: the camera is switched back and the converters run,
    // but nothing is recorded, nothing asked, and a scan made meanwhile is
    // armed in its place.
    void failedStill_switchesBack_recordsNothing_andArmsAScanMadeMeanwhile()
    {
        startArmed("00000100");
        flow->capture();
        flow->scanned("00000200");
        camera->answer(std::make_exception_ptr(camera::CameraError("no frame")));
        QCOMPARE(camera->calls.last(), QString("select 1"));
        screen.answers = { false };
        camera->answer();
        QTRY_COMPARE(flow->state(), CaptureFlow::State::Idle);
        QVERIFY(flow->session().capturedSamples().isEmpty());
        QCOMPARE(screen.log.filter("ask "), QStringList { "ask Take picture now?" });
        QCOMPARE(flow->session().currentSample(), QString("00000200"));
        QVERIFY(screen.log.contains("status Capture failed: no camera picture. Scan again."));
    }

    // A share that does not answer the look-up: no take is offered, since its
    // Yes could replace pictures nobody was told of; the cause is told once.
    void lookUpNotAnswered_offersNoTake_andTellsTheServer()
    {
        using namespace std::chrono_literals;
        flow.reset();
        worker = std::make_unique<image_store::ShareWorker>(300ms);
        store = std::make_unique<image_store::ImageStore>(share->map(), *launcher, *worker);
        conversions = std::make_unique<ConversionWatch>(*store);
        flow = std::make_unique<CaptureFlow>(
            *camera, *store, *conversions, screen, [] { return QDateTime(); });
        QStringList boxes;
        connect(flow.get(), &CaptureFlow::failed, this, [&](const QString& text) { boxes << text; });
        startArmed("00000300");
        auto released = std::make_shared<std::atomic<bool>>(false);
        worker->queue([released](const image_store::CancelToken&) {
            while (!*released)
                std::this_thread::sleep_for(5ms);
        });
        const auto release = qScopeGuard([released] { *released = true; });
        screen.number = "00000300";
        flow->acceptSampleNumber();
        QTRY_COMPARE(flow->state(), CaptureFlow::State::Idle);
        *released = true;
        QVERIFY(screen.log.filter("ask ").isEmpty());
        QVERIFY(screen.log.contains("status Capture failed: server not answering. Scan again."));
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].startsWith("The file server does not answer."));
        QTRY_VERIFY(!worker->stuck());
        screen.answers = { false };
        flow->acceptSampleNumber();
        QTRY_COMPARE(screen.log.filter("ask "), QStringList { "ask Take picture now?" });
    }
};

QTEST_MAIN(TestCaptureFlow)
#include "test_capture_flow.moc"
