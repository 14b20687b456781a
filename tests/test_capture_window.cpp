#include "capture_window/failure_words.h"
#include "image_store/process_launcher.h"
#include "image_store/sample_claim.h"
#include "image_store/share_path.h"
#include "window_fixture.h"

#include "capture_window/artwork.h"

#include <QAccessible>
#include <QApplication>
#include <QSignalSpy>

#include <cerrno>
#include <cstring>

class TestCaptureWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<WindowFixture> f;

    void armWithoutCapture(const QString& number)
    {
        f->window->scanDialog().setNumberText(number);
        f->prompts.answers = { false };
        f->window->AcceptSampleNumber();
        QVERIFY(f->settled());
    }

private slots:
    void init() { f = std::make_unique<WindowFixture>(); }
    void cleanup() { f.reset(); }

    void startup_showsWaitingColourViewAndEmptyPanel()
    {
        f->open();
        QCOMPARE(f->window->windowTitle(), QString("Sample Image Capturing "));
        QCOMPARE(f->window->size(), QSize(708, 470));
        QCOMPARE(f->window->minimumSize(), f->window->maximumSize());
        QCOMPARE(f->text("lbl_Status"), QString("Waiting..."));
        QCOMPARE(f->text("lbl_view"), QString("Color view"));
        QCOMPARE(f->text("lbl_Pictures"), QString("Last Image Taken"));
        QVERIFY(f->child("cmd_Redo")->isHidden());
        QVERIFY(f->child("cmd_Delete")->isHidden());
        QVERIFY(f->liveShows(Qt::green));
        QCOMPARE(f->window->currentView(), QString("Color"));
        QCOMPARE(QApplication::focusWidget(), f->child("cmd_Close"));
        QVERIFY(!f->child("cmd_capture")->isEnabled());
        QVERIFY(!f->child("cmd_View")->isEnabled());
        QCOMPARE(f->window->palette().color(QPalette::Window), QColor(214, 141, 0));
        QCOMPARE(f->child<QLabel>("lbl_labnumber")->font().family(), QString("Tahoma"));
        QVERIFY(f->prompts.log.isEmpty());
        // Geometry comes from the layout table in pixels.
        QCOMPARE(f->child("LiveCam1")->geometry(), QRect(16, 56, 321, 241));
        QCOMPARE(f->child("cmd_Close")->geometry(), QRect(608, 432, 89, 25));
        QCOMPARE(f->child("img_color")->geometry(), QRect(168, 0, 137, 105));
        // Every control that takes the focus has a name for screen readers.
        for (QWidget* control : f->window->findChildren<QWidget*>())
            if (control->focusPolicy() != Qt::NoFocus && control->isEnabled()
                && control->isVisibleTo(f->window.get()))
                QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
    }

    void toggle_twice_switchesCameraLabelAndFace()
    {
        f->open();
        armWithoutCapture("00012345");
        auto* view = f->child<QPushButton>("cmd_View");
        QVERIFY(view->isEnabled());
        const QImage colorFace = QImage(f->share.softwareFolder() + "/bt_vw_Color.jpg");
        const QImage bottomFace = QImage(f->share.softwareFolder() + "/bt_vw_Bottom.jpg");
        view->click();
        QCOMPARE(f->text("lbl_view"), QString("Bottom View"));
        QCOMPARE(f->window->currentView(), QString("Bottom"));
        QVERIFY(f->liveShows(Qt::red));
        QTRY_COMPARE(view->icon().pixmap(90, 38).toImage().convertToFormat(QImage::Format_RGB32),
            colorFace.convertToFormat(QImage::Format_RGB32));
        QVERIFY(f->settled());
        view->click();
        QCOMPARE(f->text("lbl_view"), QString("Color View"));
        QVERIFY(f->liveShows(Qt::green));
        QTRY_COMPARE(view->icon().pixmap(90, 38).toImage().convertToFormat(QImage::Format_RGB32),
            bottomFace.convertToFormat(QImage::Format_RGB32));
        QCOMPARE(f->prompts.log, QStringList { "Take picture|Take picture now?" });
    }

    void toggle_faceMissingFromTheShare_showsTheShippedOne_anUnreadableOneIsReported()
    {
        f->open();
        armWithoutCapture("00012345");
        auto* view = f->child<QPushButton>("cmd_View");
        QFile::remove(f->share.softwareFolder() + "/bt_vw_Color.jpg");
        view->click();
        QCOMPARE(f->window->currentView(), QString("Bottom"));
        QVERIFY(f->settled());
        QTest::qWait(100);
        QCOMPARE(f->prompts.log.size(), 1);
        // Sharp where pixels are twice as dense.
        QCOMPARE(view->icon().pixmap(artwork::ViewFaceSize, 2.0).size(), artwork::ViewFaceSize * 2);
        QCOMPARE(view->icon().pixmap(artwork::ViewFaceSize).toImage().convertToFormat(QImage::Format_RGB32),
            QImage(":/artwork/bt_vw_Color.png").convertToFormat(QImage::Format_RGB32));

        QVERIFY(fileContents(f->share.softwareFolder() + "/bt_vw_Bottom.jpg").size() > 0);
        QFile garbage(f->share.softwareFolder() + "/bt_vw_Bottom.jpg");
        QVERIFY(garbage.open(QIODevice::WriteOnly | QIODevice::Truncate));
        garbage.write("not a picture");
        garbage.close();
        QVERIFY(f->settled());
        view->click();
        QTRY_COMPARE(f->prompts.log.size(), 2);
        QVERIFY2(f->prompts.log.last().contains("view button") && !f->prompts.log.last().contains('/'),
            qPrintable(f->prompts.log.last()));
        // The view turns all the same, with the face shipped with the program.
        QCOMPARE(f->window->currentView(), QString("Color"));
        QVERIFY(f->liveShows(Qt::green));
        QCOMPARE(view->icon().pixmap(artwork::ViewFaceSize).toImage().convertToFormat(QImage::Format_RGB32),
            QImage(":/artwork/bt_vw_Bottom.png").convertToFormat(QImage::Format_RGB32));
    }

    void showSampleImages_followsTheSamplesLength()
    {
        f->open();
        QImage blue(40, 30, QImage::Format_RGB32);
        blue.fill(Qt::blue);
        blue.save(f->sampleFile("BTM_00000007_01.jpg"));
        QImage yellow(40, 30, QImage::Format_RGB32);
        yellow.fill(Qt::yellow);
        yellow.save(f->sampleFile("CLR_00000007_01.jpg"));

        f->window->ShowSampleImages("00000007");
        QCOMPARE(f->text("lbl_Pictures"), QString("00000007"));
        QTRY_VERIFY(mostlyColour(f->picture("img_bttm"), Qt::blue));
        QTRY_VERIFY(mostlyColour(f->picture("img_color"), Qt::yellow));
        QVERIFY(!f->child("cmd_Redo")->isHidden());
        QVERIFY(!f->child("cmd_Delete")->isHidden());

        for (const QString& shortOne : { QString(""), QString("0000007") }) {
            f->window->ShowSampleImages(shortOne);
            QCOMPARE(f->text("lbl_Pictures"), QString("Last Image Taken"));
            QVERIFY(f->picture("img_bttm").isNull());
            QVERIFY(f->picture("img_color").isNull());
            QVERIFY(f->child("cmd_Redo")->isHidden());
            QVERIFY(f->child("cmd_Delete")->isHidden());
        }

        f->window->ShowSampleImages("00000008");
        QCOMPARE(f->text("lbl_Pictures"), QString("00000008"));
        QTest::qWait(200);
        QVERIFY(f->picture("img_bttm").isNull());
        QVERIFY(f->picture("img_color").isNull());
        QVERIFY(!f->child("cmd_Redo")->isHidden());
        QVERIFY(f->prompts.log.isEmpty());
    }

    void cameraCheckFails_showsTheMessageAndDisablesCapture()
    {
        camera_socket::unplug(0);
        f->open();
        QCOMPARE(f->prompts.log, QStringList { "ImageMaker|Unable to connect to any camera" });
        QVERIFY(!f->child("cmd_capture")->isEnabled());
        QCOMPARE(f->text("lbl_Status"), QString("Waiting..."));
    }

    void enterOnFocusedClose_endsTheProgram()
    {
        f->open();
        f->window->scanDialog().setNumberText("1");
        QVERIFY(f->window->scanDialog().isLoaded());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(!f->window->isVisible());
        QVERIFY(!f->window->scanDialog().isLoaded());
    }

    // Tab goes round as the eye reads, from Close (focused at the start):
    // the left column top to bottom, the history, Redo and Delete. The
    // panels' decoration buttons take no focus, and a screen reader finds
    // a frame named by the title and not them.
    void keyboardAndScreenReader_followTheEye()
    {
        f->open();
        f->prompts.answers = { false };
        armWithoutCapture("00012345");
        f->prompts.answers = { true, false };
        f->child<QPushButton>("cmd_capture")->click();
        QTRY_VERIFY(f->child("cmd_Redo")->isVisible());
        // The next number looked up and asked about: nothing is disabled.
        QVERIFY(f->settled());
        f->child("cmd_Close")->setFocus();
        QStringList visited;
        for (int i = 0; i < 9; ++i) {
            visited << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(visited,
            QStringList({ "cmd_Close", "LiveCam1", "cmd_wo", "cmd_View", "cmd_capture", "lst_Captured",
                "cmd_Redo", "cmd_Delete", "cmd_Close" }));

        QAccessibleInterface* window = QAccessible::queryAccessibleInterface(f->window.get());
        QCOMPARE(window->role(), QAccessible::Window);
        QCOMPARE(window->text(QAccessible::Name), QString("Sample Image Capturing"));
        QStringList children;
        for (int i = 0; i < window->childCount(); ++i) {
            QAccessibleInterface* child = window->child(i);
            QCOMPARE(child->parent()->object(), f->window.get());
            QCOMPARE(window->indexOfChild(child), i);
            children << child->object()->objectName();
        }
        QVERIFY(children.contains("cmd_capture") && children.contains("Frame4"));
        for (const char* decoration : { "Command1", "Command2", "Command3" }) {
            QVERIFY(!children.contains(decoration));
            QCOMPARE(f->child(decoration)->focusPolicy(), Qt::NoFocus);
        }
    }

    // Whatever a layer raises, with its paths and the system's reasons, the
    // operator reads sentences of what failed and what to do.
    void failuresRaised_readInOperatorsWords()
    {
        const std::string path = "/mnt/labfs01/virtual_directories/IMG_SAMPLES/QORVEL/CLR_00012345_01.bmp";
        const std::unique_ptr<std::exception> raised[] = {
            std::make_unique<camera::CameraError>(
                "SaveStill: camera 1 (colour) failed: /dev/video2: " + std::string(std::strerror(EBUSY))),
            std::make_unique<image_store::StoreError>("Cannot write " + path + ": " + std::strerror(ENOSPC)),
            std::make_unique<image_store::ShareUnreachable>(path + " is on no share mounted at /mnt/labfs01"),
            std::make_unique<image_store::SharePathError>("ShareMap::toLocal: " + path),
            std::make_unique<image_store::LaunchError>("execve " + path + ": " + std::strerror(EACCES)),
            std::make_unique<image_store::ShareNotAnswering>(),
            std::make_unique<image_store::SampleTakenElsewhere>("00012345"),
            std::make_unique<std::runtime_error>("std::bad_alloc"),
        };
        for (const auto& error : raised)
            for (const QString& text : { failureMessage(*error), captureFailureText(*error) }) {
                for (const char* word : std::initializer_list<const char*> { "/", "::", "(", strerror(EBUSY),
                         strerror(ENOSPC), strerror(EACCES), "execve", "bad_alloc" })
                    QVERIFY2(!text.contains(QString::fromUtf8(word)), qPrintable(text));
                QVERIFY2(text.front().isUpper() && (text.endsWith('.') || text.endsWith("again")),
                    qPrintable(text));
            }
    }

    // Read whole at the window's size, in its font: nothing cut.
    // The live picture in a window of its own, and a panel picture at its
    // JPEG's size; Escape or a click ends it, and a step of the flow takes
    // the live view back.
    void closerLook_showsFullSize_andGivesTheViewBack()
    {
        f->open();
        auto* live = f->child<camera::LiveView>("LiveCam1");
        QTRY_VERIFY(live->framesShown() > 0);
        const auto lookAt = [&] { return f->window->findChild<CloserLook*>(); };
        live->setFocus();
        QTest::keyClick(live, Qt::Key_Space);
        QVERIFY(lookAt() && lookAt()->isVisible());
        const quint64 shown = live->framesShown();
        const quint64 looked = lookAt()->view()->framesShown();
        QTRY_VERIFY(lookAt()->view()->framesShown() > looked + 3);
        QVERIFY(live->framesShown() <= shown + 1);
        QVERIFY(!live->showsDisconnected());
        QTest::keyClick(lookAt()->view(), Qt::Key_Escape);
        QTRY_VERIFY(!lookAt());
        QTRY_VERIFY(live->framesShown() > shown + 3);

        QTest::mouseClick(live, Qt::LeftButton);
        QVERIFY(lookAt());
        f->child<QPushButton>("cmd_View")->click();
        QTRY_VERIFY(!lookAt());
        QVERIFY(f->settled());

        QImage yellow(400, 300, QImage::Format_RGB32);
        yellow.fill(Qt::yellow);
        yellow.save(f->sampleFile("CLR_00000007_01.jpg"));
        f->window->ShowSampleImages("00000007");
        QTRY_VERIFY(!f->picture("img_color").isNull());
        QTest::mouseDClick(f->child("img_color"), Qt::LeftButton);
        QTRY_VERIFY(lookAt());
        QCOMPARE(lookAt()->view()->frame().size(), QSize(400, 300));
        QTest::mouseClick(lookAt()->view(), Qt::LeftButton);
        QTRY_VERIFY(!lookAt());
    }

    void operatorTexts_fitTheirLabels()
    {
        f->open();
        auto* status = f->child<QLabel>("lbl_Status");
        const QFontMetrics metrics(status->font());
        QStringList texts { captureFailureText(camera::CameraError("x")),
            captureFailureText(image_store::ShareNotAnswering()),
            captureFailureText(image_store::ShareUnreachable("x")), CaptureFlow::ShareUnreachableStatus,
            captureFailureText(image_store::StoreError("x")),
            captureFailureText(image_store::LaunchError("x")), captureFailureText(std::runtime_error("x")),
            captureFailureText(image_store::SampleTakenElsewhere("00012345")),
            captureFailureText(image_store::SampleBeingTaken("00012345", "bench-two", {})),
            conversionFailureText("Color", "00012345") + " \u00b7 99 without JPEG",
            conversionFailureText("Bottom", "00012345"), "Images have been captured \u00b7 99 without JPEG",
            PictureChecks::otherNumber("Colour", "00099999", "00012345").status,
            PictureChecks::samePicture("00012344").status };
        for (const char* view : { "Colour", "Bottom" })
            for (const StillMeasure& still : { StillMeasure { 0, 0, 1, 0, {}, {} },
                     StillMeasure { 255, 0, 0, 1, {}, {} }, StillMeasure { 128, 0, 0, 0, {}, {} } })
                texts << PictureChecks::blank(view, still)->status;
        for (const QString& text : texts)
            QVERIFY2(metrics.horizontalAdvance(text) <= status->contentsRect().width(), qPrintable(text));

        Frm_Wo& dialog = f->window->scanDialog().dialog();
        auto* refused = dialog.findChild<QLabel*>("lbl_Refused");
        const QFontMetrics refusedMetrics(refused->font());
        const QStringList lines = refused->text().split('\n');
        QVERIFY(refusedMetrics.height() * lines.size() <= refused->height());
        for (const QString& line : lines)
            QVERIFY2(
                refusedMetrics.horizontalAdvance(line) <= refused->contentsRect().width(), qPrintable(line));
        QVERIFY(dialog.rect().contains(refused->geometry()));
        QVERIFY(!refused->geometry().intersects(dialog.findChild<QLabel*>("txt_Wo")->geometry()));
    }
};

QTEST_MAIN(TestCaptureWindow)
#include "test_capture_window.moc"
