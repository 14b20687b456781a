// Faults inside a capture, on the real window, cameras and converter: a
// camera lost between the two stills, a sample folder that cannot be written.

#include "processes.h"
#include "window_fixture.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>

#include <atomic>
#include <cstring>
#include <thread>

#include <unistd.h>

class TestCaptureFaults : public QObject {
    Q_OBJECT
    std::unique_ptr<WindowFixture> f;

    // Arms a sample without the start-up dialog; the answer to "Take
    // picture now?" is No so the test clicks capture itself.
    void arm(const QString& sample)
    {
        f->window->scanDialog().setNumberText(sample);
        f->prompts.answers = { false };
        f->window->AcceptSampleNumber();
        QVERIFY(f->settled());
    }
    // A capture that, when it counts, goes on to the next number and does
    // not take it: no scan dialog is left to open while the test waits.
    void capture()
    {
        f->prompts.answers = { true, false };
        f->child<QPushButton>("cmd_capture")->click();
        QVERIFY(f->settled());
    }
    // A script in the place of the converter on the share, the real one kept beside it as ".real".
    void useConverterScript(const QByteArray& body)
    {
        const QString converter = f->share.samplesFolder() + "/imgconv32/imgcon32.exe";
        if (!QFileInfo::exists(converter + ".real") && !QFile::rename(converter, converter + ".real"))
            qFatal("cannot move the converter aside");
        QFile script(converter);
        if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || script.write("#!/bin/sh\n" + body) < 0)
            qFatal("cannot write the converter's script");
        script.close();
        script.setPermissions(script.permissions() | QFile::ExeOwner);
    }
    // The bottom camera is pulled out as the next capture begins, once `pull` is set.
    void pullBottomAsACaptureBegins(bool& pull)
    {
        auto watch = std::make_unique<StillWatch>(f->camera, StillWatch::Hook {});
        watch->beginning = [&pull] {
            if (std::exchange(pull, false))
                camera_socket::unplug(0);
        };
        f->dispatch = watch.get();
        f->layer = std::move(watch);
    }
    void verifyWaitingAfterFailure(qint64 capturesBefore)
    {
        QCOMPARE(f->window->capturedCount(), capturesBefore);
        QVERIFY2(f->text("lbl_Status").startsWith("Capture failed: "), qPrintable(f->text("lbl_Status")));
        QVERIFY(!f->child("cmd_capture")->isEnabled());
        QVERIFY(!f->prompts.log.join('\n').contains("Auto Increment"));
    }
    void waitForConverters()
    {
        QVERIFY(QTest::qWaitFor([&] { return processesMentioning(f->share.samplesFolder()) == 0; }, 10000));
    }
    // The shown take's JPEGs read back too: the window reads each once its
    // converter has been reaped, which comes after the converter is gone.
    void waitForPicturesShown()
    {
        waitForConverters();
        QTRY_VERIFY_WITH_TIMEOUT(
            !f->picture("img_color").isNull() && !f->picture("img_bttm").isNull(), 10000);
    }
    // Only final names in the sample folder once the converters and the
    // window's last share work are done: nothing left written half.
    void verifyNoPartialFiles()
    {
        waitForConverters();
        const QRegularExpression final("^(CLR|BTM)_\\d{8}_01\\.(bmp|jpg)$");
        const auto stray = [&] {
            QStringList names = QDir(f->share.samplesFolder()).entryList(QDir::Files | QDir::Hidden);
            names.removeIf([&](const QString& name) { return final.match(name).hasMatch(); });
            return names;
        };
        QTRY_COMPARE(stray(), QStringList());
    }

