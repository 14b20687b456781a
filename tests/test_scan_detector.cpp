// What a scan is, on the real dialog and the real question boxes, with keys
// that carry the times a keyboard or a scanner gives them.
#include "capture_window/prompts.h"
#include "scan_dialog/frm_wo.h"
#include "scan_dialog/scan_collector.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

namespace {

// Key presses (and releases) at chosen times, sent to whatever has the focus.
class Keys {
public:
    void press(int key, const QString& text = {}, ulong gapMs = 10)
    {
        m_at += gapMs;
        send(QEvent::KeyPress, key, text);
        send(QEvent::KeyRelease, key, text);
    }
    void digits(const QString& digits, ulong gapMs = 10)
    {
        for (const QChar digit : digits)
            press(Qt::Key_0 + digit.digitValue(), QString(digit), gapMs);
    }
    void enter(ulong gapMs = 10) { press(Qt::Key_Return, QStringLiteral("\r"), gapMs); }
    // A held key's repeat, as X sends it: a release and a press at one time, flagged.
    void repeat(int key, const QString& text, ulong gapMs)
    {
        m_at += gapMs;
        send(QEvent::KeyRelease, key, text, true);
        send(QEvent::KeyPress, key, text, true);
    }
    void wait(ulong ms) { m_at += ms; }

private:
    void send(QEvent::Type type, int key, const QString& text, bool repeat = false)
    {
        QKeyEvent event(type, key, Qt::NoModifier, text, repeat);
        event.setTimestamp(m_at);
        QWidget* focus = QApplication::focusWidget();
        if (!focus && QApplication::activeModalWidget())
            focus = QApplication::activeModalWidget()->focusWidget();
        // A press that closed its window leaves its release nowhere to go.
        if (type == QEvent::KeyRelease && !focus)
            return;
        QVERIFY(focus);
        QApplication::sendEvent(focus, &event);
    }
    ulong m_at = 100000;
};

} // namespace

class TestScanDetector : public QObject {
    Q_OBJECT
    ScanCollector scans;
    Keys keys;

    // Shown and active, as the operator finds it.
    static bool shown(QWidget& window)
    {
        window.show();
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window);
    }

    // Opens a real question and runs `script` on it once it is up.
    Answer ask(const std::function<void(QMessageBox*)>& script)
    {
        MessageBoxPrompts prompts(scans);
        QTimer::singleShot(0, [script] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            box->activateWindow();
            if (QTest::qWaitForWindowActive(box))
                script(box);
            // A test that failed must not leave the box open.
            if (box->isVisible())
                box->button(QMessageBox::No)->click();
        });
        return prompts.askYesNo(nullptr, "Take picture now?", "Take picture");
    }

