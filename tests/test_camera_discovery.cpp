// Cameras found at run time through GStreamer's device monitor (a provider
// of the test process stands for the USB cameras), chosen by the settings
// file, and brought back by themselves when plugged in again.
#include "bmp_header.h"
#include "camera/camera_control.h"
#include "camera/camera_discovery.h"
#include "camera/camera_settings.h"
#include "camera/gst_camera.h"
#include "camera/gst_handles.h"
#include "camera/live_view.h"
#include "camera/mode_policy.h"
#include "image_store/share_still_writer.h"
#include "plugged_cameras.h"
#include "test_support.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace camera;

namespace {

const QString Key = ControlSettingsKey;
// By port, A comes first whatever the order of plugging.
const std::string PortA = "pci-0000:00:14.0-usb-0:1:1.0";
const std::string PortB = "pci-0000:00:14.0-usb-0:2:1.0";

std::vector<FoundCamera> testCameras()
{
    std::vector<FoundCamera> found = CameraDiscovery::list();
    std::erase_if(found, [](const FoundCamera& f) { return !f.serial.startsWith("TEST"); });
    return found;
}

} // namespace

class TestCameraDiscovery : public QObject {
    Q_OBJECT
    TempShare share;
    image_store::ShareWorker worker;
    image_store::ShareStillWriter stills { share.map(), worker };
    QTemporaryDir settings;

    QString settingsFile() const { return camera::settingsFile(settings.path(), Key); }

    // Cameras with no description of the build's: found at run time.
    // A still that cannot come fails soon, so waits that retry it are short.
    std::unique_ptr<GstCamera> started(
        std::int32_t& status, std::chrono::milliseconds stillLimit = std::chrono::milliseconds(300))
    {
        auto gst = std::make_unique<GstCamera>(std::array<CameraSource, 2> {}, stills,
            CameraTimeouts { std::chrono::milliseconds(2500), stillLimit });
        gst->readSettingsFrom({ settings.path() });
        LiveCamera cam(*gst);
        cam.InitializeControl("TAVEX_DEMO", Key, 0);
        cam.SetStartupOptions(0, 0, 1);
        cam.StartControl(status);
        return gst;
    }
    // A still of the live camera, without selecting it.
    QImage still(GstCamera& gst)
    {
        QString path = SamplesSharePath + "still.bmp";
        LiveCamera(gst).SaveStill(0, 24, path, "");
        settleStillsNow(stills);
        return QImage(share.sampleFile("still.bmp"));
    }
    // False also when no still can be taken.
    bool stillShows(GstCamera& gst, QColor colour)
    {
        try {
            return mostlyColour(still(gst), colour);
        } catch (const CameraError&) {
            return false;
        }
    }

    // Whether the bottom and the colour camera, each selected in turn, show these.
    bool selectedShow(GstCamera& gst, QColor bottom, QColor color)
    {
        return LiveCamera(gst).SelectCamera(0) == 1 && stillShows(gst, bottom)
            && LiveCamera(gst).SelectCamera(1) == 1 && stillShows(gst, color);
    }

private slots:
    void initTestCase() { plugged_cameras::registerProvider(); }
    void init()
    {
        plugged_cameras::pullOutAll();
        QFile::remove(settingsFile());
    }

    void settingsFile_followsTheKey_andMissingKeysAreEmpty()
    {
        QCOMPARE(camera::settingsFile("/etc/xdg", Key), QString("/etc/xdg/SampleCams/LiveVideo.conf"));
        CameraSetting color;
        color.identity = "pci-0000:00:14.0-usb-0:3:1.0";
        color.format = "image/jpeg,width=1280,height=720";
        color.controls = "exposure_auto=1,exposure_absolute=250";
        color.warmupFrames = 5;
        writeCameraSetting(settingsFile(), 1, color);
        const auto read = readCameraSettings(settingsFile());
        QVERIFY(read[0].identity.isEmpty() && read[0].source.isEmpty() && read[0].warmupFrames == -1);
        QCOMPARE(read[1].identity, color.identity);
        QCOMPARE(read[1].format, color.format); // commas survive the INI format
        QCOMPARE(read[1].controls, color.controls);
        QCOMPARE(read[1].warmupFrames, 5);
    }

