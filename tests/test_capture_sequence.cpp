#include "window_fixture.h"

#include <QFileInfo>
#include <QMessageBox>

namespace {
const QString Dir = SamplesSharePath;

QString command(const QString& prefix, const QString& sample)
{
    return Dir + "imgconv32\\imgcon32.exe " + Dir + prefix + sample + "_01.bmp -j --o " + Dir + prefix
        + sample + "_01.jpg";
}
} // namespace

class TestCaptureSequence : public QObject {
    Q_OBJECT
    std::unique_ptr<WindowFixture> f;

    // Waits for the start-up dialog and lets the script answer it.
    void openAndWaitForScans(int count)
    {
        f->open();
        QTRY_COMPARE_WITH_TIMEOUT(f->scans.handled(), count, 10000);
    }
    void verifyWaiting(const QString& status = QStringLiteral("Waiting..."))
    {
        QCOMPARE(f->text("lbl_Status"), status);
        QCOMPARE(f->text("lbl_labnumber"), QString(""));
        QVERIFY(!f->child("cmd_capture")->isEnabled());
        QVERIFY(!f->child("cmd_View")->isEnabled());
    }

private slots:
    void init() { f = std::make_unique<WindowFixture>(); }
    void cleanup() { f.reset(); }

    void startupCancel_leavesWaiting_andDoesNotReopen()
    {
        f->scans.add(WindowFixture::press("cmd_Cancel"));
        openAndWaitForScans(1);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        verifyWaiting();
        QTest::qWait(1500);
        QCOMPARE(f->scans.handled(), 1);
        QVERIFY(!QApplication::activeModalWidget());
    }

