#include "image_store/image_store.h"
#include "image_store/sample_claim.h"
#include "image_store/temporary_name.h"
#include "processes.h"
#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

#include <csignal>
#include <future>
#include <map>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace image_store;
using namespace std::chrono_literals;

class TestImageStore : public QObject {
    Q_OBJECT
    TempShare share;
    ShareWorker worker;
    SpawnLauncher launcher { share.map() };
    ImageStore store { share.map(), launcher, worker };

    QString dir() const { return SamplesSharePath; }

private slots:
    void names_forSample00012345_followTheNamingRule()
    {
        QCOMPARE(store.sampleImageDirectory(), dir());
        QCOMPARE(store.softwareDirectory(),
            QStringLiteral("\\\\labfs01\\virtual_directories\\IMG_SOFTWARE\\QORVEL\\Lens_Desk\\"));
        QCOMPARE(store.imagePath(ColorPrefix, "00012345", BmpExtension), dir() + "CLR_00012345_01.bmp");
        QCOMPARE(store.imagePath(BottomPrefix, "00012345", JpgExtension), dir() + "BTM_00012345_01.jpg");
        QCOMPARE(store.buttonFacePath("Color"), store.softwareDirectory() + "bt_vw_Color.jpg");
        QCOMPARE(store.buttonFacePath("Bottom"), store.softwareDirectory() + "bt_vw_Bottom.jpg");
        // Byte for byte: single blanks, nothing quoted.
        QCOMPARE(store.converterCommand(ColorPrefix, "00012345"),
            dir() + "imgconv32\\imgcon32.exe " + dir() + "CLR_00012345_01.bmp -j --o " + dir()
                + "CLR_00012345_01.jpg");
        // Leading zeros are significant; nothing is padded here.
        QCOMPARE(store.imagePath(ColorPrefix, "12345", BmpExtension), dir() + "CLR_12345_01.bmp");
    }

    void shareMap_mapsPathsUnderTheMountPoint()
    {
        const ShareMap map("labfs01", "/mnt/labfs01/");
        QCOMPARE(map.toLocal("\\\\labfs01\\virtual_directories\\a.bmp"),
            QString("/mnt/labfs01/virtual_directories/a.bmp"));
        QCOMPARE(map.toLocal("\\\\LABFS01\\x\\y\\"), QString("/mnt/labfs01/x/y"));
    }

