#include "bmp_header.h"
#include "camera/camera_control.h"
#include "camera/frame_geometry.h"
#include "camera/gst_camera.h"
#include "camera/live_view.h"
#include "camera_socket.h"
#include "image_store/atomic_file.h"
#include "image_store/bitmap_file.h"
#include "image_store/share_still_writer.h"
#include "image_store/share_worker.h"
#include "image_store/store_error.h"
#include "image_store/temporary_name.h"
#include "image_store/temporary_name.h"
#include "stamped_source.h"
#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <optional>

#include <future>

using namespace camera;

namespace {

// Records what crosses the dispatch boundary.
class RecordingDispatch final : public CameraDispatch {
public:
    struct Call {
        std::int32_t dispid;
        DispatchKind kind;
        std::vector<Argument> arguments;
    };
    std::vector<Call> calls;
    Result invoke(std::int32_t dispid, DispatchKind kind, std::vector<Argument>& arguments) override
    {
        calls.push_back({ dispid, kind, arguments });
        if (dispid == operation::StartControl.dispid)
            *std::get<std::int32_t*>(arguments.at(0)) = 2;
        if (dispid == operation::SelectCamera.dispid)
            return std::int32_t { 1 };
        return {};
    }
    void attachView(LiveView*) override { }
};

std::string solid(const char* pattern, int width, int height)
{
    return std::string("videotestsrc is-live=true pattern=") + pattern + " ! video/x-raw,width="
        + std::to_string(width) + ",height=" + std::to_string(height) + ",framerate=30/1";
}

} // namespace

class TestCamera : public QObject {
    Q_OBJECT
    TempShare share;
    const QString dir = SamplesSharePath;
    // Stills go where the program's go: to the share, through its worker.
    image_store::ShareWorker worker;
    image_store::ShareStillWriter stills { share.map(), worker };

    std::unique_ptr<GstCamera> makeCamera(int width = 321, int height = 241)
    {
        return makeCamera(width, height, stills);
    }
    std::unique_ptr<GstCamera> makeCamera(int width, int height, image_store::StillWriter& writer)
    {
        return std::make_unique<GstCamera>(
            std::array<CameraSource, 2> { CameraSource { solid("red", width, height) },
                CameraSource { solid("green", width, height) } },
            writer);
    }

private slots:
    void operations_reachTheBoundaryWithTheirDispidsKindsAndReversedArguments()
    {
        RecordingDispatch recording;
        LiveCamera cam(recording);
        cam.InitializeControl("TAVEX_DEMO", "HKEY_LOCAL_MACHINE\\Software\\SampleCams\\LiveVideo", 0);
        cam.SetStartupOptions(0, 0, 1);
        std::int32_t status = 0;
        cam.StartControl(status);
        cam.StartupSwitch(-1);
        QCOMPARE(cam.SelectCamera(1), 1);
        QString path = "\\\\labfs01\\x.bmp";
        cam.SaveStill(0, 24, path, "");

        QCOMPARE(recording.calls.size(), size_t(6));
        const auto& init = recording.calls[0];
        QCOMPARE(init.dispid, 1);
        QVERIFY(init.kind == DispatchKind::Method);
        QCOMPARE(std::get<std::int32_t>(init.arguments[0]), 0);
        QCOMPARE(std::get<QString>(init.arguments[1]),
            QString("HKEY_LOCAL_MACHINE\\Software\\SampleCams\\LiveVideo"));
        QCOMPARE(std::get<QString>(init.arguments[2]), QString("TAVEX_DEMO"));
        const auto& options = recording.calls[1];
        QCOMPARE(options.dispid, 25);
        QCOMPARE(std::get<std::int32_t>(options.arguments[0]), 1);
        QCOMPARE(recording.calls[2].dispid, 2);
        QCOMPARE(status, 2); // written through the reference
        QCOMPARE(recording.calls[3].dispid, 33);
        QVERIFY(recording.calls[3].kind == DispatchKind::PropertyPut);
        QCOMPARE(std::get<std::int32_t>(recording.calls[3].arguments[0]), -1);
        QCOMPARE(recording.calls[4].dispid, 8);
        const auto& save = recording.calls[5];
        QCOMPARE(save.dispid, 15);
        QCOMPARE(std::get<QString>(save.arguments[0]), QString(""));
        QCOMPARE(*std::get<QString*>(save.arguments[1]), path);
        QCOMPARE(std::get<std::int32_t>(save.arguments[2]), 24);
        QCOMPARE(std::get<std::int32_t>(save.arguments[3]), 0);
    }

