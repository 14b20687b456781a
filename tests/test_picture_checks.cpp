// The checks of a take's pictures, with the real still checker: labels
// rendered by the barcode writer, the same scene twice, a covered lens; a
// checker that aborts or hangs; and what the window tells of a finding.
#include "label_picture.h"
#include "window_fixture.h"

#include <QtTest>

using namespace std::chrono_literals;
using Finding = PictureChecks::Finding;

class TestPictureChecks : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

    QString still(const QString& name, const Scene& scene, QSize size = { 1280, 720 })
    {
        const QString path = dir.filePath(name + ".bmp");
        if (!scenePicture(scene, size).save(path, "BMP"))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    // The findings of one take, the checks run to their end.
    static QStringList checked(
        PictureChecks& checks, const QString& sample, const QString& colour, const QString& bottom)
    {
        QStringList said;
        bool ended = false;
        QObject context;
        QObject::connect(&checks, &PictureChecks::checked, &context,
            [&](const QString& of, const QList<Finding>& findings) {
                ended = ended || of == sample;
                for (const Finding& finding : findings)
                    said << finding.said;
            });
        checks.check(sample, colour, bottom);
        if (!QTest::qWaitFor([&] { return ended; }, 10000))
            said << "not checked within 10 s";
        return said;
    }
    static QString checker() { return QStringLiteral(IMAGEMAKER_STILL_CHECKER); }
    QString script(const QByteArray& body)
    {
        const QString path = dir.filePath("checker-" + QString::number(++scripts));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write("#!/bin/sh\n" + body) < 0)
            qFatal("cannot write the script");
        file.close();
        file.setPermissions(file.permissions() | QFile::ExeOwner);
        return path;
    }
    int scripts = 0;

