// The administrator's camera tool against cameras of the test's device provider.
#include "camera/camera_settings.h"
#include "plugged_cameras.h"
#include "tools/camera_tool.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
const std::string PortA = "pci-0000:00:14.0-usb-0:1:1.0";
const std::string PortB = "pci-0000:00:14.0-usb-0:2:1.0";
} // namespace

class TestCameraTool : public QObject {
    Q_OBJECT
    QTemporaryDir settings;
    QString out, err;

    int run(QStringList arguments)
    {
        out.clear();
        err.clear();
        QTextStream o(&out), e(&err);
        return runCameraTool(QStringList { "--settings", settings.path() } + arguments, o, e);
    }
    std::array<camera::CameraSetting, 2> written() const
    {
        return camera::readCameraSettings(camera::settingsFile(settings.path(), camera::ControlSettingsKey));
    }

private slots:
    void initTestCase()
    {
        plugged_cameras::registerProvider();
        plugged_cameras::plugIn(PortB, "TEST-B", "blue", 3);
        plugged_cameras::plugIn(PortA, "TEST-A", "red", 2);
    }

    void list_namesEachCameraInTheOrderTheProgramTakesThem()
    {
        QCOMPARE(run({ "list" }), 0);
        const qsizetype a = out.indexOf(QString::fromStdString("identity: " + PortA));
        const qsizetype b = out.indexOf(QString::fromStdString("identity: " + PortB));
        QVERIFY2(a >= 0 && b > a, qPrintable(out));
        QVERIFY(out.contains("serial:   TEST-A"));
        QVERIFY(out.contains("node:     /dev/video2"));
        QVERIFY(out.contains("format:   image/jpeg 1280x720"));
    }

    void set_writesTheSettingsOfOneCamera_andKeepsTheOther()
    {
        QCOMPARE(run({ "set", "bottom", "TEST-B", "--format", "image/jpeg,width=1280,height=720",
                     "--controls", "exposure_auto=1", "--warmup", "5" }),
            0);
        QCOMPARE(
            run({ "set", "color", QString::fromStdString("/dev/v4l/by-path/" + PortA + "-video-index0") }),
            0);
        auto s = written();
        QCOMPARE(s[0].identity, QString("TEST-B"));
        QCOMPARE(s[0].format, QString("image/jpeg,width=1280,height=720"));
        QCOMPARE(s[0].controls, QString("exposure_auto=1"));
        QCOMPARE(s[0].warmupFrames, 5);
        QVERIFY(s[1].identity.endsWith("-video-index0"));

        QCOMPARE(run({ "set", "color", "--source", "videotestsrc is-live=true" }), 0);
        s = written();
        QCOMPARE(s[1].source, QString("videotestsrc is-live=true"));
        QVERIFY(s[1].identity.isEmpty());
        QCOMPARE(s[0].identity, QString("TEST-B"));
        QCOMPARE(run({ "show" }), 0);
        QVERIFY(out.contains("bottom (0): identity TEST-B, format image/jpeg,width=1280,height=720"));
    }

    void mistakes_areNamed_withTheirExitStatus_andWriteNothing()
    {
        const auto before = written();
        QCOMPARE(run({ "set", "color", "NO-SUCH-CAMERA" }), 1);
        QVERIFY(err.contains("no camera NO-SUCH-CAMERA is plugged in"));
        for (const QStringList& wrong : { QStringList {}, QStringList { "frobnicate" },
                 QStringList { "set", "side", "TEST-A" }, QStringList { "set", "color" },
                 QStringList { "set", "color", "TEST-A", "--source", "videotestsrc" },
                 QStringList { "set", "color", "TEST-A", "--warmup", "many" } }) {
            QCOMPARE(run(wrong), 2);
            QVERIFY2(err.contains("usage:"), qPrintable(wrong.join(' ')));
        }
        QCOMPARE(written()[1].source, before[1].source);
        QCOMPARE(written()[1].identity, before[1].identity);
        QCOMPARE(run({ "--help" }), 0);
        QVERIFY(out.startsWith("usage: imagemaker-cameras"));
    }
};

QTEST_GUILESS_MAIN(TestCameraTool)
#include "test_camera_tool.moc"
