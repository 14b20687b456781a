// Faults from outside the installed program: the converter gone, crashing or
// slow, the sample folder gone, writes cut short by a file-size limit. In
// every case no partial file is left under a final name and no earlier
// picture is destroyed (the stray-file check runs after each test).

#include "bench_fixture.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <unistd.h>

using namespace e2e;

class TestBenchFaults : public QObject, public BenchFixture {
    Q_OBJECT
    void start(QStringList wrapper = {}) { BenchFixture::start(ScanTitle, std::move(wrapper)); }
    // A capture that ends with "No" to the next number, leaving the dialog up.
    void take(const QString& sample)
    {
        desk.scan(sample);
        desk.answer(TakeTitle, true);
        desk.answer(IncrementTitle, false);
        desk.waitForWindow(ScanTitle);
    }
    // After a failed capture the window waits: no question comes and the
    // scan dialog does not come back by itself.
    void verifySettledWaiting()
    {
        QTest::qWait(1500);
        QCOMPARE(desk.visibleTitles(), QStringList { MainTitle });
        QVERIFY(program->running());
    }
    struct Take {
        QByteArray colourBitmap, bottomBitmap, colourJpeg, bottomJpeg;
        bool operator==(const Take&) const = default;
    };
    static Take read(const QString& sample)
    {
        return { Share::read("CLR_" + sample + "_01.bmp"), Share::read("BTM_" + sample + "_01.bmp"),
            Share::read("CLR_" + sample + "_01.jpg"), Share::read("BTM_" + sample + "_01.jpg") };
    }

private slots:
    void init() { beginTest(); }
    void cleanup() { endTest(); }

    void converterMissing_isReported_bitmapsKept_andTheNextTakeWorks()
    {
        QVERIFY(QFile::remove(Share::converter()));
        start();
        desk.scan("70000041");
        desk.answer(TakeTitle, true);
        // The launch fails; the operator is told, the bitmaps are on the share.
        desk.answer(ErrorTitle, true);
        verifySettledWaiting();
        QCOMPARE(readBitmap(Share::file("CLR_70000041_01.bmp")).bitsPerPixel, 24);
        QCOMPARE(readBitmap(Share::file("BTM_70000041_01.bmp")).bitsPerPixel, 24);
        QVERIFY(!QFileInfo::exists(Share::file("CLR_70000041_01.jpg")));

        Share::restoreConverter();
        desk.key(MainTitle, "alt+g");
        take("70000041");
        verifyTake("70000041");
    }

    void converterCrashing_captureCounts_andTheEarlierJpegsStay()
    {
        start();
        take("70000051");
        verifyTake("70000051");
        const Take earlier = read("70000051");

        Share::installConverter("#!/bin/sh\nkill -SEGV $$\n");
        desk.scan("70000051");
        desk.replace(TakeTitle);
        // The launches succeed, so the capture counts and goes on as usual.
        desk.answer(IncrementTitle, false);
        desk.waitForWindow(ScanTitle);
        QTest::qWait(500);
        const Take after = read("70000051");
        QVERIFY(after.colourBitmap != earlier.colourBitmap);
        QVERIFY(after.bottomBitmap != earlier.bottomBitmap);
        QCOMPARE(after.colourJpeg, earlier.colourJpeg);
        QCOMPARE(after.bottomJpeg, earlier.bottomJpeg);
        desk.key(ScanTitle, "alt+x");
        QVERIFY(program->waitForExit(10000));
    }

    void sampleFolderMissing_isReported_andNothingIsWrittenElsewhere()
    {
        start();
        take("70000061");
        verifyTake("70000061");
        const Take earlier = read("70000061");
        const QString folder = Share::samplesFolder();
        const QString away = folder + ".away";
        QVERIFY(QDir().rename(folder, away));

        desk.scan("70000062");
        desk.answer(TakeTitle, true);
        // The take fails before its stills: a box and the status line say
        // so, and the converters, installed with the program, find no
        // bitmap and write nothing.
        desk.answer(ErrorTitle, true);
        verifySettledWaiting();
        QVERIFY(program->output().contains("Capture of 70000062 failed"));
        QVERIFY(!QFileInfo::exists(folder));
        QVERIFY(QDir().rename(away, folder));
        QVERIFY(!QFileInfo::exists(Share::file("CLR_70000062_01.bmp")));
        QVERIFY(read("70000061") == earlier);

        desk.key(MainTitle, "alt+g");
        take("70000062");
        verifyTake("70000062");
    }

    void writeCutShortByAFileSizeLimit_failsTheCapture_andKeepsTheEarlierTake()
    {
        start();
        take("70000071");
        verifyTake("70000071");
        desk.key(ScanTitle, "alt+x");
        QVERIFY(program->waitForExit(10000));
        const Take earlier = read("70000071");

        // A 720p bitmap is 2.7 MB; a JPEG is well under the limit.
        start({ "prlimit", "--fsize=1000000", "--" });
        desk.scan("70000071");
        desk.answer(TakeTitle, true);
        verifySettledWaiting();
        // The converters ran on the earlier bitmaps and wrote the same JPEGs.
        QVERIFY(read("70000071") == earlier);
        QVERIFY(program->running());
    }

    void sampleFolderNotWritable_failsTheCapture_andKeepsTheEarlierTake()
    {
        start();
        take("70000091");
        verifyTake("70000091");
        desk.key(ScanTitle, "alt+x");
        QVERIFY(program->waitForExit(10000));
        const Take earlier = read("70000091");

        // Permission bits do not stop root, so as root the program runs as
        // the unprivileged "nobody", provided it can reach the share at all.
        QStringList wrapper;
        if (::geteuid() == 0) {
            wrapper = QStringList { "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--" };
            QProcess probe;
            probe.start(wrapper.first(), wrapper.mid(1) + QStringList { "test", "-x", Share::converter() });
            QVERIFY(probe.waitForFinished(10000));
            if (probe.exitCode() != 0)
                QSKIP("the share's folders cannot be reached as nobody from this checkout");
        }
        QVERIFY(QFile::setPermissions(Share::samplesFolder(),
            QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                | QFile::ExeOther));
        // Said at start-up, before the scan dialog opens; the take that
        // replaces the earlier one fails, and the status line says so.
        BenchFixture::start(ErrorTitle, wrapper);
        desk.answer(ErrorTitle, true);
        desk.waitForWindow(ScanTitle);
        desk.scan("70000091");
        desk.replace(TakeTitle);
        verifySettledWaiting();
        QVERIFY(read("70000091") == earlier);
    }

    void closeRightAfterACapture_waitsForBothJpegs_thenEnds()
    {
        // A converter held back until the test lets it go.
        QTemporaryDir gate;
        const QString release = gate.filePath("release");
        Share::installConverter("#!/bin/sh\ni=0\nwhile [ ! -e '" + release.toUtf8()
            + "' ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i+1)); done\nexec '"
            + Share::builtConverter().toUtf8() + "' \"$@\"\n");
        start();
        take("70000081");
        desk.key(ScanTitle, "alt+c");
        desk.waitUntilGone(ScanTitle);
        desk.key(MainTitle, "alt+c");
        QVERIFY(!program->waitForExit(1500));
        QFile(release).open(QIODevice::WriteOnly);
        QVERIFY(program->waitForExit(10000));
        QCOMPARE(program->exitStatus(), QProcess::NormalExit);
        verifyTake("70000081");
    }
};

QTEST_GUILESS_MAIN(TestBenchFaults)
#include "test_bench_faults.moc"