    void scanAndYes_capturesBothViews_thenNoBringsTheDialogBack()
    {
        f->scans.add(WindowFixture::scan("00012345"));
        f->scans.add(WindowFixture::press("cmd_Cancel"));
        QStringList statusWhenAsked;
        f->prompts.onAsk = [&] { statusWhenAsked << f->text("lbl_Status"); };
        f->prompts.answers = { true, false };
        openAndWaitForScans(2);
        QTRY_VERIFY(!QApplication::activeModalWidget());

        QCOMPARE(f->prompts.log,
            (QStringList { "Take picture|Take picture now?",
                "Auto Increment|Auto increment to next sample number (00012346)" }));
        QCOMPARE(statusWhenAsked, (QStringList { "Ready", "Images have been captured" }));
        QVERIFY(mostlyColour(QImage(f->sampleFile("CLR_00012345_01.bmp")), Qt::green));
        QVERIFY(mostlyColour(QImage(f->sampleFile("BTM_00012345_01.bmp")), Qt::red));
        QCOMPARE(
            f->launcher.commands, (QStringList { command("BTM_", "00012345"), command("CLR_", "00012345") }));
        auto* list = f->child<QListWidget>("lst_Captured");
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), QString("00012345 captured at.... 12/8/26 4:05:09 PM"));
        QCOMPARE(f->window->capturedSamples(), QStringList { "00012345" });
        QCOMPARE(f->window->capturedCount(), 1);
        QVERIFY(f->liveShows(Qt::green));
        verifyWaiting();
        // The pictures fill in by themselves once converted.
        QCOMPARE(f->text("lbl_Pictures"), QString("00012345"));
        QTRY_VERIFY_WITH_TIMEOUT(mostlyColour(f->picture("img_bttm"), Qt::red), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(mostlyColour(f->picture("img_color"), Qt::green), 10000);
    }

    void yesYesChain_capturesThreeSamplesInOrder()
    {
        f->scans.add(WindowFixture::scan("00000099"));
        f->scans.add(WindowFixture::press("cmd_Exit"));
        f->prompts.answers = { true, true, true, true, true, false };
        openAndWaitForScans(2);
        QTRY_VERIFY(!f->window->isVisible());
        QCOMPARE(f->window->capturedSamples(), (QStringList { "00000099", "00000100", "00000101" }));
        auto* list = f->child<QListWidget>("lst_Captured");
        QCOMPARE(list->count(), 3);
        for (int i = 0; i < 3; ++i)
            QVERIFY(list->item(i)->text().startsWith(f->window->capturedSamples()[i] + " captured at.... "));
        for (const char* sample : { "00000099", "00000100", "00000101" }) {
            QVERIFY(QFileInfo::exists(f->sampleFile(QString("CLR_%1_01.bmp").arg(sample))));
            QVERIFY(QFileInfo::exists(f->sampleFile(QString("BTM_%1_01.bmp").arg(sample))));
        }
        QCOMPARE(f->launcher.commands.size(), 6);
        QCOMPARE(f->launcher.commands[4], command("BTM_", "00000101"));
        QCOMPARE(f->prompts.log.count("Take picture|Take picture now?"), 3);
    }

    void failedSave_addsNothing_asksNothing_andFallsBackToWaiting()
    {
        f->open();
        f->window->scanDialog().setNumberText("00054321");
        f->prompts.answers = { false };
        f->window->AcceptSampleNumber();
        QVERIFY(f->settled());
        QVERIFY(f->child("cmd_capture")->isEnabled());
        // The colour camera is pulled out before the picture is taken.
        camera_socket::unplug(1);
        f->prompts.log.clear();
        f->child<QPushButton>("cmd_capture")->click();
        QVERIFY(f->settled());
        QVERIFY(f->prompts.log.isEmpty());
        QCOMPARE(f->child<QListWidget>("lst_Captured")->count(), 0);
        QCOMPARE(f->window->capturedCount(), 0);
        // Says what failed and what to do, until the next sample is armed;
        // the whole reason is in the tooltip and for a screen reader.
        verifyWaiting("Capture failed: no camera picture. Scan again.");
        const QString why = "SaveStill: camera 1 (colour) failed: Camera 1 was unplugged.";
        QCOMPARE(f->child("lbl_Status")->toolTip(), why);
        QCOMPARE(f->child("lbl_Status")->accessibleDescription(), why);
        QVERIFY(!QFileInfo::exists(f->sampleFile("CLR_00054321_01.bmp")));
        // The conversions are launched all the same.
        QCOMPARE(
            f->launcher.commands, (QStringList { command("BTM_", "00054321"), command("CLR_", "00054321") }));
    }

    void bottomView_savesBottomFirst_andStillConvertsBottomFirst()
    {
        f->open();
        f->window->scanDialog().setNumberText("00000555");
        f->prompts.answers = { false };
        f->window->AcceptSampleNumber();
        QVERIFY(f->settled());
        f->child<QPushButton>("cmd_View")->click();
        QVERIFY(f->settled());
        QVERIFY(f->liveShows(Qt::red));
        f->prompts.answers = { true };
        f->child<QPushButton>("cmd_capture")->click();
        QVERIFY(f->settled());
        QVERIFY(mostlyColour(QImage(f->sampleFile("BTM_00000555_01.bmp")), Qt::red));
        QVERIFY(mostlyColour(QImage(f->sampleFile("CLR_00000555_01.bmp")), Qt::green));
        QVERIFY(QFileInfo(f->sampleFile("BTM_00000555_01.bmp")).lastModified()
            <= QFileInfo(f->sampleFile("CLR_00000555_01.bmp")).lastModified());
        QCOMPARE(f->launcher.commands.first(), command("BTM_", "00000555"));
        QVERIFY(f->liveShows(Qt::red));
        QCOMPARE(f->window->currentView(), QString("Bottom"));
        // Yes to auto increment armed the next number and asked again.
        QCOMPARE(f->window->currentSample(), QString("00000556"));
        QCOMPARE(f->text("lbl_Status"), QString("Ready"));
    }

    void wrongLengthNumber_fallsBackToWaiting()
    {
        f->open();
        f->window->scanDialog().setNumberText("00000555");
        f->window->AcceptSampleNumber();
        QVERIFY(f->settled());
        f->window->scanDialog().setNumberText("123");
        f->window->AcceptSampleNumber();
        QVERIFY(f->settled());
        QCOMPARE(f->window->currentSample(), QString(""));
        verifyWaiting();
        // Its digits are gone: the next scan is not appended to them.
        QCOMPARE(f->window->scanDialog().numberText(), QString());
        f->prompts.answers = { false };
        QTest::keyClicks(QApplication::focusWidget(), "00012350");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(f->window->currentSample(), QString("00012350"));
    }

    void exitInTheDialog_endsTheProgram()
    {
        f->scans.add(WindowFixture::press("cmd_Exit"));
        openAndWaitForScans(1);
        QTRY_VERIFY(!f->window->isVisible());
        QCOMPARE(f->window->capturedCount(), 0);
        QVERIFY(!f->window->scanDialog().isLoaded());
    }

    // Pictures already on the share go only on a deliberate Yes: Enter,
    // which answers every other question Yes, keeps them, after a scan and
    // in a chain's auto-increment alike.
    void picturesThere_EnterKeepsThem_YesReplacesThem()
    {
        MessageBoxPrompts boxes(f->scanCollector);
        f->promptsInUse = &boxes;
        f->open();
        QStringList asked;
        // Each question's answer: Enter, or a click on Yes or No.
        QList<int> keys;
        QTimer answering;
        connect(&answering, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || keys.isEmpty())
                return;
            // Keys, Alt+letters above all, go to the active window only.
            if (!box->isActiveWindow() || !box->focusWidget()) {
                box->activateWindow();
                return;
            }
            const bool noByDefault = box->defaultButton() == box->button(QMessageBox::No);
            asked << box->text() + (noByDefault ? "|No" : "|Yes");
            const int key = keys.takeFirst();
            if (key == Qt::Key_Return)
                QTest::keyClick(box->focusWidget(), Qt::Key_Return);
            else
                box->button(key == Qt::Key_Y ? QMessageBox::Yes : QMessageBox::No)->click();
        });
        answering.start(20);
        const auto files = [&](const QString& sample) {
            QStringList times;
            for (const char* name : { "CLR_%1_01.bmp", "BTM_%1_01.bmp", "CLR_%1_01.jpg", "BTM_%1_01.jpg" })
                times << QFileInfo(f->sampleFile(QString(name).arg(sample)))
                             .lastModified()
                             .toString(Qt::ISODateWithMs);
            return times;
        };
        const QDateTime earlier(QDate(2026, 12, 7), QTime(13, 23));
        for (const char* name :
            { "CLR_00012346_01.bmp", "BTM_00012346_01.bmp", "CLR_00012346_01.jpg", "BTM_00012346_01.jpg" }) {
            QFile file(f->sampleFile(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("taken on an earlier day");
            QVERIFY(file.flush());
            QVERIFY(file.setFileTime(earlier, QFileDevice::FileModificationTime));
        }
        const QStringList before = files("00012346");
        const auto arm = [&](const QString& sample, QList<int> answers) {
            keys = answers;
            f->window->scanDialog().setNumberText(sample);
            f->window->AcceptSampleNumber();
            QTRY_VERIFY_WITH_TIMEOUT(
                keys.isEmpty() && f->window->flow().state() == CaptureFlow::State::Idle, 10000);
            QVERIFY(f->settled());
        };
        // The window's clock is a day after them.
        const QString takeNow
            = "Take picture now?\n00012346 already has pictures from 13:23 yesterday; Yes replaces them.";

        arm("00012346", { Qt::Key_Return });
        QCOMPARE(asked, QStringList { takeNow + "|No" });
        QCOMPARE(files("00012346"), before);
        QCOMPARE(f->window->capturedCount(), 0);

        // A chain reaching it: Enter to its number keeps them too.
        asked.clear();
        f->scans.add(WindowFixture::press("cmd_Cancel"));
        arm("00012345", { Qt::Key_Return, Qt::Key_Return });
        QTRY_COMPARE(f->scans.handled(), 1);
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked[0], QString("Take picture now?|Yes"));
        QVERIFY2(
            asked[1].startsWith("Auto increment to next sample number (00012346)\n00012346 already has "),
            qPrintable(asked[1]));
        QVERIFY(asked[1].endsWith("|No"));
        QCOMPARE(f->window->capturedSamples(), QStringList { "00012345" });
        QCOMPARE(files("00012346"), before);

        f->scans.add(WindowFixture::press("cmd_Cancel"));
        arm("00012346", { Qt::Key_Y, Qt::Key_N });
        QTRY_COMPARE(f->scans.handled(), 2);
        QCOMPARE(f->window->capturedSamples(), (QStringList { "00012345", "00012346" }));
        QTRY_VERIFY_WITH_TIMEOUT(
            mostlyColour(QImage(f->sampleFile("CLR_00012346_01.jpg")), Qt::green), 10000);
    }

    void retake_neverShowsTheEarlierTakesJpeg()
    {
        f->open();
        QImage blue(160, 120, QImage::Format_RGB32);
        blue.fill(Qt::blue);
        blue.save(f->sampleFile("CLR_00000777_01.jpg"));
        blue.save(f->sampleFile("BTM_00000777_01.jpg"));
        bool staleShown = false;
        connect(f->window.get(), &Form_ImageMaker::pictureShown, this, [&] {
            if (mostlyColour(f->picture("img_color"), Qt::blue)
                || mostlyColour(f->picture("img_bttm"), Qt::blue))
                staleShown = true;
        });
        f->scans.add(WindowFixture::press("cmd_Cancel"));
        f->window->scanDialog().setNumberText("00000777");
        // Yes replaces the pictures there.
        f->prompts.answers = { true, false };
        f->window->AcceptSampleNumber();
        QVERIFY(f->settled());
        QTRY_VERIFY_WITH_TIMEOUT(mostlyColour(f->picture("img_color"), Qt::green), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(mostlyColour(f->picture("img_bttm"), Qt::red), 10000);
        QVERIFY(!staleShown);
    }
};

QTEST_MAIN(TestCaptureSequence)
#include "test_capture_sequence.moc"