    void modePolicy_prefersSmoothMjpegUpTo1080p_thenSmoothRaw_thenTheLargest_data()
    {
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QString>("tried"); // best first
        QTest::newRow("common UVC list")
            << uvc_source::CommonModes << "image/jpeg 1280x720 at 30 fps; image/jpeg 640x480 at 30 fps";
        QTest::newRow("above 1080p and below 640x480 left out")
            << "image/jpeg,width=2592,height=1944,framerate=30/1; image/jpeg,width=1920,height=1080,"
               "framerate={ 15/1, 30/1 }; image/jpeg,width=320,height=240,framerate=30/1; "
               "image/jpeg,width=800,height=600,framerate=30/1; video/x-raw,format=YUY2,width=1920,"
               "height=1080,framerate=30/1"
            << "image/jpeg 1920x1080 at 30 fps; image/jpeg 800x600 at 30 fps";
        QTest::newRow("MJPEG too slow: smooth raw")
            << "image/jpeg,width=1280,height=720,framerate=15/1; video/x-raw,format=YUY2,width=1280,"
               "height=720,framerate=10/1; video/x-raw,format=YUY2,width=640,height=480,framerate=30/1"
            << "video/x-raw/YUY2 640x480 at 30 fps";
        QTest::newRow("nothing smooth: the largest")
            << "video/x-raw,format=YUY2,width=1280,height=720,framerate=10/1; video/x-raw,format=YUY2,"
               "width=1920,height=1080,framerate=5/1; video/x-h264,width=1920,height=1080,framerate=30/1"
            << "video/x-raw/YUY2 1920x1080 at 5 fps";
        QTest::newRow("ranges count as their largest")
            << "image/jpeg,width=[ 160, 1280 ],height=[ 120, 720 ],framerate=[ 1/1, 30/1 ]"
            << "image/jpeg 1280x720 at 30 fps";
        QTest::newRow("nothing decodable") << "video/x-h264,width=1920,height=1080,framerate=30/1"
                                           << "";
    }

    void modePolicy_prefersSmoothMjpegUpTo1080p_thenSmoothRaw_thenTheLargest()
    {
        QFETCH(QString, offered);
        QFETCH(QString, tried);
        const gst::CapsHandle caps(gst_caps_from_string(offered.toUtf8().constData()));
        QStringList modes;
        for (const CameraMode& mode : modesToTry(modesOf(caps.get())))
            modes << QString::fromStdString(mode.describe());
        QCOMPARE(modes.join("; "), tried);
    }

    void brokenSettings_areRefusedAloud_atTheirLine_andAFifoIsNeverOpened()
    {
        // The line refused at, -1 when none is, or -2 for another reason.
        const auto refusal = [&](const QString& reason) -> std::pair<int, QString> {
            try {
                readCameraSettings(settingsFile());
            } catch (const SettingsError& error) {
                if (!error.reason().contains(reason))
                    return { -2, error.reason() };
                return { error.line(), error.operatorText() };
            }
            return { -1, QString() };
        };
        const auto write = [&](const QByteArray& text) {
            QFile::remove(settingsFile());
            QDir().mkpath(QFileInfo(settingsFile()).path());
            QFile file(settingsFile());
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        };
        const std::pair<QByteArray, int> broken[] = { { QByteArray("[camera0]\nsource=a\0b\n", 21), 2 },
            { "[camera0]\nsource=\xff\xfe\n", 2 },
            { "[camera0]\nidentity=TEST-A\n[camera1\nidentity=TEST-B\n", 3 },
            { "[camera0]\nidentity=TEST-A\nTEST-B\n", 3 }, { "[camera1]\nwarmup_frames=-5\n", 2 },
            { "[camera1]\nwarmup_frames=abc ; a comment\n", 2 }, { "[camera1]\nwarmup_frames=99999\n", 2 } };
        for (const auto& [text, line] : broken) {
            write(text);
            const auto [at, words] = refusal(QString());
            QVERIFY2(at == line, qPrintable(QString::fromLatin1(text) + words));
            QVERIFY(words.startsWith("Camera settings in " + settingsFile() + " cannot be used: line "));
            QVERIFY(words.endsWith("; the cameras were taken in port order"));
        }
        write("[camera0]\nsource=\"videotestsrc pattern=ball ; # kept\"\nwarmup_frames=7 ; seven\n");
        QCOMPARE(readCameraSettings(settingsFile())[0].source, QString("videotestsrc pattern=ball ; # kept"));
        QCOMPARE(readCameraSettings(settingsFile())[0].warmupFrames, 7);

        // Not a file: read, a FIFO would hang the program before any window.
        QFile::remove(settingsFile());
        QVERIFY(QDir().mkpath(settingsFile()));
        QCOMPARE(refusal("not a regular file").first, 0);
        QDir().rmdir(settingsFile());
        QCOMPARE(::mkfifo(QFile::encodeName(settingsFile()).constData(), 0644), 0);
        QCOMPARE(refusal("not a regular file").first, 0);

        // Told once, and the cameras are taken in port order.
        plugged_cameras::plugIn(PortB, "TEST-B", "blue", 3);
        plugged_cameras::plugIn(PortA, "TEST-A", "red", 2);
        std::int32_t status = 0;
        auto gst = started(status);
        QVERIFY(gst->settingsProblem().contains("it is not a regular file"));
        QVERIFY(selectedShow(*gst, Qt::red, Qt::blue));
        QFile::remove(settingsFile());
    }