private slots:
    // The symbologies a sample's label may carry, turned both ways, at 720p
    // and 1080p: the number is read, and only another number is told. A
    // Data Matrix turned against the clock is beyond this decoder: counted.
    void label_isReadAtBothSizes_andOnlyAnotherNumberIsTold()
    {
        using ZXing::BarcodeFormat;
        const std::pair<BarcodeFormat, const char*> formats[]
            = { { BarcodeFormat::Code128, "" }, { BarcodeFormat::Code39, "" }, { BarcodeFormat::ITF, "" },
                  { BarcodeFormat::DataMatrix, "" }, { BarcodeFormat::QRCode, "S-" } };
        QStringList missed;
        int tried = 0;
        // One checker serves every take; no two takes here are alike.
        CheckSettings settings;
        settings.samePicture = false;
        PictureChecks checks(checker(), settings, 10s);
        for (const QSize size : { QSize(1280, 720), QSize(1920, 1080) })
            for (const auto& [format, prefix] : formats)
                for (const double degrees : { -6.0, 3.0 }) {
                    const QString path = still("label",
                        labelled(std::string(prefix) + "00099999", quint32(++tried), 1, degrees, format),
                        size);
                    if (!checked(checks, "00012345", path, path)
                             .contains("The colour picture shows 00099999, not 00012345."))
                        missed << QString("%1 %2 degrees %3p")
                                      .arg(ZXing::ToString(format))
                                      .arg(degrees)
                                      .arg(size.height());
                    // Its own number: nothing said.
                    QCOMPARE(checked(checks, "00099999", path, path), QStringList());
                }
        qInfo("labels read: %lld of %d; missed: %s", tried - missed.size(), tried,
            qPrintable(missed.join(", ")));
        QCOMPARE(missed.filter(QRegularExpression("^(?!DataMatrix -6)")), QStringList());
    }

    // A run of takes: each finding told by its own check, and not at all
    // with that check switched off in the settings file.
    void eachFinding_isToldByItsCheck_andNotWhenItIsOff()
    {
        const QString label = still("label", labelled("00012346"));
        const QString again = still("again", labelled("00012346", 1, 77));
        const QString other = still("other", bare(9));
        const QString dark = still("dark", flat(QColor(6, 6, 8)));
        const QString glare = still("glare", flat(QColor(255, 255, 255)));
        const QString plain = still("plain", flat(QColor(128, 128, 128)));
        const auto run = [&](const QByteArray& settings) {
            QFile file(dir.filePath("LiveVideo.conf"));
            if (!file.open(QIODevice::WriteOnly) || file.write("[checks]\n" + settings) < 0)
                qFatal("cannot write the settings");
            file.close();
            PictureChecks checks(checker(), CheckSettings::read(file.fileName()), 10s);
            QStringList said;
            said << checked(checks, "00012346", label, other) // its own number
                 << checked(checks, "00012347", again, other) // the same scene, the camera's noise apart
                 << checked(checks, "00012348", other, other) // another scene
                 << checked(checks, "00012349", dark, other) << checked(checks, "00012350", other, glare)
                 << checked(checks, "00012351", plain, other);
            return said;
        };
        const QStringList all { "The colour picture shows 00012346, not 00012347.",
            "Same picture as 00012346: was the sample changed?",
            "Colour picture is dark: check the camera and the light.",
            "Bottom picture is too bright: check the camera and the light.",
            "Colour picture is blank: check the camera and the light." };
        QCOMPARE(run({}), all);
        QCOMPARE(run("barcode=false\n"), all.mid(1));
        QCOMPARE(run("same_picture=no\n"), QStringList { all[0] } + all.mid(2));
        QCOMPARE(run("blank=off\n"), all.mid(0, 2));
        // The label faces the bottom camera, which sees no label here.
        QCOMPARE(run("label=bottom\n"), all.mid(1));
    }

    // A checker that aborts, hangs or is missing never takes the window's
    // side down: what it printed before aborting still counts; one that
    // hangs is stopped at the bound and its take's checks dropped; the next
    // still gets a checker of its own.
    void checkerThatFails_isContained()
    {
        const QString dark = still("dark", flat(QColor(0, 0, 0)));
        QByteArray measured;
        {
            QProcess real;
            real.start(checker(), { dark });
            QVERIFY(real.waitForFinished(10000));
            measured = real.readAllStandardOutput();
        }
        QVERIFY(measured.startsWith("levels 0.00 0.00 1.0000 0.0000\nthumb "));
        QFile saved(dir.filePath("measured"));
        QVERIFY(saved.open(QIODevice::WriteOnly) && saved.write(measured) > 0);
        saved.close();
        PictureChecks aborting(script("cat '" + saved.fileName().toUtf8() + "'\nkill -ABRT $$\n"), {}, 10s);
        QCOMPARE(checked(aborting, "00012345", dark, dark),
            (QStringList { "Colour picture is dark: check the camera and the light.",
                "Bottom picture is dark: check the camera and the light." }));

        // Hangs the first time it is started only.
        const QByteArray starts = QFile::encodeName(dir.filePath("starts"));
        PictureChecks hanging(
            script("n=$(cat '" + starts + "' 2>/dev/null || echo 0)\necho $((n + 1)) > '" + starts
                + "'\n[ \"$n\" = 0 ] && exec sleep 30\nexec '" + QFile::encodeName(checker()) + "' \"$@\"\n"),
            {}, 2s);
        QElapsedTimer since;
        since.start();
        hanging.check("00012345", dark, dark);
        QTRY_COMPARE_WITH_TIMEOUT(hanging.findChildren<QProcess*>().size(), 0, 8000);
        QVERIFY2(since.elapsed() < 8000, "the hung checker was not stopped");
        QVERIFY(hanging.findings("00012345").isEmpty());
        QCOMPARE(checked(hanging, "00012346", dark, dark).size(), 2);

        PictureChecks missing(dir.filePath("no-such-checker"), {}, 10s);
        missing.check("00012345", dark, dark);
        QTRY_COMPARE(missing.findChildren<QProcess*>().size(), 0);
        QVERIFY(missing.findings("00012345").isEmpty());
    }

    // The window: a take whose colour camera shows another number tells it
    // on the status line and on its history line, for a screen reader too,
    // and under the question that follows the take, even once it is open.
    // With nothing armed after it, as before a Redo, the status line keeps it.
    void window_tellsAFinding_onTheStatusAndHistoryLines_andInTheQuestion()
    {
        const QString scene = dir.filePath("scene.jpg");
        QVERIFY(scenePicture(labelled("00099999"), QSize(1280, 720)).save(scene, "JPEG", 95));
        WindowFixture f(image_store::ShareWorker::DefaultBound,
            "multifilesrc location=" + scene.toStdString()
                + " loop=true caps=image/jpeg,framerate=15/1 ! jpegdec ! videoconvert");
        f.checks = std::make_unique<PictureChecks>(checker(), CheckSettings {}, 10s);
        f.scans.add(WindowFixture::press("cmd_Cancel"));
        f.open();
        QTRY_COMPARE(f.scans.handled(), 1);
        QString status;
        connect(f.checks.get(), &PictureChecks::checked, this, [&] { status = f.text("lbl_Status"); });
        f.window->scanDialog().setNumberText("00012345");
        f.prompts.answers = { true, false };
        f.prompts.onAsk = [&] {
            if (f.prompts.log.last().startsWith("Auto Increment|"))
                QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty(), 10000);
        };
        f.scans.add(WindowFixture::press("cmd_Cancel"));
        f.window->AcceptSampleNumber();
        QVERIFY(f.settled());
        QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty(), 10000);
        QCOMPARE(status, QString("Picture shows 00099999: check the sample, Redo"));
        QCOMPARE(f.text("lbl_Status"), status);
        QCOMPARE(f.prompts.log.last(),
            QString("Auto Increment|Auto increment to next sample number (00012346)\n"
                    "The colour picture shows 00099999, not 00012345.\n"
                    "Bottom picture is blank: check the camera and the light."));
        const QListWidgetItem* line = f.child<QListWidget>("lst_Captured")->item(0);
        QVERIFY(line->toolTip().contains("The colour picture shows 00099999, not 00012345."));
        QCOMPARE(line->data(Qt::AccessibleDescriptionRole).toString(), line->toolTip());
        QVERIFY(!line->icon().isNull());
    }
};

QTEST_MAIN(TestPictureChecks)
#include "test_picture_checks.moc"
