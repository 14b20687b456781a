// An operator's scanner habits, from outside at a scanner's speed: rescanning
// when no dialog is open, scanning while a question is open, a barcode that is
// not a sample number, and a held Enter.

#include "bench_fixture.h"

#include <QFileInfo>
#include <QtTest>

#include <memory>

using namespace e2e;

class TestBenchScanner : public QObject, public BenchFixture {
    Q_OBJECT
    static bool taken(const QString& sample)
    {
        return QFileInfo::exists(Share::file("CLR_" + sample + "_01.bmp"));
    }

private slots:
    void init()
    {
        beginTest();
        start(MainTitle);
        desk.waitForWindow(ScanTitle);
    }
    void cleanup() { endTest(); }

    void scanWithNoDialogOpen_armsIt_andScanIntoAQuestion_meansThatSampleInstead()
    {
        desk.key(ScanTitle, "alt+c");
        desk.waitUntilGone(ScanTitle);
        // "&Close" has the focus: the scan's Enter must not end the session.
        desk.scanInto(MainTitle, "70000031");
        desk.answer(TakeTitle, true);
        desk.waitForWindow(IncrementTitle);
        QVERIFY(program->running());

        // Not the next number (70000032) but the one scanned.
        desk.scanInto(IncrementTitle, "70000041");
        desk.waitUntilGone(IncrementTitle);
        desk.answer(TakeTitle, true);
        desk.answer(IncrementTitle, false);
        desk.waitForWindow(ScanTitle);
        verifyTake("70000031");
        verifyTake("70000041");
        QVERIFY(!taken("70000032"));

        // Scanned while "Take picture now?" asks about 70000042: that one is
        // not armed, the scanned one is asked about.
        desk.key(ScanTitle, "alt+c");
        desk.waitUntilGone(ScanTitle);
        desk.scanInto(MainTitle, "70000042");
        desk.waitForWindow(TakeTitle);
        desk.scanInto(TakeTitle, "70000051");
        desk.answer(TakeTitle, true);
        desk.answer(IncrementTitle, false);
        desk.waitForWindow(ScanTitle);
        verifyTake("70000051");
        QVERIFY(!taken("70000042"));
    }

    void twelveDigitBarcode_isRefused_neverCutToEight()
    {
        desk.scanInto(ScanTitle, "700000619999");
        QTest::qWait(500);
        QVERIFY(desk.windows(TakeTitle).isEmpty());
        QCOMPARE(desk.windows(ScanTitle).size(), 1);
        // Scanned into a question it answers nothing: the question stays,
        // and says so.
        desk.scan("70000062");
        desk.waitForWindow(TakeTitle);
        desk.scanInto(TakeTitle, "700000639999");
        QTest::qWait(500);
        QCOMPARE(desk.windows(TakeTitle).size(), 1);
        QVERIFY(desk.windows(ScanTitle).isEmpty());
        desk.answer(TakeTitle, false);
        QTest::qWait(300);
        QVERIFY(!taken("70000061") && !taken("70000062") && !taken("70000063"));
        QVERIFY(program->running());
    }

    // A scanner set to CR+LF, one with a Tab, one with an AIM prefix.
    void scannerSuffixesAndPrefix_armTheNumber_andConfirmNothing()
    {
        desk.scanInto(ScanTitle, "70000081", { "Return", "Return" });
        desk.waitForWindow(TakeTitle);
        QTest::qWait(500);
        QCOMPARE(desk.windows(TakeTitle).size(), 1);
        QVERIFY(!taken("70000081"));
        // Scanned into the question: answers it No and is asked about instead.
        desk.scanInto(TakeTitle, "70000082", { "Tab" });
        QTest::qWait(500);
        QCOMPARE(desk.windows(TakeTitle).size(), 1);
        desk.scanInto(TakeTitle, "]C170000083", { "Return", "Return" });
        QTest::qWait(500);
        QCOMPARE(desk.windows(TakeTitle).size(), 1);
        desk.answer(TakeTitle, true);
        desk.answer(IncrementTitle, false);
        desk.waitForWindow(ScanTitle);
        verifyTake("70000083");
        QVERIFY(!taken("70000081") && !taken("70000082"));
    }

    void heldEnter_answersOneQuestionOnly()
    {
        desk.scan("70000071");
        desk.hold(TakeTitle, "Return", 2000);
        desk.waitForWindow(IncrementTitle);
        QTest::qWait(300);
        QVERIFY(taken("70000071"));
        QVERIFY(!taken("70000072"));
        desk.answer(IncrementTitle, false);
        verifyTake("70000071");
    }
};

QTEST_GUILESS_MAIN(TestBenchScanner)
#include "test_bench_scanner.moc"
