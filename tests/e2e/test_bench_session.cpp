// The installed program in a real X session, driven only from outside: what
// an operator with a wedge scanner does, checked on the share.

#include "bench_fixture.h"

#include <QFileInfo>
#include <QtTest>

#include <memory>

using namespace e2e;

class TestBenchSession : public QObject, public BenchFixture {
    Q_OBJECT
    void start() { BenchFixture::start(MainTitle); }
    void exitFromTheDialog()
    {
        desk.key(ScanTitle, "alt+x");
        QVERIFY(program->waitForExit(10000));
        QCOMPARE(program->exitStatus(), QProcess::NormalExit);
        QCOMPARE(program->exitCode(), 0);
    }

private slots:
    void init() { beginTest(); }
    void cleanup() { endTest(); }

    void startup_opensTheScanDialog_andExitEndsTheProgram()
    {
        start();
        desk.waitForWindow(ScanTitle, 5000);
        exitFromTheDialog();
        QVERIFY(desk.windows(MainTitle).isEmpty());
        QVERIFY(!QFileInfo::exists(Share::file("CLR__01.bmp")));
    }

    void scanYesIncrementYesYesThenNo_takesTwoSamplesAndAsksForANewNumber()
    {
        start();
        desk.scan("70000001");
        desk.answer(TakeTitle, true);
        desk.answer(IncrementTitle, true);
        // The next number is armed without the dialog and asked about at once.
        QVERIFY(desk.windows(ScanTitle).isEmpty());
        desk.answer(TakeTitle, true);
        desk.answer(IncrementTitle, false);
        desk.waitForWindow(ScanTitle);
        verifyTake("70000001");
        verifyTake("70000002");
        QVERIFY(!QFileInfo::exists(Share::file("CLR_70000003_01.bmp")));
        desk.screenshot().save(QStringLiteral("bench-session.png"));
        exitFromTheDialog();
        // The installed still checker looked at each take; the test cameras
        // show one unchanging scene, so the second is the first's picture.
        QVERIFY2(program->output().contains(QRegularExpression(
                     "Checks of 70000002 after \\d+ ms: colour mean.*difference from 70000001: [01]\\.")),
            qPrintable(program->output()));
    }

    void retakeThroughTheHistory_writesTheFirstSampleAgain()
    {
        start();
        for (const char* sample : { "70000011", "70000012" }) {
            desk.scan(sample);
            desk.answer(TakeTitle, true);
            desk.answer(IncrementTitle, false);
        }
        verifyTake("70000011");
        verifyTake("70000012");
        const QByteArray firstBitmap = Share::read("CLR_70000011_01.bmp");
        const QByteArray firstJpeg = Share::read("CLR_70000011_01.jpg");
        const QByteArray secondBitmap = Share::read("CLR_70000012_01.bmp");
        desk.key(ScanTitle, "alt+c");
        desk.waitUntilGone(ScanTitle);

        // The first history line; then Redo arms the sample now displayed.
        desk.doubleClick(MainTitle, QPoint(420, 64));
        desk.key(MainTitle, "alt+r");
        desk.answer(TakeTitle, true);
        desk.answer(IncrementTitle, false);
        desk.waitForWindow(ScanTitle);

        QVERIFY(Share::read("CLR_70000011_01.bmp") != firstBitmap);
        QVERIFY(waitUntil([&] { return Share::read("CLR_70000011_01.jpg") != firstJpeg; }, 10000));
        verifyTake("70000011");
        QCOMPARE(Share::read("CLR_70000012_01.bmp"), secondBitmap);
        exitFromTheDialog();
    }

    void delete_removesTheJpegsAndKeepsTheBitmaps()
    {
        start();
        desk.scan("70000021");
        desk.answer(TakeTitle, true);
        desk.answer(IncrementTitle, false);
        verifyTake("70000021");
        desk.key(ScanTitle, "alt+c");
        desk.waitUntilGone(ScanTitle);

        desk.key(MainTitle, "alt+d");
        QVERIFY(waitUntil(
            [] {
                return !QFileInfo::exists(Share::file("CLR_70000021_01.jpg"))
                    && !QFileInfo::exists(Share::file("BTM_70000021_01.jpg"));
            },
            5000));
        QVERIFY(readBitmap(Share::file("CLR_70000021_01.bmp")).isBmp);
        QVERIFY(readBitmap(Share::file("BTM_70000021_01.bmp")).isBmp);
        // No question, no message: only the main window is up.
        QTest::qWait(300);
        QCOMPARE(desk.visibleTitles(), QStringList { MainTitle });
        QVERIFY(program->running());
    }
};

QTEST_GUILESS_MAIN(TestBenchSession)
#include "test_bench_session.moc"