    void noSettings_takesTheCamerasInPortOrder_andListsTheirFormats()
    {
        plugged_cameras::plugIn(PortB, "TEST-B", "blue", 3);
        plugged_cameras::plugIn(PortA, "TEST-A", "red", 2);
        const std::vector<FoundCamera> found = testCameras();
        QCOMPARE(found.size(), size_t(2));
        QCOMPARE(found[0].portPath, QString::fromStdString(PortA));
        QCOMPARE(found[0].node, QString("/dev/video2"));
        QCOMPARE(found[0].formats(),
            QStringList({ "video/x-raw/YUY2 640x480", "video/x-raw/YUY2 1280x720", "image/jpeg 640x480",
                "image/jpeg 1280x720" }));

        std::int32_t status = 0;
        auto gst = started(status);
        QCOMPARE(status, 2);
        QVERIFY(selectedShow(*gst, Qt::red, Qt::blue));
    }

    void settings_nameEachCameraByPortSerialOrSource_withFormatAndSize()
    {
        plugged_cameras::plugIn(PortA, "TEST-A", "red", 2);
        plugged_cameras::plugIn(PortB, "TEST-B", "blue", 3);
        CameraSetting bottom;
        bottom.identity = "TEST-B";
        writeCameraSetting(settingsFile(), 0, bottom);
        CameraSetting color;
        color.identity = QString::fromStdString("/dev/v4l/by-path/" + PortA + "-video-index0");
        // A mode of its own list; unasked, it would stream MJPEG at 1280x720.
        color.format = "video/x-raw,width=640,height=480";
        writeCameraSetting(settingsFile(), 1, color);
        {
            std::int32_t status = 0;
            auto gst = started(status);
            QCOMPARE(status, 2);
            QVERIFY(selectedShow(*gst, Qt::blue, Qt::red));
            QCOMPARE(readBmpHeader(share.sampleFile("still.bmp")).width, 640);
        }
        color = {};
        color.source = "videotestsrc is-live=true pattern=green";
        writeCameraSetting(settingsFile(), 1, color);
        std::int32_t status = 0;
        auto gst = started(status);
        QCOMPARE(LiveCamera(*gst).SelectCamera(1), 1);
        QVERIFY(stillShows(*gst, Qt::green));
    }