    void shareMap_refusesPathsThatLeaveTheShare_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("other server") << "\\\\otherfs\\virtual_directories\\a.bmp";
        QTest::newRow("server prefix only") << "\\\\labfs011\\a.bmp";
        QTest::newRow("local path") << "/etc/passwd";
        QTest::newRow("dot dot") << "\\\\labfs01\\virtual_directories\\..\\..\\etc\\passwd";
        QTest::newRow("dot") << "\\\\labfs01\\.\\a.bmp";
        QTest::newRow("empty component") << "\\\\labfs01\\virtual_directories\\\\a.bmp";
        QTest::newRow("slash inside") << "\\\\labfs01\\virtual_directories\\../../etc";
        QTest::newRow("root only") << "\\\\labfs01\\";
    }
    void shareMap_refusesPathsThatLeaveTheShare()
    {
        QFETCH(QString, path);
        QVERIFY_THROWS_EXCEPTION(SharePathError, ShareMap("labfs01", "/mnt/labfs01").toLocal(path));
    }

    void startConversion_writesAValidJpegOfTheBitmapsSize()
    {
        writeBitmap(share.sampleFile("CLR_00012345_01.bmp"), 641, 363);
        startConversionNow(store, store.converterCommand(ColorPrefix, "00012345"));
        const QString jpeg = share.sampleFile("CLR_00012345_01.jpg");
        QVERIFY(waitForFile(jpeg));
        QImageReader reader(jpeg);
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        QCOMPARE(reader.size(), QSize(641, 363));
        QVERIFY(!loadImageNow(store, store.imagePath(ColorPrefix, "00012345", JpgExtension)).isNull());
    }

    void startConversion_missingOrNotExecutableConverter_raises_unlessOneIsInstalled()
    {
        TempShare bare;
        QFile::remove(bare.samplesFolder() + "/imgconv32/imgcon32.exe");
        SpawnLauncher bareLauncher(bare.map());
        ImageStore bareStore(bare.map(), bareLauncher, worker);
        QVERIFY_THROWS_EXCEPTION(
            LaunchError, startConversionNow(bareStore, bareStore.converterCommand(ColorPrefix, "1")));
        QFile text(bare.samplesFolder() + "/imgconv32/imgcon32.exe");
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.close();
        QVERIFY_THROWS_EXCEPTION(
            LaunchError, startConversionNow(bareStore, bareStore.converterCommand(ColorPrefix, "1")));

        // A converter installed with the program runs instead, whatever the
        // share holds under that name, with the command's own arguments.
        bareLauncher.runInstead(bareStore.converterProgram().toUpper(), IMAGEMAKER_CONVERTER_PATH);
        writeBitmap(bare.sampleFile("CLR_00000001_01.bmp"), 64, 48);
        startConversionNow(bareStore, bareStore.converterCommand(ColorPrefix, "00000001"));
        QVERIFY(waitForFile(bare.sampleFile("CLR_00000001_01.jpg")));
        QTRY_COMPARE(bareLauncher.running(), 0);
    }

    void launcher_reportsHowEachProcessEnded()
    {
        QTemporaryDir dir;
        std::map<QString, ProcessEnd> ends;
        int scripts = 0;
        for (const char* body : { "exit 0", "exit 3", "kill -9 $$" }) {
            const QString script = dir.filePath(QString::number(++scripts));
            QFile file(script);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray("#!/bin/sh\n") + body + "\n");
            file.close();
            QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
            launcher.watch(
                launcher.prepare(script, 2)(0ms), [&ends, body](const ProcessEnd& end) { ends[body] = end; });
        }
        QTRY_COMPARE(ends.size(), size_t(3));
        QVERIFY(ends["exit 0"].ok());
        QVERIFY(ends["exit 3"].exited && ends["exit 3"].code == 3 && !ends["exit 3"].ok());
        QVERIFY(!ends["kill -9 $$"].exited && ends["kill -9 $$"].code == SIGKILL);
        QCOMPARE(launcher.running(), 0);
    }

    // A program that is gone stops nothing; a process it left must still
    // end, a little after its limit.
    void launcher_gone_itsProcessStillEndsPastItsLimit()
    {
        QTemporaryDir dir;
        const QString script = dir.filePath("hangs");
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        // Its own, beside another run of this test.
        const QString sleep = "600." + QString::number(QCoreApplication::applicationPid());
        file.write("#!/bin/sh\nsleep " + sleep.toLatin1() + "\n");
        file.close();
        QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));
        Spawned spawned;
        {
            SpawnLauncher gone(share.map());
            spawned = gone.prepare(script, 2)(300ms);
            gone.watch(spawned, nullptr);
        }
        const auto reap = qScopeGuard([pid = static_cast<pid_t>(spawned.pid)] {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        });
        QTRY_COMPARE(processesMentioning(sleep), 1);
        QTRY_COMPARE_WITH_TIMEOUT(processesMentioning(sleep), 0, 5000);
    }

    void startConversion_manyLaunches_leaveNoZombie()
    {
        for (int i = 0; i < 60; ++i)
            startConversionNow(store, store.converterCommand(BottomPrefix, "99999999"));
        // Once every launch has been seen to end, a child that exited and was
        // not reaped would show as a zombie of this process.
        QTRY_COMPARE_WITH_TIMEOUT(launcher.running(), 0, 30000);
        QCOMPARE(zombieChildren(), 0);
    }

    void deleteJpegs_removesBothJpegsAndKeepsBitmaps()
    {
        for (const char* name :
            { "CLR_00000001_01.jpg", "BTM_00000001_01.jpg", "CLR_00000001_01.bmp", "BTM_00000001_01.bmp" }) {
            QFile f(share.sampleFile(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        deleteJpegsNow(store, "00000001");
        QVERIFY(!QFile::exists(share.sampleFile("CLR_00000001_01.jpg")));
        QVERIFY(!QFile::exists(share.sampleFile("BTM_00000001_01.jpg")));
        QVERIFY(QFile::exists(share.sampleFile("CLR_00000001_01.bmp")));
        QVERIFY(QFile::exists(share.sampleFile("BTM_00000001_01.bmp")));
        // Both absent: nothing happens and nothing is raised.
        deleteJpegsNow(store, "00000001");
        // A JPEG still being written goes as well, also one that has no
        // earlier JPEG: its conversion then writes nothing.
        QFile part(QString::fromStdString(
            image_store::temporaryNameOf(share.sampleFile("BTM_00000001_01.jpg").toStdString())));
        QVERIFY(part.open(QIODevice::WriteOnly));
        part.close();
        deleteJpegsNow(store, "00000001");
        QVERIFY(!part.exists());
    }

    void deleteJpegs_readOnlyColourJpeg_raisesBeforeTheBottomOne()
    {
        const QString color = share.sampleFile("CLR_00000002_01.jpg");
        const QString bottom = share.sampleFile("BTM_00000002_01.jpg");
        for (const QString& name : { color, bottom }) {
            QFile f(name);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QFile::setPermissions(color, QFile::ReadOwner | QFile::ReadGroup);
        try {
            deleteJpegsNow(store, "00000002");
            QFAIL("a read-only JPEG was deleted");
        } catch (const StoreError& error) {
            QVERIFY(QString(error.what()).contains("CLR_00000002_01.jpg"));
            QVERIFY(QString(error.what()).contains("read-only"));
        }
        QVERIFY(QFile::exists(color));
        QVERIFY(QFile::exists(bottom));
    }

    void deleteJpegs_unreachableShare_doesNothing()
    {
        const ShareMap map("labfs01", "/nonexistent/mount");
        SpawnLauncher gone(map);
        ImageStore unreachable(map, gone, worker);
        deleteJpegsNow(unreachable, "00012345");
        QVERIFY(
            !QFileInfo::exists(map.toLocal(unreachable.imagePath(ColorPrefix, "00012345", JpgExtension))));
    }

    // A share that must be mounted writes nothing into the plain folder
    // left at its mount point; a missing sample folder is told as such.
    void share_unmountedOrMissing_isUnreachable_andNothingIsWritten()
    {
        const ShareMap unmounted("labfs01", share.root(), true);
        SpawnLauncher spawn(unmounted);
        ImageStore local(unmounted, spawn, worker);
        QVERIFY_THROWS_EXCEPTION(
            ShareUnreachable, awaitDone([&](ShareWorker::Done done) { local.checkShare(done); }));
        QImage frame(8, 8, QImage::Format_RGB32);
        frame.fill(Qt::red);
        local.beginTake("00066000");
        local.stills().write(dir() + "CLR_00066000_01.bmp", frame);
        QVERIFY_THROWS_EXCEPTION(ShareUnreachable, settleStillsNow(local));
        local.endTake();
        QVERIFY(
            QDir(share.samplesFolder()).entryList(QDir::Files | QDir::Hidden).filter("00066000").isEmpty());

        // Where one is mounted, what is checked is the folder.
        try {
            ShareMap("labfs01", "/proc", true).checkReachable("/proc/no-such-folder");
            QFAIL("a missing folder was taken for one to write in");
        } catch (const ShareUnreachable& error) {
            QVERIFY2(QByteArray(error.what()).endsWith("is not there"), error.what());
        }
        awaitDone([&](ShareWorker::Done done) { store.checkShare(done); });
    }

    // A take claims its sample: another bench's live claim refuses the take
    // before any still is written; one left by a process that is gone is
    // taken over; a still replaced by another writer before the take is
    // settled fails it; the claim goes when the take ends.
    void take_claimsTheSample_refusesAnotherBenchs_andCatchesAStillReplacedMeanwhile()
    {
        const QImage frame = [] {
            QImage image(8, 8, QImage::Format_RGB32);
            image.fill(Qt::red);
            return image;
        }();
        const QString claim = share.sampleFile(".00065000.claim");
        const auto writeClaim = [&](const QByteArray& owner) {
            QFile file(claim);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(owner);
        };
        const auto take = [&] {
            store.beginTake("00065000");
            store.stills().write(dir() + "CLR_00065000_01.bmp", frame);
            store.stills().write(dir() + "BTM_00065000_01.bmp", frame);
            const auto end = qScopeGuard([&] { store.endTake(); });
            settleStillsNow(store);
        };

        writeClaim("otherbench 1");
        QVERIFY_THROWS_EXCEPTION(SampleTakenElsewhere, take());
        QVERIFY(!QFileInfo::exists(share.sampleFile("CLR_00065000_01.bmp")));
        QCOMPARE(fileContents(claim), QByteArray("otherbench 1"));

        // This bench's claim, of a process that has ended.
        QProcess gone;
        gone.start("true");
        QVERIFY(gone.waitForStarted());
        const qint64 pid = gone.processId();
        QVERIFY(gone.waitForFinished());
        writeClaim(QByteArray::fromStdString(benchName()) + " " + QByteArray::number(pid) + " "
            + QByteArray::fromStdString(benchRun()));
        take();
        QVERIFY(QFileInfo::exists(share.sampleFile("BTM_00065000_01.bmp")));
        QTRY_VERIFY(!QFileInfo::exists(claim));

        // Another writer renames its file over the colour still meanwhile.
        store.beginTake("00065000");
        store.stills().write(dir() + "CLR_00065000_01.bmp", frame);
        const QByteArray other = QFile::encodeName(share.sampleFile("other.bmp"));
        QVERIFY(callOn(worker, [&] {
            QFile file(other);
            return file.open(QIODevice::WriteOnly) && file.write("BM") == 2 && file.flush()
                && ::rename(other.constData(), QFile::encodeName(share.sampleFile("CLR_00065000_01.bmp")))
                == 0;
        }));
        try {
            settleStillsNow(store);
            QFAIL("a still replaced meanwhile was taken for this take's");
        } catch (const SampleTakenElsewhere& error) {
            QCOMPARE(error.sample(), QString("00065000"));
        }
        store.endTake();
        QTRY_VERIFY(!QFileInfo::exists(claim));
    }

    // Whatever stands at a claim's name, the take neither blocks nor is told
    // of a bench that is not there: a pipe or an empty folder is removed, a
    // full folder refuses the take as the server's fault; a claim's age is
    // bounded both ways; a process gone counts only on the run that made
    // the claim (a bench cloned under this host name is another).
    void claim_whatStandsInItsWay_isJudgedByWhatItIs()
    {
        const QString claim = share.sampleFile(".00065100.claim");
        const QByteArray path = QFile::encodeName(claim);
        const auto take = [&] {
            SampleClaim owned(claim, "00065100");
            callOn(worker, [&] { owned.take(); });
            callOn(worker, [&] { owned.release(); });
        };
        const auto writeClaim = [&](const QByteArray& owner, qint64 secondsAhead) {
            QFile file(claim);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(owner);
            QVERIFY(file.flush());
            QVERIFY(file.setFileTime(
                QDateTime::currentDateTime().addSecs(secondsAhead), QFileDevice::FileModificationTime));
        };

        QCOMPARE(::mkfifo(path.constData(), 0666), 0);
        take();
        QVERIFY(!QFileInfo::exists(claim));
        QVERIFY(QDir().mkdir(claim));
        take();
        QVERIFY(!QFileInfo::exists(claim));
        QVERIFY(QDir().mkpath(claim + "/kept"));
        QVERIFY_THROWS_EXCEPTION(StoreError, take());
        QVERIFY(QDir(claim).removeRecursively());

        // Its bench named as far as the name is plain: the file may hold anything.
        writeClaim("<b>bench\x01"
                   "B</b> 1 0123456789ab",
            60);
        try {
            take();
            QFAIL("a claim a minute ahead was taken over");
        } catch (const SampleBeingTaken& error) {
            QCOMPARE(error.bench(), QString("bbenchBb"));
        }
        writeClaim("benchB 1 0123456789ab", 600);
        take();
        QVERIFY(!QFileInfo::exists(claim));

        // Left empty by a create the server failed: no bench's.
        writeClaim("", 0);
        take();
        QVERIFY(!QFileInfo::exists(claim));

        // A crashed bench's claim goes with its temporaries of the sample;
        // a fresh one may be a converter's at work.
        const QString debris = share.sampleFile(".CLR_00065100_01.bmp.benchB-0123456789ab.part");
        const QString fresh = share.sampleFile(".BTM_00065100_01.jpg.benchB-0123456789ab.part");
        for (const QString& part : { debris, fresh }) {
            QFile file(part);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(part == debris ? -300 : 0),
                QFileDevice::FileModificationTime));
        }
        writeClaim("benchB 1 0123456789ab", -300);
        take();
        QVERIFY(!QFileInfo::exists(debris));
        QVERIFY(QFileInfo::exists(fresh));

        QProcess gone;
        gone.start("true");
        QVERIFY(gone.waitForStarted());
        const QByteArray pid = QByteArray::number(gone.processId());
        QVERIFY(gone.waitForFinished());
        const QByteArray host = QByteArray::fromStdString(benchName());
        writeClaim(host + " " + pid + " 0123456789ab", 0);
        QVERIFY_THROWS_EXCEPTION(SampleBeingTaken, take());
        writeClaim(host + " " + pid + " " + QByteArray::fromStdString(benchRun()), 0);
        take();
        QVERIFY(!QFileInfo::exists(claim));
    }

    void shareWorker_keepsOrder_boundsAHungServer_dropsWhatWasQueuedBehind_andRecovers()
    {
        using namespace std::chrono_literals;
        ShareWorker share(400ms);
        std::vector<int> order;
        std::vector<ShareWorker::Ticket> queued;
        for (int i = 0; i < 3; ++i)
            queued.push_back(share.queue([&order, i](const CancelToken&) {
                std::this_thread::sleep_for(5ms);
                order.push_back(i);
            }));
        QCOMPARE(callOn(share, [&order] { return order.size(); }), size_t(3));
        waitFor(share, queued);
        QCOMPARE(order, (std::vector<int> { 0, 1, 2 }));

        // A server that hangs: the window's loop goes on while it waits.
        auto server = std::make_shared<std::promise<void>>();
        std::shared_future<void> answers = server->get_future().share();
        auto sawAbandoned = std::make_shared<std::atomic<int>>(-1);
        auto behindRan = std::make_shared<std::atomic<bool>>(false);
        const std::vector<ShareWorker::Ticket> hung { share.queue(
                                                          [answers, sawAbandoned](const CancelToken& token) {
                                                              answers.wait();
                                                              *sawAbandoned = token.cancelled();
                                                          }),
            share.queue([behindRan](const CancelToken&) { *behindRan = true; }) };
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
        tick.start(20);
        QVERIFY_THROWS_EXCEPTION(ShareNotAnswering, waitFor(share, hung));
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
        QVERIFY(share.stuck());

        // Still hung: the next request fails at once instead of queueing.
        QElapsedTimer atOnce;
        atOnce.start();
        QVERIFY_THROWS_EXCEPTION(ShareNotAnswering, callOn(share, [] { return 1; }));
        QVERIFY(atOnce.elapsed() < 200);
        std::exception_ptr submitted;
        bool told = false;
        share.submit([] {},
            [&](std::exception_ptr error) {
                submitted = error;
                told = true;
            });
        QTRY_VERIFY(told);
        QVERIFY(submitted);

        // Back: the hung work learns it was given up, what was queued behind
        // it never runs, and the share works again.
        server->set_value();
        QTRY_VERIFY(!share.stuck());
        QCOMPARE(sawAbandoned->load(), 1);
        QCOMPARE(callOn(share, [] { return 42; }), 42);
        QVERIFY(!*behindRan);
        QVERIFY_THROWS_EXCEPTION(
            StoreError, callOn(share, []() -> int { throw StoreError("no such file"); }));
    }
};

QTEST_MAIN(TestImageStore)
#include "test_image_store.moc"
