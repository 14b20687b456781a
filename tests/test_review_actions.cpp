#include "window_fixture.h"

#include <QFileInfo>

class TestReviewActions : public QObject {
    Q_OBJECT
    std::unique_ptr<WindowFixture> f;

    // Arms the number and takes its pictures, declining auto increment; the
    // scan dialog that follows is cancelled.
    void capture(const QString& sample)
    {
        f->scans.add(WindowFixture::press("cmd_Cancel"));
        const int before = f->scans.handled();
        f->window->scanDialog().setNumberText(sample);
        f->prompts.answers = { false, false };
        f->window->AcceptSampleNumber();
        QVERIFY(f->settled());
        // Done when this take's JPEGs are in the panel; an earlier take's
        // JPEGs of the same sample exist before the converters finish.
        QStringList shown;
        const QMetaObject::Connection watch = connect(f->window.get(), &Form_ImageMaker::pictureShown, this,
            [&](const QString& prefix, const QString& s) { shown << prefix + s; });
        f->child<QPushButton>("cmd_capture")->click();
        QVERIFY(f->settled());
        QTRY_COMPARE(f->scans.handled(), before + 1);
        QTRY_VERIFY_WITH_TIMEOUT(shown.contains("CLR_" + sample) && shown.contains("BTM_" + sample), 10000);
        disconnect(watch);
    }
    void doubleClick(int row)
    {
        auto* list = f->child<QListWidget>("lst_Captured");
        const QRect rect = list->visualItemRect(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }

    void altKey(Qt::Key key)
    {
        f->window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f->window.get()));
        QTest::keyClick(QApplication::focusWidget(), key, Qt::AltModifier);
    }