private slots:
    void init() { f = std::make_unique<WindowFixture>(); }
    void cleanup() { f.reset(); }

    // The sample folder gone, at start-up and in the middle of a run: said in
    // a box, once until a take finds it again, and on the status line; the
    // take fails for that reason and makes no folder of its own.
    void sampleFolderGone_isToldOnce_andTheTakeFailsForIt()
    {
        const QString folder = f->share.samplesFolder();
        const QString away = folder + ".away";
        const auto restore = qScopeGuard([&] { QDir().rename(away, folder); });
        QVERIFY(QDir().rename(folder, away));
        f->scans.add(WindowFixture::press("cmd_Cancel"));
        f->open();
        const QString box
            = "ImageMaker|The file server's sample folder cannot be reached. Check that the share "
              "is mounted, then press Get Wo.";
        QTRY_COMPARE(f->scans.handled(), 1);
        QCOMPARE(f->prompts.log.count(box), 1);
        QCOMPARE(f->text("lbl_Status"), QString("Sample folder not reached: check the share"));

        QVERIFY(QDir().rename(away, folder));
        arm("00067000");
        capture();
        QCOMPARE(f->window->capturedCount(), 1);
        // Its JPEGs written and read first: a conversion cut off by the
        // folder's going would add its own line to the status.
        waitForPicturesShown();
        QVERIFY(QDir().rename(folder, away));
        capture();
        QCOMPARE(f->window->capturedCount(), 1);
        QCOMPARE(f->text("lbl_Status"), QString("Capture failed: share not reached. Scan again."));
        QCOMPARE(f->prompts.log.count(box), 2);
        QVERIFY(!QFileInfo::exists(folder));
    }

    void conversionFailingOrCutShort_showsConversionFailed_marksItsHistoryLine_andAGoodTakeClearsIt()
    {
        const QString converter = f->share.samplesFolder() + "/imgconv32/imgcon32.exe";
        const QByteArray real = QFile::encodeName(converter + ".real");
        QVERIFY(QFile::rename(converter, converter + ".real"));
        // A JPEG that cannot be read is made again first.
        using namespace std::chrono_literals;
        f->conversionRetryDelays = { 100ms, 100ms };
        f->open();
        auto* history = f->child<QListWidget>("lst_Captured");
        const QByteArray failing[] = {
            "exit 3\n",
            // A JPEG written half: it decodes, grey below the cut.
            "\"" + real
                + "\" \"$1\" -j --o \"$4.whole\" && head -c -40 \"$4.whole\" > \"$4\" && rm \"$4.whole\"\n",
        };
        for (const QByteArray& body : failing) {
            QFile script(converter);
            QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
            script.write("#!/bin/sh\n" + body);
            script.close();
            QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));
            arm("00063000");
            capture();
            for (const char* box : { "img_color", "img_bttm" })
                QTRY_COMPARE_WITH_TIMEOUT(f->child<QLabel>(box)->text(), QString("Conversion failed"), 10000);
            QVERIFY(f->picture("img_color").isNull());
            // The next number is armed: its status stays, with the count of
            // samples without JPEGs; the failed sample's line in the history
            // says what failed.
            QCOMPARE(f->text("lbl_Status"), QString("Ready \u00b7 1 without JPEG"));
            QListWidgetItem* line = history->item(history->count() - 1);
            QVERIFY(!line->icon().isNull());
            QVERIFY2(line->toolTip().contains("Colour JPEG of 00063000 failed"), qPrintable(line->toolTip()));
            QCOMPARE(line->data(Qt::AccessibleDescriptionRole).toString(), line->toolTip());
        }
        QCOMPARE(f->window->capturedCount(), 2);
        // Nothing armed since (No to the next number, the scan dialog up):
        // the status line tells, naming sample and view, and no path.
        arm("00063000");
        QString told;
        f->scans.add([&](QWidget* dialog) {
            static_cast<void>(QTest::qWaitFor(
                [&] { return f->text("lbl_Status").contains("JPEG of 00063000 failed"); }, 10000));
            told = f->text("lbl_Status");
            dialog->findChild<QPushButton*>("cmd_Cancel")->click();
        });
        f->prompts.answers = { false };
        f->child<QPushButton>("cmd_capture")->click();
        QTRY_COMPARE(f->scans.handled(), 1);
        // Whichever view failed last.
        QVERIFY2(told.contains(QRegularExpression("^(Colour|Bottom) JPEG of 00063000 failed"))
                && !told.contains('/'),
            qPrintable(told));

        // A good take takes the mark back. The failing converters are done
        // first: a late one would write over the good take's JPEG.
        waitForConverters();
        QVERIFY(QFile::remove(converter));
        QVERIFY(QFile::rename(converter + ".real", converter));
        arm("00063000");
        capture();
        QTRY_VERIFY_WITH_TIMEOUT(
            !f->picture("img_color").isNull() && !f->picture("img_bttm").isNull(), 10000);
        // The mark goes as the conversions' ends are handled.
        const auto marked = [history] {
            int lines = 0;
            for (int i = 0; i < history->count(); ++i)
                lines += history->item(i)->icon().isNull() ? 0 : 1;
            return lines;
        };
        QTRY_COMPARE(marked(), 0);
    }

    // A converter that never ends is stopped at its limit with all it
    // started, tried again, and marked when the tries are spent.
    void conversionThatHangs_isStoppedAtItsLimit_triedAgain_andMarked()
    {
        using namespace std::chrono_literals;
        // The shell waits on a child of its own, which goes with it.
        useConverterScript("sleep 600.00063500\n");
        f->conversionRetryDelays = { 50ms };
        f->store.setConversionLimitFloor(400ms);
        f->open();
        arm("00063500");
        capture();
        for (const char* box : { "img_color", "img_bttm" })
            QTRY_COMPARE_WITH_TIMEOUT(f->child<QLabel>(box)->text(), QString("Conversion failed"), 10000);
        QCOMPARE(f->text("lbl_Status"), QString("Ready \u00b7 1 without JPEG"));
        waitForConverters();
        QTRY_COMPARE(processesMentioning("600.00063500"), 0);
    }

    // Closed while conversions run: the window says so and waits for them,
    // then closes by itself; one that never ends is stopped at its limit,
    // and the log names its sample.
    void closeWhileConverting_waitsForTheConversions_andNamesWhatIsLeft()
    {
        using namespace std::chrono_literals;
        const QString real = f->share.samplesFolder() + "/imgconv32/imgcon32.exe.real";
        useConverterScript("case \"$1\" in *00063601*) sleep 600.00063601;; esac\nsleep 0.5\nexec \""
            + QFile::encodeName(real) + "\" \"$@\"\n");
        f->conversionRetryDelays = { 50ms };
        f->store.setConversionLimitFloor(1500ms);
        f->open();
        arm("00063600");
        capture();
        arm("00063601");
        capture();
        QTest::ignoreMessage(QtWarningMsg, "Closing with samples left without JPEG: 00063601");
        f->window->close();
        QVERIFY(f->window->isVisible());
        QVERIFY2(f->text("lbl_Status").startsWith("Finishing "), qPrintable(f->text("lbl_Status")));
        QTRY_VERIFY_WITH_TIMEOUT(!f->window->isVisible(), 10000);
        QVERIFY(QFileInfo::exists(f->sampleFile("CLR_00063600_01.jpg")));
        QVERIFY(QFileInfo::exists(f->sampleFile("BTM_00063600_01.jpg")));
        QTRY_COMPARE(processesMentioning("600.00063601"), 0);
    }

    void conversionTheShareFailed_isTriedAgain_andMarkedOnlyWhenTheTriesAreSpent()
    {
        using namespace std::chrono_literals;
        f->conversionRetryDelays = { 300ms, 300ms, 300ms };
        const QString converter = f->share.samplesFolder() + "/imgconv32/imgcon32.exe";
        const QByteArray real = QFile::encodeName(converter + ".real");
        QVERIFY(QFile::rename(converter, converter + ".real"));
        // Fails with the share's status the first FAILS times for each JPEG.
        const auto useConverter = [&](int fails) {
            QFile script(converter);
            QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
            script.write("#!/bin/sh\ncount=\"$0.$(basename \"$4\").runs\"\n"
                         "n=$(cat \"$count\" 2>/dev/null || echo 0); echo $((n + 1)) > \"$count\"\n"
                         "[ \"$n\" -lt "
                + QByteArray::number(fails) + " ] && exit 4\nexec \"" + real + "\" \"$@\"\n");
            script.close();
            QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));
        };
        const auto runs = [&](const QString& jpeg) {
            QFile count(converter + "." + jpeg + ".runs");
            return count.open(QIODevice::ReadOnly) ? count.readAll().trimmed().toInt() : 0;
        };
        f->open();
        auto* history = f->child<QListWidget>("lst_Captured");

        // Twice the share's fault, then well: whole, never marked, and the
        // count in the status line only while a retry is due.
        useConverter(2);
        arm("00064000");
        capture();
        QTRY_VERIFY_WITH_TIMEOUT(f->text("lbl_Status").endsWith("\u00b7 1 without JPEG"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(
            !f->picture("img_color").isNull() && !f->picture("img_bttm").isNull(), 10000);
        QCOMPARE(runs("CLR_00064000_01.jpg"), 3);
        QTRY_COMPARE(f->text("lbl_Status"), QString("Ready"));
        QVERIFY(history->item(0)->icon().isNull());

        // Never well: unmarked while tries are left, marked once they are
        // spent, whichever sample is armed; the count stays.
        useConverter(100);
        arm("00064001");
        capture();
        QTRY_VERIFY_WITH_TIMEOUT(runs("BTM_00064001_01.jpg") == 2, 5000);
        QVERIFY(history->item(1)->icon().isNull());
        QTRY_VERIFY_WITH_TIMEOUT(!history->item(1)->icon().isNull(), 5000);
        // Marked as the first of the two spends its tries, whichever it is.
        QCOMPARE(std::max(runs("BTM_00064001_01.jpg"), runs("CLR_00064001_01.jpg")), 4);
        QTRY_COMPARE(runs("BTM_00064001_01.jpg") + runs("CLR_00064001_01.jpg"), 8);
        QCOMPARE(f->text("lbl_Status"), QString("Ready \u00b7 1 without JPEG"));
        QVERIFY(f->child<QLabel>("lbl_Status")->toolTip().contains("lack a JPEG"));
        QVERIFY(!QFileInfo::exists(f->sampleFile("BTM_00064001_01.jpg")));
        verifyNoPartialFiles();
    }

    void slowConversion_saysConvertingAfterHalfASecond_untilThePictureReplacesIt()
    {
        const QString converter = f->share.samplesFolder() + "/imgconv32/imgcon32.exe";
        QVERIFY(QFile::rename(converter, converter + ".real"));
        QFile script(converter);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(
            "#!/bin/sh\nsleep 1.5\nexec \"" + QFile::encodeName(converter + ".real") + "\" \"$@\"\n");
        script.close();
        QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));
        f->open();
        arm("00064000");
        capture();
        auto* colour = f->child<QLabel>("img_color");
        QCOMPARE(colour->text(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(colour->text(), QString("Converting…"), 1400);
        QCOMPARE(f->child<QLabel>("img_bttm")->text(), QString("Converting…"));
        QTRY_VERIFY_WITH_TIMEOUT(!f->picture("img_color").isNull(), 10000);
        QVERIFY(colour->text().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!f->picture("img_bttm").isNull(), 10000);
    }

    void cameraLostAsTheCaptureBegins_failsIt_keepsTheEarlierBottom_thenWorksAgain()
    {
        // Once armed, the bottom camera is pulled out as the next capture
        // begins: the colour still is taken, the bottom one cannot be. (Pulled
        // out later, its still is the frame it sent since the capture began.)
        bool pullAtNextCapture = false;
        pullBottomAsACaptureBegins(pullAtNextCapture);
        f->open();
        arm("00061000");
        capture();
        QCOMPARE(f->window->capturedCount(), 1);
        QVERIFY(waitForFile(f->sampleFile("BTM_00061000_01.jpg")));
        const QByteArray earlierBottom = fileContents(f->sampleFile("BTM_00061000_01.bmp"));

        arm("00061000");
        pullAtNextCapture = true;
        f->prompts.log.clear();
        capture();
        verifyWaitingAfterFailure(1);
        // The colour still was taken before the loss and is whole; the
        // bottom one from the earlier take is untouched.
        QVERIFY(mostlyColour(QImage(f->sampleFile("CLR_00061000_01.bmp")), Qt::green));
        QCOMPARE(fileContents(f->sampleFile("BTM_00061000_01.bmp")), earlierBottom);
        verifyNoPartialFiles();

        // Plugged back in: the next capture works.
        camera_socket::plugIn(0);
        arm("00061001");
        capture();
        QCOMPARE(f->window->capturedCount(), 2);
        QVERIFY(mostlyColour(QImage(f->sampleFile("BTM_00061001_01.bmp")), Qt::red));
        QVERIFY(mostlyColour(QImage(f->sampleFile("CLR_00061001_01.bmp")), Qt::green));
        QVERIFY(waitForFile(f->sampleFile("CLR_00061001_01.jpg")));
        verifyNoPartialFiles();
    }

    // The window's commands during a take on a slow server act on nothing:
    // the take ends under its own number, and a close waits for it.
    void commandsDuringATake_actOnNothing_andACloseWaitsForTheTake()
    {
        using namespace std::chrono_literals;
        f->open();
        arm("00000099");
        f->prompts.answers = { true, false };
        f->child<QPushButton>("cmd_capture")->click();
        QVERIFY(f->prompts.log.isEmpty() || f->prompts.log.last() == "Take picture|Take picture now?");
        // The first still is on its way; the share is slow from here on.
        f->shareWorker.submit([] { std::this_thread::sleep_for(800ms); }, [](std::exception_ptr) {});
        QVERIFY(f->window->flow().busy());
        for (const Qt::Key key : { Qt::Key_R, Qt::Key_G, Qt::Key_D, Qt::Key_V, Qt::Key_C })
            QTest::keyClick(f->window.get(), key, Qt::AltModifier);
        QTest::keyClick(f->window.get(), Qt::Key_Return);
        f->window->close();
        QVERIFY(f->window->isVisible());
        QVERIFY(f->settled());
        QCOMPARE(f->scans.handled(), 0);
        QCOMPARE(f->window->capturedSamples(), QStringList { "00000099" });
        QCOMPARE(f->launcher.commands.size(), 2);
        for (const QString& command : f->launcher.commands)
            QVERIFY2(command.count("00000099") == 2, qPrintable(command));
        // The close asked for meanwhile ends the program once the take is over.
        QTRY_VERIFY(!f->window->isVisible());
        QVERIFY(!f->prompts.log.join('\n').contains("Auto Increment"));
    }

    // Typed while the stills wait on a slow server: not lost, not mixed into
    // the number the capture goes on to offer, but armed once it is over.
    void scanWhileTheShareIsSlow_isKept_andArmedWhenTheCaptureIsOver()
    {
        using namespace std::chrono_literals;
        f->open();
        arm("00065000");
        f->prompts.answers = { false };
        f->child<QPushButton>("cmd_capture")->click();
        f->shareWorker.submit([] { std::this_thread::sleep_for(600ms); }, [](std::exception_ptr) {});
        QVERIFY(f->window->flow().busy());
        QTest::keyClicks(QApplication::focusWidget(), "00065100");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(f->window->currentSample(), QString("00065100"));
        QVERIFY(f->settled());
        QCOMPARE(f->window->capturedSamples(), QStringList { "00065000" });
        // The scan answered the next number No and was armed instead.
        QCOMPARE(f->prompts.log,
            (QStringList { "Take picture|Take picture now?", "Take picture|Take picture now?" }));
    }

    // The same for a camera that sends nothing for a while as the capture
    // begins: the window goes on, and what is typed meanwhile comes after.
    void scanWhileACameraIsSlow_isKept_andArmedWhenTheCaptureIsOver()
    {
        auto watch = std::make_unique<StillWatch>(f->camera, StillWatch::Hook {});
        watch->beginning = [] {
            camera_socket::stall(0, true);
            camera_socket::stall(1, true);
            QTimer::singleShot(100, [] {
                QTest::keyClicks(QApplication::focusWidget(), "00066100");
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            });
            QTimer::singleShot(600, [] {
                camera_socket::stall(0, false);
                camera_socket::stall(1, false);
            });
        };
        f->dispatch = watch.get();
        f->layer = std::move(watch);
        f->open();
        arm("00066000");
        f->prompts.answers = { false };
        f->child<QPushButton>("cmd_capture")->click();
        QTRY_COMPARE(f->window->currentSample(), QString("00066100"));
        QVERIFY(f->settled());
        QCOMPARE(f->window->capturedSamples(), QStringList { "00066000" });
        QCOMPARE(f->prompts.log.last(), QString("Take picture|Take picture now?"));
    }

    // Every cause a take or a review can fail by, on the screen: each told by
    // its own words, none with a path, a system error text or a developer's
    // word (those are for the log).
    void everyFailure_isToldInOperatorsWords_eachByItsOwnCause()
    {
        using namespace std::chrono_literals;
        f = std::make_unique<WindowFixture>(1500ms);
        bool pullAtNextCapture = false;
        pullBottomAsACaptureBegins(pullAtNextCapture);
        // The start-up dialog, out of the way first.
        f->scans.add(WindowFixture::press("cmd_Cancel"));
        f->open();
        QTRY_COMPARE(f->scans.handled(), 1);
        const QString folder = f->share.samplesFolder();
        const QString converter = folder + "/imgconv32/imgcon32.exe";
        QStringList shown;
        QStringList statuses;
        const auto failedTake = [&](const QString& sample, const std::function<void()>& fault) {
            arm(sample);
            f->prompts.log.clear();
            fault();
            capture();
            QVERIFY2(f->text("lbl_Status").startsWith("Capture failed: "), qPrintable(f->text("lbl_Status")));
            QVERIFY2(f->prompts.log.filter("ImageMaker|").size() <= 1, qPrintable(f->prompts.log.join('\n')));
            statuses << f->text("lbl_Status");
            shown << f->text("lbl_Status") << f->prompts.log;
        };

        failedTake("00064001", [&] { pullAtNextCapture = true; });
        camera_socket::plugIn(0);
        failedTake("00064002", [&] {
            QFile claim(folder + "/.00064002.claim");
            QVERIFY(claim.open(QIODevice::WriteOnly));
            claim.write("benchB 1");
        });
        failedTake("00064003", [&] { QVERIFY(QDir(folder).mkdir("CLR_00064003_01.bmp")); });
        failedTake("00064004", [&] { QVERIFY(QDir().rename(folder, folder + ".away")); });
        QVERIFY(QDir().rename(folder + ".away", folder));
        auto released = std::make_shared<std::atomic<bool>>(false);
        failedTake("00064005", [&] {
            f->shareWorker.queue([released](const image_store::CancelToken&) {
                for (int i = 0; i < 2000 && !*released; ++i)
                    std::this_thread::sleep_for(10ms);
            });
        });
        *released = true;
        QTRY_VERIFY(!f->shareWorker.stuck());
        failedTake("00064006", [&] { QVERIFY(QFile::rename(converter, converter + ".real")); });

        // A converter that fails: told on the recorded sample's pictures and line.
        useConverterScript("exit 3\n");
        arm("00064007");
        capture();
        for (const char* box : { "img_color", "img_bttm" })
            QTRY_COMPARE_WITH_TIMEOUT(f->child<QLabel>(box)->text(), QString("Conversion failed"), 10000);
        shown << f->text("lbl_Status");
        waitForConverters();
        QVERIFY(QFile::remove(converter));
        QVERIFY(QFile::rename(converter + ".real", converter));

        // A JPEG the server will not delete (a folder in its place).
        arm("00064008");
        capture();
        QVERIFY(waitForFile(f->sampleFile("CLR_00064008_01.jpg")));
        waitForPicturesShown();
        QVERIFY(QFile::remove(f->sampleFile("CLR_00064008_01.jpg")));
        QVERIFY(QDir(folder).mkpath("CLR_00064008_01.jpg/kept"));
        f->window->ShowSampleImages("00064008");
        f->prompts.log.clear();
        f->child<QPushButton>("cmd_Delete")->click();
        QVERIFY(f->settled());
        QCOMPARE(f->prompts.log.filter("ImageMaker|").size(), 1);
        shown << f->prompts.log;

        QCOMPARE(QSet<QString>(statuses.begin(), statuses.end()).size(), statuses.size());
        static const QRegularExpression developers(
            R"(/|\\|::|\w\(|\w_\w|\.(bmp|jpg|claim|part|exe)\b|errno|exception|SaveStill|execve|std)");
        QStringList reasons;
        for (int error : { ENOENT, EISDIR, EEXIST, EACCES, EIO, ENOTDIR, EBUSY, ENOEXEC })
            reasons << QString::fromLocal8Bit(std::strerror(error));
        for (const QString& text : shown) {
            QVERIFY2(!developers.match(text).hasMatch(), qPrintable(text));
            for (const QString& reason : reasons)
                QVERIFY2(!text.contains(reason, Qt::CaseInsensitive), qPrintable(text));
        }
    }

    void sampleFolderNotWritable_failsTheCapture_andKeepsTheEarlierTake()
    {
        // Permission bits do not stop root from writing.
        if (::geteuid() == 0)
            QSKIP("running as root: a folder without write permission is still writable");
        f->open();
        arm("00062000");
        capture();
        QVERIFY(waitForFile(f->sampleFile("CLR_00062000_01.jpg")));
        QVERIFY(waitForFile(f->sampleFile("BTM_00062000_01.jpg")));
        waitForConverters();
        const QString folder = f->share.samplesFolder();
        const QStringList names { "CLR_00062000_01.bmp", "BTM_00062000_01.bmp", "CLR_00062000_01.jpg",
            "BTM_00062000_01.jpg" };
        QList<QByteArray> earlier;
        for (const QString& name : names)
            earlier << fileContents(f->sampleFile(name));

        // Read and search, no writing.
        QVERIFY(QFile::setPermissions(folder,
            QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                | QFile::ExeOther));
        arm("00062000");
        f->prompts.log.clear();
        capture();
        QFile::setPermissions(folder, QFile::permissions(folder) | QFile::WriteOwner);

        verifyWaitingAfterFailure(1);
        waitForConverters();
        for (int i = 0; i < names.size(); ++i)
            QVERIFY2(fileContents(f->sampleFile(names[i])) == earlier[i], qPrintable(names[i]));
        verifyNoPartialFiles();
    }
};

QTEST_MAIN(TestCaptureFaults)
#include "test_capture_faults.moc"
