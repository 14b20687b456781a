#include "scan_dialog/frm_wo.h"
#include "scan_dialog/scan_collector.h"
#include "scan_dialog/scan_dialog_access.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

class TestScanDialog : public QObject {
    Q_OBJECT
    ScanCollector scans;
    std::unique_ptr<Frm_Wo> dialog;

    QPushButton* button(const char* name) { return dialog->findChild<QPushButton*>(name); }
    QLabel* label() { return dialog->findChild<QLabel*>("txt_Wo"); }
    QWidget* focused() { return dialog->focusWidget(); }
    void showDialog()
    {
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        QCOMPARE(focused(), button("cmd_Ok"));
    }
    void type(const QString& keys) { QTest::keyClicks(focused(), keys); }

private slots:
    void init() { dialog = std::make_unique<Frm_Wo>(scans); }
    void cleanup() { dialog.reset(); }

    void layout_matchesTheFixedForm()
    {
        QCOMPARE(dialog->windowTitle(), QString("Scan Wo"));
        QCOMPARE(dialog->size(), QSize(272, 88));
        QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
        QCOMPARE(label()->font().family(), QString("Arial"));
        QCOMPARE(label()->font().pointSize(), 12);
        QVERIFY(label()->font().bold());
        QCOMPARE(label()->focusPolicy(), Qt::NoFocus);
        QCOMPARE(label()->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(button("cmd_Ok")->text(), QString("&OK"));
        QCOMPARE(button("cmd_Cancel")->text(), QString("&Cancel"));
        QCOMPARE(button("cmd_Exit")->text(), QString("E&xit"));
        for (const char* name : { "cmd_Ok", "cmd_Cancel", "cmd_Exit" })
            QVERIFY(!button(name)->isDefault());
        showDialog();
        QTest::keyClick(focused(), Qt::Key_Tab);
        QCOMPARE(focused(), button("cmd_Cancel"));
        QTest::keyClick(focused(), Qt::Key_Tab);
        QCOMPARE(focused(), button("cmd_Exit"));
    }

    void typing_collectsDigitsOnly()
    {
        showDialog();
        type("1a2-3b4");
        QCOMPARE(dialog->numberText(), QString("1234"));
        // Neither Escape nor Backspace changes anything or closes the dialog.
        QTest::keyClick(focused(), Qt::Key_Escape);
        QTest::keyClick(focused(), Qt::Key_Backspace);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->numberText(), QString("1234"));
    }

