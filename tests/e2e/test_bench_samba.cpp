// The installed program on a real file server: a private Samba server whose
// share is mounted through FUSE (run under with-samba). The server hangs
// (SIGSTOP) or stops during a capture: the window answers within its bound,
// the live view keeps moving, nothing on the server is lost or partial, and
// the next take after the server is back works.

#include "bench_fixture.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <memory>

using namespace e2e;

namespace {

void server(const char* what)
{
    const QStringList control = qEnvironmentVariable("IMAGEMAKER_SAMBA_CONTROL").split(QLatin1Char(' '));
    QProcess process;
    process.start(control.first(), control.mid(1) << QString::fromLatin1(what));
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        throw DriverError(QStringLiteral("with-samba server ") + what + QStringLiteral(" failed: ")
            + QString::fromLocal8Bit(process.readAllStandardError()));
}

} // namespace

class TestBenchSamba : public QObject, public BenchFixture {
    Q_OBJECT
    void take(const QString& sample)
    {
        desk.scan(sample);
        desk.answer(TakeTitle, true);
        desk.answer(IncrementTitle, false);
        desk.waitForWindow(ScanTitle);
    }

    // Answers "Take picture now?" for a scanned sample and, until the error
    // box opens, watches the live view's caption (the colour camera prints
    // its running time on each frame): the longest time it was seen not to
    // move, from the first look at a picture to the last look at it.
    struct Failed {
        qint64 answeredAfterMs = 0;
        qint64 longestStillMs = 0;
        // The resolution of the above: the longest time between two looks
        // (long on a loaded machine, where this test waits its turn too).
        qint64 longestGrabMs = 0;
        void report(const char* when) const
        {
            qInfo("%s: error box after %lld ms; live view still for at most %lld ms (looked every %lld ms or "
                  "sooner)",
                when, answeredAfterMs, longestStillMs, longestGrabMs);
        }
    };
    // Fails with an error box, or, where the stills alone fail, with
    // "Capture failed: ..." in the status line (and the log).
    enum class Shown { Box, Status };
    Failed captureThatFails(const QString& sample, Shown shown = Shown::Box)
    {
        // After a failed capture no dialog is open: the scan goes to the window.
        if (desk.windows(ScanTitle).isEmpty())
            desk.scanInto(MainTitle, sample);
        else
            desk.scan(sample);
        const QPoint window = desk.origin(MainTitle);
        // The top of a 16:9 picture in the 321x241 view at (16, 56).
        const QRect caption(window.x() + 16, window.y() + 86, 200, 40);
        QElapsedTimer since;
        since.start();
        QImage last = desk.grab(caption);
        qint64 moved = 0;
        qint64 grabbed = 0;
        Failed failed;
        const auto told = [&] {
            return shown == Shown::Box ? !desk.windows(ErrorTitle).isEmpty()
                                       : program->output().contains(QStringLiteral("Capture of ") + sample
                                           + QStringLiteral(" failed"));
        };
        // A server that does not answer the look-up of the sample's pictures
        // is told before any take is offered.
        bool asked = false;
        while (!told()) {
            if (since.elapsed() > 30000)
                throw DriverError(QStringLiteral("no failure shown 30 s after a capture on a dead server"));
            if (!asked && !desk.windows(TakeTitle).isEmpty()) {
                desk.answer(TakeTitle, true);
                asked = true;
                // The question may have covered the view.
                last = desk.grab(caption);
                moved = since.elapsed();
            }
            const QImage now = desk.grab(caption);
            const qint64 at = since.elapsed();
            failed.longestGrabMs = std::max(failed.longestGrabMs, at - grabbed);
            grabbed = at;
            if (now != last) {
                moved = at;
                last = now;
            } else {
                failed.longestStillMs = std::max(failed.longestStillMs, at - moved);
            }
        }
        failed.answeredAfterMs = since.elapsed();
        return failed;
    }

    // The program's worker is free again once the request the server left
    // hanging ends (the mount gives up on it or the server answers it).
    void recovered()
    {
        QElapsedTimer since;
        since.start();
        if (!waitUntil([this] { return program->output().contains("the file server answers again"); }, 60000))
            throw DriverError(QStringLiteral("the program did not use the server again within 60 s"));
        qInfo("the program could use the server again %lld ms after it was back", since.elapsed());
    }

    // After a failed capture: scanned into the window, taken, checked.
    void retake(const QString& sample)
    {
        desk.scanInto(MainTitle, sample);
        desk.answer(TakeTitle, true);
        desk.answer(IncrementTitle, false);
        desk.waitForWindow(ScanTitle);
        verifyTake(sample);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("IMAGEMAKER_SAMBA_MOUNT"), "run under with-samba");
        // The program and this test both find the share on the server's mount.
        qputenv("IMAGEMAKER_MOUNT_POINT", qgetenv("IMAGEMAKER_SAMBA_MOUNT"));
    }
    void init() { beginTest(); }
    void cleanup()
    {
        server("resume");
        endTest();
    }

    void chainOfTwo_isWrittenWholeOnTheServer()
    {
        start(ScanTitle);
        desk.scan("70000301");
        desk.answer(TakeTitle, true);
        desk.answer(IncrementTitle, true);
        desk.answer(TakeTitle, true);
        desk.answer(IncrementTitle, false);
        desk.waitForWindow(ScanTitle);
        verifyTake("70000301");
        verifyTake("70000302");
    }

    void serverHungOrStopped_failsWithinTheBound_viewKeepsMoving_nothingLost_nextTakeWorks()
    {
        start(ScanTitle);
        take("70000311");
        verifyTake("70000311");
        const QByteArray earlier = Share::read("CLR_70000311_01.bmp") + Share::read("CLR_70000311_01.jpg");

        server("hang");
        const Failed hung = captureThatFails("70000312");
        hung.report("server hung");
        QVERIFY2(hung.answeredAfterMs < 15000, "the window did not answer within its bound");
        QVERIFY2(hung.longestStillMs < 1000, "the live view froze");
        desk.answer(ErrorTitle, true);
        // Still hung: the next capture fails at once instead of waiting again.
        const Failed again = captureThatFails("70000312");
        qInfo("still hung: error box after %lld ms", again.answeredAfterMs);
        QVERIFY(again.answeredAfterMs < 5000);
        desk.answer(ErrorTitle, true);
        QVERIFY(program->output().contains("The file server does not answer"));

        // Back: the sample is taken whole, the earlier one is as it was.
        server("resume");
        recovered();
        retake("70000312");
        QCOMPARE(Share::read("CLR_70000311_01.bmp") + Share::read("CLR_70000311_01.jpg"), earlier);

        // Stopped: the share's folder is gone, which a box and the status
        // line say at once; the converters, installed with the program,
        // find no bitmap.
        server("stop");
        const Failed stopped = captureThatFails("70000313");
        stopped.report("server stopped");
        QVERIFY(stopped.longestStillMs < 1000);
        desk.answer(ErrorTitle, true);
        QVERIFY(program->output().contains("Capture of 70000313 failed"));
        server("start");
        QVERIFY(waitUntil([] { return QFileInfo::exists(Share::file("CLR_70000312_01.bmp")); }, 30000));
        retake("70000313");
        desk.key(ScanTitle, "alt+x");
        QVERIFY(program->waitForExit(15000));
    }
};

QTEST_GUILESS_MAIN(TestBenchSamba)
#include "test_bench_samba.moc"