private slots:
    void init()
    {
        f = std::make_unique<WindowFixture>();
        // The start-up dialog is cancelled.
        f->scans.add(WindowFixture::press("cmd_Cancel"));
        f->open();
        QTRY_COMPARE_WITH_TIMEOUT(f->scans.handled(), 1, 10000);
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }
    void cleanup() { f.reset(); }

    void doubleClick_showsTheEntrysSample()
    {
        capture("00000011");
        capture("00000012");
        QCOMPARE(f->text("lbl_Pictures"), QString("00000012"));
        doubleClick(0);
        QCOMPARE(f->text("lbl_Pictures"), QString("00000011"));
        // Enter on an entry shows it too.
        auto* list = f->child<QListWidget>("lst_Captured");
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(f->text("lbl_Pictures"), QString("00000012"));
        QTest::keyClick(list, Qt::Key_Up);
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(f->text("lbl_Pictures"), QString("00000011"));
        QTRY_VERIFY(mostlyColour(f->picture("img_color"), Qt::green));
        QTRY_VERIFY(mostlyColour(f->picture("img_bttm"), Qt::red));
        QVERIFY(!f->child("cmd_Redo")->isHidden());
        QVERIFY(!f->child("cmd_Delete")->isHidden());
    }

    void doubleClick_withoutEntries_doesNothing()
    {
        f->window->ShowSampleImages("00000001");
        auto* list = f->child<QListWidget>("lst_Captured");
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(f->text("lbl_Pictures"), QString("00000001"));
        QVERIFY(f->prompts.log.isEmpty());
    }

    void redo_armsTheDisplayedSample_andYesWritesItsFilesAgain()
    {
        capture("00000010");
        capture("00000020");
        doubleClick(0);
        const QDateTime before = QFileInfo(f->sampleFile("CLR_00000010_01.bmp")).lastModified();
        QStringList stateWhenAsked;
        f->prompts.onAsk = [&] {
            if (stateWhenAsked.isEmpty())
                stateWhenAsked << f->text("lbl_Status") << f->text("lbl_labnumber")
                               << QString::number(f->child("cmd_Redo")->isHidden())
                               << QString::number(f->child("cmd_Delete")->isHidden());
        };
        f->prompts.answers = { true, false };
        f->scans.add(WindowFixture::press("cmd_Cancel"));
        altKey(Qt::Key_R);
        // It says what the re-take replaces, and Enter still answers Yes.
        QTRY_COMPARE(f->prompts.log.filter("Take picture|Take picture now?").size(), 3);
        const QString asked = f->prompts.log.filter("Take picture|").last();
        QVERIFY2(asked.startsWith("Take picture|Take picture now?\n00000010 already has pictures from "),
            qPrintable(asked));
        QVERIFY(!asked.endsWith("|No by default"));
        QCOMPARE(stateWhenAsked, (QStringList { "Ready", " Current sample in view : 00000010", "1", "1" }));
        QTRY_VERIFY(QFileInfo(f->sampleFile("CLR_00000010_01.bmp")).lastModified() > before);
        QTRY_COMPARE(f->window->capturedSamples(), (QStringList { "00000010", "00000020", "00000010" }));
    }

    void delete_removesJpegsOnly_andChangesNothingElse()
    {
        capture("00000030");
        f->window->ShowSampleImages("00000030");
        QTRY_VERIFY(mostlyColour(f->picture("img_color"), Qt::green));
        altKey(Qt::Key_D);
        // Gone from the share before the window hears of it: a double-click
        // until then acts on nothing.
        QTRY_VERIFY(!QFileInfo::exists(f->sampleFile("CLR_00000030_01.jpg")));
        QVERIFY(f->settled());
        QVERIFY(!QFileInfo::exists(f->sampleFile("BTM_00000030_01.jpg")));
        QVERIFY(QFileInfo::exists(f->sampleFile("CLR_00000030_01.bmp")));
        QVERIFY(QFileInfo::exists(f->sampleFile("BTM_00000030_01.bmp")));
        QTRY_VERIFY(mostlyColour(f->picture("img_color"), Qt::green));
        QVERIFY(!f->child("cmd_Redo")->isHidden());
        QVERIFY(!f->child("cmd_Delete")->isHidden());
        QCOMPARE(f->child<QListWidget>("lst_Captured")->count(), 1);
        QVERIFY(f->prompts.log.filter("ImageMaker|").isEmpty());
        doubleClick(0);
        QCOMPARE(f->text("lbl_Pictures"), QString("00000030"));
        QVERIFY(f->picture("img_color").isNull());
        QVERIFY(f->picture("img_bttm").isNull());
    }

    void sameSampleTwice_listedTwice_bothShowTheLatestFiles()
    {
        capture("00000040");
        capture("00000040");
        auto* list = f->child<QListWidget>("lst_Captured");
        QCOMPARE(list->count(), 2);
        doubleClick(0);
        QCOMPARE(f->text("lbl_Pictures"), QString("00000040"));
        QTRY_VERIFY(mostlyColour(f->picture("img_color"), Qt::green));
        doubleClick(1);
        QTRY_VERIFY(mostlyColour(f->picture("img_bttm"), Qt::red));
    }

    void delete_readOnlyColourJpeg_isReported_andBottomStays()
    {
        capture("00000050");
        f->window->ShowSampleImages("00000050");
        QFile::setPermissions(f->sampleFile("CLR_00000050_01.jpg"), QFile::ReadOwner);
        f->child<QPushButton>("cmd_Delete")->click();
        QVERIFY(f->settled());
        const QStringList reports = f->prompts.log.filter("ImageMaker|");
        QCOMPARE(reports.size(), 1);
        // In an operator's words: the file and the system's reason go to the log.
        QCOMPARE(reports.first(),
            QString("ImageMaker|The file server refused the change: a file may be "
                    "read-only or in use. Ask the administrator to check the share."));
        QVERIFY(QFileInfo::exists(f->sampleFile("CLR_00000050_01.jpg")));
        QVERIFY(QFileInfo::exists(f->sampleFile("BTM_00000050_01.jpg")));
        QVERIFY(f->window->isVisible());
    }
};

QTEST_MAIN(TestReviewActions)
#include "test_review_actions.moc"
