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
        QVERIFY(out.contains("format:   image/jpeg 1280x720   <- chosen at 30 fps\n"));
        QCOMPARE(out.count("<- chosen"), 2);
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
        QCOMPARE(run({ "list", "--format", "image/jpeg" }), 2);
        QCOMPARE(run({ "show", "extra" }), 2);
        // A file the program would not use is said to be so.
        QFile broken(camera::settingsFile(settings.path(), camera::ControlSettingsKey));
        const QByteArray kept = broken.open(QIODevice::ReadOnly) ? broken.readAll() : QByteArray();
        broken.close();
        QVERIFY(broken.open(QIODevice::Append) && broken.write("[camera1\n") > 0);
        broken.close();
        QCOMPARE(run({ "show" }), 1);
        QVERIFY2(
            out.contains("cannot be used: line ") && out.contains("taken in port order"), qPrintable(out));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write(kept) == kept.size());
    }

    void options_standAnywhere_inBothForms_andTheVersionIsTold()
    {
        const QString folder = settings.path();
        QTextStream o(&out), e(&err);
        QCOMPARE(runCameraTool({ "set", "--warmup=7", "bottom", "--settings=" + folder, "--source",
                                   "videotestsrc is-live=true" },
                     o, e),
            0);
        QCOMPARE(written()[0].warmupFrames, 7);
        QCOMPARE(written()[0].source, QString("videotestsrc is-live=true"));
        out.clear();
        QCOMPARE(runCameraTool({ "show", "--settings", folder }, o, e), 0);
        QVERIFY2(
            out.contains("bottom (0): source videotestsrc is-live=true, warm-up 7 frames"), qPrintable(out));
        out.clear();
        QCOMPARE(runCameraTool({ "--version" }, o, e), 0);
        QCOMPARE(out, QString("imagemaker-cameras " IMAGEMAKER_VERSION "\n"));
    }

    void withoutSettingsFolder_theFirstXdgFolderHoldingTheFileWins()
    {
        QTemporaryDir first, second, third;
        camera::CameraSetting bottom;
        bottom.source = "videotestsrc pattern=red";
        camera::writeCameraSetting(
            camera::settingsFile(second.path(), camera::ControlSettingsKey), 0, bottom);
        bottom.source = "videotestsrc pattern=blue";
        camera::writeCameraSetting(camera::settingsFile(third.path(), camera::ControlSettingsKey), 0, bottom);
        const QByteArray saved = qgetenv("XDG_CONFIG_DIRS");
        qputenv("XDG_CONFIG_DIRS", (first.path() + "::" + second.path() + ":" + third.path()).toUtf8());
        out.clear();
        QTextStream o(&out), e(&err);
        const int status = runCameraTool({ "show" }, o, e);
        // Where no folder holds one, the first is where it would be written.
        const QString none = camera::findSettingsFile({ first.path() }, camera::ControlSettingsKey);
        qputenv("XDG_CONFIG_DIRS", saved);
        QCOMPARE(status, 0);
        QVERIFY2(out.contains("source videotestsrc pattern=red"), qPrintable(out));
        QVERIFY(out.contains(second.path()));
        QCOMPARE(none, camera::settingsFile(first.path(), camera::ControlSettingsKey));
        out.clear();
        QCOMPARE(runCameraTool({ "show", "--settings", first.path() }, o, e), 0);
        QVERIFY2(out.endsWith("no settings file: cameras are taken in port order\n"), qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(TestCameraTool)
#include "test_camera_tool.moc"