    void scanLongerThanEight_isRefusedWhole_andTheNextScanCounts()
    {
        showDialog();
        QLabel* note = dialog->findChild<QLabel*>("lbl_Refused");
        QVERIFY(note->isHidden());
        type("12345678");
        QCOMPARE(dialog->numberText(), QString("12345678"));
        // A 12-digit barcode: never its first eight digits.
        type("9012");
        QCOMPARE(dialog->numberText(), QString(""));
        QVERIFY(note->isVisible());
        QVERIFY(!note->text().isEmpty());
        // Its Enter does not accept the empty number.
        QTest::keyClick(focused(), Qt::Key_Return);
        QVERIFY(dialog->isVisible());
        type("00012345");
        QVERIFY(note->isHidden());
        QTest::keyClick(focused(), Qt::Key_Return);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->numberText(), QString("00012345"));
    }

    void typing_onCancelCollects_onExitDoesNot()
    {
        showDialog();
        QTest::keyClick(focused(), Qt::Key_Tab);
        type("12");
        QTest::keyClick(focused(), Qt::Key_Tab);
        QCOMPARE(focused(), button("cmd_Exit"));
        type("34");
        QCOMPARE(dialog->numberText(), QString("12"));
        QTest::keyClick(focused(), Qt::Key_Backtab);
        QTest::keyClick(focused(), Qt::Key_Backtab);
        QCOMPARE(focused(), button("cmd_Ok"));
        type("56");
        QCOMPARE(dialog->numberText(), QString("1256"));
    }

    // A Tab before the scan moved the focus to Cancel: the scan's Enter
    // still accepts it; a person's Enter there cancels as it always did.
    void scanOnCancel_isAccepted_aPersonsEnterCancels()
    {
        quint64 at = 1000;
        const auto send = [&](int key, const QString& text, quint64 gap) {
            at += gap;
            for (const QEvent::Type type : { QEvent::KeyPress, QEvent::KeyRelease }) {
                QKeyEvent event(type, key, Qt::NoModifier, text);
                event.setTimestamp(at);
                QApplication::sendEvent(focused(), &event);
            }
        };
        for (const bool scanned : { false, true }) {
            showDialog();
            QTest::keyClick(focused(), Qt::Key_Tab);
            QCOMPARE(focused(), button("cmd_Cancel"));
            for (const QChar digit : QString("00012345"))
                send(Qt::Key_0 + digit.digitValue(), QString(digit), scanned ? 5 : 400);
            send(Qt::Key_Return, "\r", scanned ? 5 : 400);
            QVERIFY(!dialog->isVisible());
            QCOMPARE(dialog->numberText(), scanned ? QString("00012345") : QString());
            dialog->setNumberText(QString());
        }
    }

    void enterAfterDigits_pressesOk_andKeepsTheNumber()
    {
        showDialog();
        type("00012345");
        QTest::keyClick(focused(), Qt::Key_Return);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->numberText(), QString("00012345"));
        QVERIFY(!dialog->ExitSoftware);
    }

    void buttons_leaveWhatTheOwnerExpects_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("number");
        QTest::addColumn<bool>("exit");
        QTest::newRow("OK on empty") << "" << int(Qt::Key_O) << "" << false;
        QTest::newRow("OK on short") << "123" << int(Qt::Key_O) << "123" << false;
        QTest::newRow("Cancel after 1234") << "1234" << int(Qt::Key_C) << "" << false;
        QTest::newRow("Exit") << "1234" << int(Qt::Key_X) << "" << true;
    }
    void buttons_leaveWhatTheOwnerExpects()
    {
        QFETCH(QString, typed);
        QFETCH(int, key);
        QFETCH(QString, number);
        QFETCH(bool, exit);
        showDialog();
        type(typed);
        QTest::keyClick(focused(), Qt::Key(key), Qt::AltModifier);
        QTRY_VERIFY(!dialog->isVisible());
        QCOMPARE(dialog->numberText(), number);
        QCOMPARE(dialog->ExitSoftware, exit);
    }

    // An operator looks at the window; the dialog must not open in a corner.
    void opensOverItsOwner_notInTheScreensCorner()
    {
        QWidget owner;
        owner.setGeometry(300, 200, 800, 600);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        Frm_Wo owned(scans, &owner);
        owned.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owned));
        QVERIFY2(owner.frameGeometry().contains(owned.frameGeometry()),
            qPrintable(QString("dialog at %1,%2").arg(owned.x()).arg(owned.y())));
    }

    void closeControl_actsAsCancel()
    {
        showDialog();
        type("42");
        dialog->close();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->numberText(), QString(""));
        QVERIFY(!dialog->ExitSoftware);
    }

    void numberWrittenWhileHidden_isShownAndReturnedUnchanged()
    {
        QWidget owner;
        ScanDialogAccess access(&owner, scans);
        access.setNumberText("00012346");
        QTimer::singleShot(0, this, [&] {
            QWidget* ok = access.dialog().focusWidget();
            QTest::keyClicks(ok, "777");
            QCOMPARE(access.dialog().findChild<QLabel*>("txt_Wo")->text(), QString("00012346"));
            QTest::keyClick(ok, Qt::Key_Return);
        });
        access.showModal();
        QCOMPARE(access.numberText(), QString("00012346"));
    }

    void afterDestroy_numberIsEmptyAndExitFalse_andAWriteSurvives()
    {
        QWidget owner;
        ScanDialogAccess access(&owner, scans);
        QVERIFY(!access.isLoaded());
        access.dialog().ExitSoftware = true;
        access.setNumberText("12345678");
        access.unload();
        QVERIFY(!access.isLoaded());
        QCOMPARE(access.numberText(), QString(""));
        QVERIFY(!access.exitSoftware());
        access.unload();
        access.setNumberText("00000100");
        QCOMPARE(access.numberText(), QString("00000100"));
    }

    void burst_10000Scans_eachReadBackExactly()
    {
        QWidget owner;
        ScanDialogAccess access(&owner, scans);
        int exact = 0;
        for (int scan = 0; scan < 10000; ++scan) {
            const QString number = QString::number(scan * 7919 % 100000000).rightJustified(8, '0');
            Frm_Wo& dlg = access.dialog();
            dlg.winId();
            QWindow* window = dlg.windowHandle();
            // The whole scan is queued before the dialog runs, as a scanner
            // delivers it: no event is handled between two keystrokes.
            // Posted to the window, they reach the focused button the way
            // keyboard input does.
            const auto post = [window](QEvent::Type type, int key, const QString& text) {
                QCoreApplication::postEvent(window, new QKeyEvent(type, key, Qt::NoModifier, text));
            };
            for (const QChar digit : number) {
                post(QEvent::KeyPress, Qt::Key_0 + digit.digitValue(), QString(digit));
                post(QEvent::KeyRelease, Qt::Key_0 + digit.digitValue(), QString(digit));
            }
            post(QEvent::KeyPress, Qt::Key_Return, QStringLiteral("\r"));
            post(QEvent::KeyRelease, Qt::Key_Return, QStringLiteral("\r"));
            access.showModal();
            if (access.numberText() == number && !access.exitSoftware())
                ++exact;
            else
                qWarning() << "scan" << scan << "sent" << number << "read" << access.numberText();
            access.unload();
            if (scan < 10 && exact != scan + 1)
                break;
        }
        QCOMPARE(exact, 10000);
    }
};

QTEST_MAIN(TestScanDialog)
#include "test_scan_dialog.moc"