    void invoke_unknownDispidOrWrongArgumentTypes_raise()
    {
        GstCamera cam(
            { CameraSource { solid("red", 32, 32) }, CameraSource { solid("green", 32, 32) } }, stills);
        std::vector<Argument> none;
        QVERIFY_THROWS_EXCEPTION(CameraError, cam.invoke(99, DispatchKind::Method, none));
        QVERIFY_THROWS_EXCEPTION(CameraError, cam.invoke(33, DispatchKind::Method, none));
        std::vector<Argument> wrong { QString("1") };
        QVERIFY_THROWS_EXCEPTION(CameraError, cam.invoke(8, DispatchKind::Method, wrong));
        std::vector<Argument> byValue { QString(""), QString("path"), std::int32_t { 24 },
            std::int32_t { 0 } };
        QVERIFY_THROWS_EXCEPTION(CameraError, cam.invoke(15, DispatchKind::Method, byValue));
    }

    void fitRect_keepsAspectAndCentres_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("same aspect") << QSize(1280, 720) << QRect(0, 0, 640, 360) << QRect(0, 0, 640, 360);
        QTest::newRow("wide frame in 4:3")
            << QSize(1280, 720) << QRect(0, 0, 320, 240) << QRect(0, 30, 320, 180);
        QTest::newRow("tall frame") << QSize(100, 200) << QRect(10, 10, 100, 100) << QRect(35, 10, 50, 100);
        QTest::newRow("upscale") << QSize(32, 24) << QRect(0, 0, 321, 241) << QRect(0, 0, 321, 241);
        QTest::newRow("empty frame") << QSize() << QRect(0, 0, 10, 10) << QRect();
        QTest::newRow("empty area") << QSize(10, 10) << QRect() << QRect();
    }
    void fitRect_keepsAspectAndCentres()
    {
        QFETCH(QSize, frame);
        QFETCH(QRect, area);
        QFETCH(QRect, expected);
        QCOMPARE(fitRect(frame, area), expected);
    }

    void selectSaveSwitchSave_writes24bitBottomUpBitmapsOfTheRightCamera_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("even") << 320 << 240;
        QTest::newRow("odd width") << 321 << 241;
        QTest::newRow("width 1 mod 4") << 33 << 17;
    }
    void selectSaveSwitchSave_writes24bitBottomUpBitmapsOfTheRightCamera()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        auto cam = makeCamera(width, height);
        LiveCamera live(*cam);
        std::int32_t status = 0;
        live.StartControl(status);
        QCOMPARE(status, 2);
        QVERIFY(live.SelectCamera(0) != 0);
        QString bottom = dir + "BTM_A_01.bmp";
        live.SaveStill(0, 24, bottom, "");
        QVERIFY(live.SelectCamera(1) != 0);
        QString color = dir + "CLR_A_01.bmp";
        live.SaveStill(0, 24, color, "");
        settleStillsNow(stills);

        for (const auto& [name, colour] : { std::pair { "BTM_A_01.bmp", QColor(Qt::red) },
                 std::pair { "CLR_A_01.bmp", QColor(Qt::green) } }) {
            const BmpHeader h = readBmpHeader(share.sampleFile(name));
            QCOMPARE(h.bitsPerPixel, quint16(24));
            QCOMPARE(h.width, width);
            QCOMPARE(h.height, height); // positive: bottom-up
            QVERIFY2(mostlyColour(QImage(share.sampleFile(name)), colour), name);
        }
    }

    void switchAndSave_500Cycles_noStaleOrWrongCameraStill()
    {
        stamped_source::registerElement();
        GstCamera cam({ CameraSource { stamped_source::description(0) },
                          CameraSource { stamped_source::description(1) } },
            stills);
        LiveView view;
        cam.attachView(&view);
        LiveCamera live(cam);
        std::int32_t status = 0;
        live.StartControl(status);
        int wrong = 0;
        int stale = 0;
        for (int i = 0; i < 500; ++i) {
            const int index = i % 2;
            const QColor colour = index == 0 ? Qt::red : Qt::green;
            live.SelectCamera(index);
            // The frame on hand when the still is asked for shows the past:
            // one made a while ago, which the camera has surely had since
            // its view shows it (or a later one), however slow the machine.
            const std::uint32_t made = stamped_source::settled(index);
            QVERIFY(QTest::qWaitFor(
                [&] {
                    return mostlyColour(view.frame(), colour)
                        && stamped_source::numberIn(view.frame()) >= made;
                },
                2000));
            const std::uint32_t onHand = stamped_source::numberIn(view.frame());
            QString path = dir + "cycle.bmp";
            live.SaveStill(0, 24, path, "");
            settleStillsNow(stills);
            const QImage still(share.sampleFile("cycle.bmp"));
            if (!mostlyColour(still, colour))
                ++wrong;
            if (stamped_source::numberIn(still) <= onHand)
                ++stale;
        }
        QCOMPARE(wrong, 0);
        QCOMPARE(stale, 0);
    }

    void unreachableCamera_selectReturnsZeroWithinBound_andSaveRaises()
    {
        GstCamera cam({ CameraSource { "v4l2src device=/dev/video-imagemaker-missing" },
                          CameraSource { solid("green", 32, 32) } },
            stills);
        LiveCamera live(cam);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(live.SelectCamera(0), 0);
        QVERIFY(timer.elapsed() < 3000);
        QCOMPARE(live.SelectCamera(7), 0);
        QCOMPARE(live.SelectCamera(-1), 0);
        live.SelectCamera(0);
        QString path = dir + "never.bmp";
        QVERIFY_THROWS_EXCEPTION(CameraError, live.SaveStill(0, 24, path, ""));
        QVERIFY(!QFile::exists(share.sampleFile("never.bmp")));
        QVERIFY(live.SelectCamera(1) != 0);
    }

    void silentCamera_isToldLaterWithinItsBound_whileTheEventLoopRuns_andWarmUpGrowsTheBound()
    {
        // One sends nothing; the other warms up for longer than the bare bound.
        GstCamera cam({ CameraSource { "videotestsrc is-live=true ! valve drop=true" },
                          CameraSource { solid("green", 32, 32), 45 } },
            stills, CameraTimeouts { std::chrono::milliseconds(300), std::chrono::milliseconds(300) });
        LiveCamera live(cam);
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&] { ++ticks; });
        tick.start(10);
        QElapsedTimer timer;
        timer.start();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("camera 0 \\(bottom\\) failed: .*no picture"));
        std::optional<std::int32_t> bottom;
        live.SelectCameraLater(0, [&](std::int32_t result, std::exception_ptr) { bottom = result; });
        // Never answered inside the call: the caller's step is over first.
        QVERIFY(!bottom);
        QTRY_VERIFY_WITH_TIMEOUT(bottom.has_value(), 2000);
        QCOMPARE(*bottom, 0);
        QVERIFY(timer.elapsed() < 2000);
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
        // 45 frames at 30 fps take 1.5 s.
        QCOMPARE(live.SelectCamera(1), 1);
    }

    void sourceEndingInMjpeg_isDecodedForItsStill()
    {
        GstCamera cam({ CameraSource { solid("red", 64, 48) + " ! jpegenc ! image/jpeg" },
                          CameraSource { solid("green", 32, 32) } },
            stills);
        LiveCamera live(cam);
        QCOMPARE(live.SelectCamera(0), 1);
        QString path = dir + "mjpeg.bmp";
        live.SaveStill(0, 24, path, "");
        settleStillsNow(stills);
        const QImage still(share.sampleFile("mjpeg.bmp"));
        QCOMPARE(still.size(), QSize(64, 48));
        QVERIFY(mostlyColour(still, Qt::red));
    }

    void cameraThatCannotStart_logsGStreamersReason()
    {
        GstCamera cam({ CameraSource { "v4l2src device=/dev/video-imagemaker-missing" },
                          CameraSource { "imagemakernosuchsrc ! video/x-raw,width=32,height=32" } },
            stills);
        LiveCamera live(cam);
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression("camera 0 \\(bottom\\) failed: .*/dev/video-imagemaker-missing"));
        QCOMPARE(live.SelectCamera(0), 0);
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression("camera 1 \\(colour\\) failed: no element \"imagemakernosuchsrc\""));
        QCOMPARE(live.SelectCamera(1), 0);
    }

    void saveStill_failure_leavesAnEarlierBitmapUntouched()
    {
        auto cam = makeCamera(32, 32);
        LiveCamera live(*cam);
        QVERIFY(live.SelectCamera(0) != 0);
        QString path = dir + "keep.bmp";
        live.SaveStill(0, 24, path, "");
        settleStillsNow(stills);
        QFile before(share.sampleFile("keep.bmp"));
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray original = before.readAll();
        before.close();

        QVERIFY_THROWS_EXCEPTION(CameraError, live.SaveStill(0, 8, path, ""));
        QString missingFolder = dir + "no_such_folder\\keep.bmp";
        live.SaveStill(0, 24, missingFolder, "");
        QVERIFY_THROWS_EXCEPTION(image_store::StoreError, settleStillsNow(stills));
        QString outside = "\\\\labfs01\\..\\keep.bmp";
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, live.SaveStill(0, 24, outside, ""));

        QVERIFY(before.open(QIODevice::ReadOnly));
        QCOMPARE(before.readAll(), original);
    }

    void saveStill_onAServerThatHung_putsNothingInPlaceWhenItAnswersAgain()
    {
        using namespace std::chrono_literals;
        image_store::ShareWorker hung(300ms);
        image_store::ShareStillWriter hungStills(share.map(), hung);
        auto cam = makeCamera(32, 32, hungStills);
        LiveCamera live(*cam);
        QVERIFY(live.SelectCamera(0) != 0);
        const QString local = share.sampleFile("hung.bmp");
        QString path = dir + "hung.bmp";
        live.SaveStill(0, 24, path, "");
        settleStillsNow(hungStills);
        QFile file(local);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray earlier = file.readAll();
        file.close();

        // The still queued behind a hung request, and a write that hung
        // itself before its rename: the caller gives up on both.
        auto server = std::make_shared<std::promise<void>>();
        std::shared_future<void> answers = server->get_future().share();
        const QImage green(32, 32, QImage::Format_RGB32);
        hung.queue([answers, green, local](const image_store::CancelToken& token) {
            answers.wait();
            image_store::replaceFile(local, image_store::encodeBitmap(green), token);
        });
        QVERIFY(live.SelectCamera(1) != 0);
        live.SaveStill(0, 24, path, "");
        QVERIFY_THROWS_EXCEPTION(image_store::ShareNotAnswering, settleStillsNow(hungStills));
        // While it hangs a new still fails at once.
        QVERIFY_THROWS_EXCEPTION(image_store::ShareNotAnswering, live.SaveStill(0, 24, path, ""));
        server->set_value();
        QTRY_VERIFY(!hung.stuck());
        callOn(hung, [] {});

        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), earlier);
        QVERIFY(!QFile::exists(QString::fromStdString(image_store::temporaryNameOf(local.toStdString()))));
    }

    void saveStill_neverWritesThroughALink_andReplacesALeftoverTemporary()
    {
        auto cam = makeCamera(32, 32);
        LiveCamera live(*cam);
        QVERIFY(live.SelectCamera(0) != 0);
        QTemporaryDir outside;
        QFile target(outside.filePath("elsewhere"));
        QVERIFY(target.open(QIODevice::WriteOnly));
        target.write("not the share's");
        target.close();
        QVERIFY(QFile::link(target.fileName(), share.sampleFile("planted.bmp")));
        QString planted = dir + "planted.bmp";
        live.SaveStill(0, 24, planted, "");
        QVERIFY_THROWS_EXCEPTION(image_store::StoreError, settleStillsNow(stills));
        QVERIFY(target.open(QIODevice::ReadOnly));
        QCOMPARE(target.readAll(), QByteArray("not the share's"));

        QFile left(
            QString::fromStdString(image_store::temporaryNameOf(share.sampleFile("kept.bmp").toStdString())));
        QVERIFY(left.open(QIODevice::WriteOnly));
        left.write("left by a writer that was killed");
        left.close();
        QString kept = dir + "kept.bmp";
        live.SaveStill(0, 24, kept, "");
        settleStillsNow(stills);
        QCOMPARE(readBmpHeader(share.sampleFile("kept.bmp")).bitsPerPixel, quint16(24));
        QCOMPARE(QDir(share.samplesFolder())
                     .entryList({ "*kept*", "*planted*" }, QDir::Files | QDir::Hidden | QDir::System),
            (QStringList { "kept.bmp", "planted.bmp" }));
    }

    void cameraLostAndBack_saveRaises_thenNextSelectWorks()
    {
        camera_socket::registerElement();
        camera_socket::plugIn(0);
        GstCamera cam({ CameraSource { camera_socket::in(solid("red", 32, 32), 0) },
                          CameraSource { solid("green", 32, 32) } },
            stills);
        LiveCamera live(cam);
        QVERIFY(live.SelectCamera(0) != 0);
        camera_socket::unplug(0);
        QString path = dir + "lost.bmp";
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression("camera 0 \\(bottom\\) failed: Camera 0 was unplugged"));
        QVERIFY_THROWS_EXCEPTION(CameraError, live.SaveStill(0, 24, path, ""));
        QVERIFY(!QFile::exists(share.sampleFile("lost.bmp")));
        // Not back yet: the camera cannot be selected.
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression("camera 0 \\(bottom\\) failed: Camera 0 is not plugged in"));
        QCOMPARE(live.SelectCamera(0), 0);
        camera_socket::plugIn(0);
        QVERIFY(live.SelectCamera(0) != 0);
        live.SaveStill(0, 24, path, "");
        settleStillsNow(stills);
        QVERIFY(mostlyColour(QImage(share.sampleFile("lost.bmp")), Qt::red));
    }

    void liveView_showsTheLiveCameraOnTheUiThread()
    {
        auto cam = makeCamera(64, 48);
        LiveView view;
        view.resize(321, 241);
        cam->attachView(&view);
        LiveCamera live(*cam);
        QVERIFY(live.SelectCamera(1) != 0);
        const quint64 shown = view.framesShown();
        QTRY_VERIFY(view.framesShown() > shown + 3);
        QVERIFY(mostlyColour(view.frame(), Qt::green));
        QVERIFY(live.SelectCamera(0) != 0);
        QTRY_VERIFY(mostlyColour(view.frame(), Qt::red));
        live.StartupSwitch(0);
        QTest::qWait(100);
        const quint64 frozen = view.framesShown();
        QTest::qWait(LiveView::StallMs + 200);
        QCOMPARE(view.framesShown(), frozen);
        // Frozen on purpose is not a camera gone.
        QVERIFY(!view.showsDisconnected());
    }

    void liveView_saysCameraDisconnectedWhenFramesStop_andClearsItWhenTheyReturn()
    {
        GstCamera cam(
            { CameraSource {
                  "videotestsrc is-live=true num-buffers=10 pattern=red ! video/x-raw,width=32,height=32" },
                CameraSource { solid("green", 32, 32) } },
            stills);
        LiveView view;
        view.resize(321, 241);
        cam.attachView(&view);
        LiveCamera live(cam);
        QVERIFY(live.SelectCamera(0) != 0);
        QVERIFY(!view.showsDisconnected());
        QTRY_VERIFY_WITH_TIMEOUT(view.showsDisconnected(), 3000);
        // The last picture stays under the words.
        QVERIFY(mostlyColour(view.frame(), Qt::red));
        QVERIFY(live.SelectCamera(1) != 0);
        QTRY_VERIFY(!view.showsDisconnected());
    }
};

QTEST_MAIN(TestCamera)
#include "test_camera.moc"