private slots:
    // A scanner's CR+LF within one millisecond: Qt may hand both Enters in
    // one event object; the second is still the rest of the scan. On X its
    // release may go to the box its first Enter closed, and Qt then flags
    // the operator's next Enter as a repeat: it is a press of its own.
    void detector_aSecondEnterInTheSameEventAndMillisecond_isTheSuffix()
    {
        ScanDetector detector(ScanDetector::Repeats::Paired);
        for (int i = 0; i < 8; ++i) {
            QKeyEvent digit(QEvent::KeyPress, Qt::Key_0, Qt::NoModifier, "0");
            digit.setTimestamp(5000 + 5 * i);
            QCOMPARE(detector.see(digit), ScanDetector::Kind::Digit);
        }
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
        enter.setTimestamp(5045);
        QKeyEvent up(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, "\r");
        up.setTimestamp(5045);
        QCOMPARE(detector.see(enter), ScanDetector::Kind::End);
        // Handed on from a child to its window: the same key, seen again.
        QCOMPARE(detector.see(enter), ScanDetector::Kind::End);
        detector.see(up);
        QCOMPARE(detector.see(enter), ScanDetector::Kind::Ignored);
        QKeyEvent next(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r", true);
        next.setTimestamp(5884);
        QCOMPARE(detector.see(next), ScanDetector::Kind::End);
        // Held from there, its repeats come as a flagged release and press at one time.
        QKeyEvent repeatUp(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, "\r", true);
        repeatUp.setTimestamp(6400);
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r", true);
        repeat.setTimestamp(6400);
        QCOMPARE(detector.see(repeatUp), ScanDetector::Kind::Ignored);
        QCOMPARE(detector.see(repeat), ScanDetector::Kind::Ignored);
    }

    void question_strayDigitsAnswerNothing_andSaySo_thenEnterIsYes()
    {
        bool stillOpen = false;
        QString said;
        bool openAfterSlowEnter = false;
        const Answer answer = ask([&](QMessageBox* box) {
            keys.wait(1000);
            keys.digits("5", 200);
            keys.enter(200);
            stillOpen = box->isVisible();
            said = box->informativeText();
            // The same, with a person's pause between the digit and its Enter.
            keys.digits("7", 800);
            QTest::qWait(ScanDetector::PauseMs + 200);
            keys.enter(ScanDetector::PauseMs + 200);
            openAfterSlowEnter = box->isVisible();
            keys.enter(800);
        });
        QVERIFY(openAfterSlowEnter);
        QVERIFY(stillOpen);
        QCOMPARE(said, NotASampleNumber);
        QVERIFY(answer.yes);
        QVERIFY(answer.scanned.isEmpty());
    }

    void question_aWholeScanAnswersNoAndIsArmed_tooLongIsDropped()
    {
        bool stillOpen = false;
        const Answer answer = ask([&](QMessageBox* box) {
            keys.wait(1000);
            keys.digits("700000639999");
            keys.enter();
            stillOpen = box->isVisible();
            keys.wait(1000);
            keys.digits("00012350");
            keys.enter();
        });
        QVERIFY(stillOpen);
        QVERIFY(!answer.yes);
        QCOMPARE(answer.scanned, QString("00012350"));
    }

    void question_aScanWithoutSuffixEndsWithItsPause()
    {
        const Answer answer = ask([&](QMessageBox*) {
            keys.wait(1000);
            keys.digits("00012351");
            QTest::qWait(ScanDetector::PauseMs + 200);
        });
        QCOMPARE(answer.scanned, QString("00012351"));
    }

    // A scanner sending CR+LF: the scan's second Enter reaches the question
    // its first one opened, and must not answer it.
    void question_theRestOfTheScanThatOpenedIt_answersNothing_norDoesAHeldEnter()
    {
        Frm_Wo dialog(scans);
        QVERIFY(shown(dialog));
        keys.wait(1000);
        keys.digits("00012345");
        keys.enter();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.numberText(), QString("00012345"));
        bool openAfterSuffix = false;
        bool openAfterRepeat = false;
        const Answer answer = ask([&](QMessageBox* box) {
            keys.enter(40);
            openAfterSuffix = box->isVisible();
            // A held Enter.
            keys.repeat(Qt::Key_Return, QStringLiteral("\r"), 2000);
            openAfterRepeat = box->isVisible();
            keys.enter(500);
        });
        QVERIFY(openAfterSuffix);
        QVERIFY(openAfterRepeat);
        QVERIFY(answer.yes);
    }

    // The leading digits of a scan stay its own, however its keys come: a
    // doubled digit within one millisecond, a scanner's pause inside the
    // number; and a typist's keys rolling over are no scan.
    void dialog_readsEachNumberWhole_data()
    {
        QTest::addColumn<QList<int>>("gaps");
        QTest::addColumn<QString>("digits");
        QTest::addColumn<QString>("read");
        QTest::newRow("doubled digit in one ms") << QList<int> { 10, 0, 5, 5, 5, 5, 5, 5, 5 } << "00012345"
                                                 << "00012345";
        QTest::newRow("scanner pausing 80 ms") << QList<int> { 10, 5, 5, 5, 80, 5, 5, 5, 5 } << "00012345"
                                               << "00012345";
        QTest::newRow("scanner stuttering 120 ms on a busy machine")
            << QList<int> { 10, 120, 5, 5, 5, 5, 5, 5, 5 } << "70000041"
            << "70000041";
        QTest::newRow("typist rolling over")
            << QList<int> { 400, 400, 400, 400, 30, 30, 400, 400, 400 } << "12345678"
            << "12345678";
        QTest::newRow("typed slip, then a scan")
            << QList<int> { 400, 400, 5, 5, 5, 5, 5, 5, 5 } << "900012345"
            << "00012345";
    }
    void dialog_readsEachNumberWhole()
    {
        QFETCH(QList<int>, gaps);
        QFETCH(QString, digits);
        QFETCH(QString, read);
        Frm_Wo dialog(scans);
        QVERIFY(shown(dialog));
        keys.wait(1000);
        for (qsizetype i = 0; i < digits.size(); ++i)
            keys.digits(digits.mid(i, 1), gaps.at(i));
        keys.enter(gaps.last());
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.numberText(), read);
    }

    // A scan too short for a sample number says so and waits for the next.
    void dialog_aShortScanIsRefused_andTheNextScanCounts()
    {
        Frm_Wo dialog(scans);
        QVERIFY(shown(dialog));
        keys.wait(1000);
        keys.digits("123456", 5);
        keys.enter(5);
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.findChild<QLabel*>("lbl_Refused")->isVisible());
        QCOMPARE(dialog.numberText(), QString());
        keys.wait(1000);
        keys.digits("00012345", 5);
        keys.enter(5);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.numberText(), QString("00012345"));
    }

    // A box that only tells something leaves a scan to the window under it,
    // and closes on a person's Enter only.
    void messageBox_leavesAScanToTheWindowUnderIt()
    {
        struct Window final : ScanTaker {
            QString scanned;
            void scanEnded(const QString& number) override { scanned = number; }
            void notASampleNumber() override { }
            bool typedEnded(const QKeyEvent&) override { return false; }
        } window;
        scans.startTaking(window);
        MessageBoxPrompts prompts(scans);
        bool openAfterScan = false;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            QVERIFY(box);
            box->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(box));
            keys.wait(1000);
            keys.digits("00012345", 5);
            keys.enter(5);
            openAfterScan = box->isVisible();
            keys.enter(800);
            if (box->isVisible())
                box->close();
        });
        prompts.showMessage(nullptr, "The camera failed");
        scans.stopTaking(window);
        QVERIFY(openAfterScan);
        QCOMPARE(window.scanned, QString("00012345"));
    }

    void dialog_tabSuffixActsAsEnter_aPrefixIsDropped_andAPersonsTabMovesOn()
    {
        Frm_Wo dialog(scans);
        QVERIFY(shown(dialog));
        keys.wait(1000);
        keys.press(Qt::Key_BracketRight, "]");
        keys.press(Qt::Key_C, "C");
        keys.digits("100012345");
        keys.press(Qt::Key_Tab, "\t");
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.numberText(), QString("00012345"));

        Frm_Wo typed(scans);
        QVERIFY(shown(typed));
        keys.wait(1000);
        keys.digits("12", 300);
        keys.press(Qt::Key_Tab, "\t", 400);
        QVERIFY(typed.isVisible());
        QCOMPARE(typed.focusWidget(), typed.findChild<QPushButton*>("cmd_Cancel"));
        QCOMPARE(typed.numberText(), QString("12"));
    }
};

QTEST_MAIN(TestScanDetector)
#include "test_scan_detector.moc"