    void twoCamerasOverTheBusBudget_fallBackToSmallerModes_orTakeTurns()
    {
        // 1280x720 MJPEG at 30 fps takes 6.9 MB/s here, 640x480 2.3 MB/s.
        for (const long long budget : { 10'000'000LL, 8'000'000LL }) {
            const bool turns = budget < 9'200'000;
            plugged_cameras::pullOutAll();
            uvc_source::setBusBudget("usb1", budget);
            plugged_cameras::plugIn(PortA, "TEST-A", "red", 2, uvc_source::CommonModes, "usb1");
            plugged_cameras::plugIn(PortB, "TEST-B", "blue", 3, uvc_source::CommonModes, "usb1");
            std::int32_t status = 0;
            auto gst = started(status);
            QCOMPARE(status, 2);
            QCOMPARE(gst->takingTurns(), turns);
            for (int round = 0; round < 3; ++round) {
                for (const int index : { 0, 1 }) {
                    QCOMPARE(LiveCamera(*gst).SelectCamera(index), 1);
                    const std::uint32_t before = uvc_source::latest(2 + index);
                    const QImage image = still(*gst);
                    const uvc_source::Stamp stamp = uvc_source::stampIn(image);
                    QCOMPARE(stamp.camera, 2 + index);
                    QVERIFY2(
                        stamp.number >= before, qPrintable(QString("%1 < %2").arg(stamp.number).arg(before)));
                    QCOMPARE(image.width(), index == 1 && !turns ? 640 : 1280);
                    QVERIFY(mostlyColour(image, index == 0 ? Qt::red : Qt::blue));
                }
            }
        }
        uvc_source::setBusBudget("usb1", 0);
    }

    void mjpeg_viewDecodedNoLargerThanShown_bothStillsFullSizeFromTheCapturesOneFrameWait()
    {
        plugged_cameras::plugIn(PortA, "TEST-A", "red", 2);
        plugged_cameras::plugIn(PortB, "TEST-B", "blue", 3);
        std::int32_t status = 0;
        // The still limit also ends a capture's claim on its first frames; a
        // loaded machine must not stretch a round past it.
        auto gst = started(status, std::chrono::minutes(1));
        LiveView view;
        view.resize(320, 240);
        gst->attachView(&view);
        LiveCamera live(*gst);
        QCOMPARE(live.SelectCamera(0), 1);
        // 1280x720 at 1/2 is the smallest that covers 320x240.
        QTRY_COMPARE(view.frame().size(), QSize(640, 360));
        QVERIFY(mostlyColour(view.frame(), Qt::red));

        for (int round = 0; round < 5; ++round) {
            const std::uint32_t atBegin = uvc_source::latest(3);
            live.beginCapture();
            QVERIFY(uvc_source::stampIn(still(*gst)).camera == 2);
            QCOMPARE(live.SelectCamera(1), 1);
            // A slow step between the stills: the colour camera sends more.
            QTest::qWait(100);
            const std::uint32_t atSecondStill = uvc_source::latest(3);
            const QImage second = still(*gst);
            const uvc_source::Stamp stamp = uvc_source::stampIn(second);
            QCOMPARE(stamp.camera, 3);
            QCOMPARE(second.size(), QSize(1280, 720));
            // Not older than the capture, and no second wait.
            QVERIFY2(stamp.number >= atBegin && stamp.number < atSecondStill,
                qPrintable(QString("%1 not in [%2, %3)").arg(stamp.number).arg(atBegin).arg(atSecondStill)));
            QCOMPARE(live.SelectCamera(0), 1);
        }
        gst->attachView(nullptr);
    }

    void cameraPluggedInLate_orAgain_startsByItself_whileLive()
    {
        plugged_cameras::plugIn(PortA, "TEST-A", "red", 2);
        std::int32_t status = 0;
        auto gst = started(status);
        QCOMPARE(status, 1);
        // The colour camera is missing: live, but dark.
        QCOMPARE(LiveCamera(*gst).SelectCamera(1), 0);

        plugged_cameras::plugIn(PortB, "TEST-B", "blue", 3);
        QTRY_VERIFY(stillShows(*gst, Qt::blue));

        plugged_cameras::pullOut(PortB);
        QTRY_VERIFY(!stillShows(*gst, Qt::blue));
        // The same port again, now with another picture: no view switch needed.
        plugged_cameras::plugIn(PortB, "TEST-B", "white", 3);
        QTRY_VERIFY(stillShows(*gst, Qt::white));
        // The other camera was not disturbed.
        QCOMPARE(LiveCamera(*gst).SelectCamera(0), 1);
        QVERIFY(stillShows(*gst, Qt::red));
    }
};

QTEST_MAIN(TestCameraDiscovery)
#include "test_camera_discovery.moc"
