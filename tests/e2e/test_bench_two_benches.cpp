// Two installed programs on one share, as two benches on one file server:
// the second runs under another host name and photographs other cameras
// (solid yellow below, solid blue in colour). Taking the same sample at the
// same instant, one bench takes it and the other is told; nothing is torn
// and no bench records a sample that holds the other's pictures. Different
// samples at the same instant both end whole.

#include "bench_fixture.h"

#include <QProcess>
#include <QTemporaryFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace e2e;

namespace {

bool solid(const QImage& image, QRgb colour)
{
    if (image.isNull())
        return false;
    for (const QPoint& p : { QPoint(5, 5), QPoint(image.width() / 2, image.height() / 2),
             QPoint(image.width() - 5, image.height() - 5) }) {
        const QRgb pixel = image.pixel(p);
        if (std::abs(qRed(pixel) - qRed(colour)) > 40 || std::abs(qGreen(pixel) - qGreen(colour)) > 40
            || std::abs(qBlue(pixel) - qBlue(colour)) > 40)
            return false;
    }
    return true;
}

enum class Whose { None, First, Second, Torn };

// Whose pictures the sample's four files are, once all are there.
Whose whose(const QString& sample)
{
    QImage files[4];
    int i = 0;
    for (const char* prefix : { "CLR_", "BTM_" })
        for (const char* extension : { ".bmp", ".jpg" })
            files[i++] = QImage(Share::file(prefix + sample + "_01" + extension));
    const bool first = showsColourCamera(files[0]) && showsColourCamera(files[1])
        && showsBottomCamera(files[2]) && showsBottomCamera(files[3]);
    const bool second = solid(files[0], qRgb(0, 0, 255)) && solid(files[1], qRgb(0, 0, 255))
        && solid(files[2], qRgb(255, 255, 0)) && solid(files[3], qRgb(255, 255, 0));
    bool none = true;
    for (const QImage& file : files)
        none = none && file.isNull();
    return first ? Whose::First : second ? Whose::Second : none ? Whose::None : Whose::Torn;
}

} // namespace

class TestBenchTwoBenches : public QObject, public BenchFixture {
    Q_OBJECT
    QTemporaryDir settings;
    std::unique_ptr<Program> second;

    // What the bench that did not take it logs: the other's claim, or its file.
    static bool told(const Program& bench, const QString& sample)
    {
        const QString out = bench.output();
        return out.contains(
                   "Capture of " + sample + " failed: Sample " + sample + " is being taken on bench ")
            || out.contains("Another bench wrote sample " + sample + " at the same time: take it again");
    }

    // One bench: its windows, its program.
    struct Bench {
        Desktop desk;
        Program* program;
        qsizetype failedBefore = 0;
        QString question;
    };

    // Scans the sample into each bench (the dialog, or the window after a
    // failed capture), then answers both "Take picture now?" at once.
    // Returns which benches recorded it.
    std::pair<bool, bool> takeAtOnce(Bench& a, const QString& sampleA, Bench& b, const QString& sampleB)
    {
        for (auto [bench, sample] : { std::pair { &a, sampleA }, std::pair { &b, sampleB } }) {
            if (bench->desk.windows(ScanTitle).isEmpty())
                bench->desk.scanInto(MainTitle, sample);
            else
                bench->desk.scan(sample);
            bench->question = bench->desk.waitForWindow(TakeTitle);
            bench->failedBefore = bench->program->output().count("Capture of " + sample + " failed");
        }
        // Both questions read, then Enter on each, one right after the other.
        QTest::qWait(Desktop::ReadingMs);
        a.desk.keyToEach({ a.question, b.question }, "Return");
        bool recorded[2] = {};
        // Both settle first, so that no box opens while the other's is answered.
        const std::pair<Bench*, QString> benches[] = { { &a, sampleA }, { &b, sampleB } };
        bool told[2] = {};
        for (int i = 0; i < 2; ++i) {
            auto [bench, sample] = benches[i];
            const QString failed = "Capture of " + sample + " failed";
            if (!waitUntil(
                    [&] {
                        return !bench->desk.windows(IncrementTitle).isEmpty()
                            || bench->program->output().count(failed) > bench->failedBefore;
                    },
                    20000))
                throw DriverError("neither recorded nor failed: " + sample + "; visible: "
                    + bench->desk.visibleTitles().join(", ") + "; " + bench->program->output().right(2000));
            recorded[i] = !bench->desk.windows(IncrementTitle).isEmpty();
            // Told in a box, to be read whole.
            told[i]
                = !recorded[i] && waitUntil([&] { return !bench->desk.windows(ErrorTitle).isEmpty(); }, 5000);
        }
        for (int i = 0; i < 2; ++i) {
            Bench* bench = benches[i].first;
            if (recorded[i]) {
                bench->desk.answer(IncrementTitle, false);
                bench->desk.waitForWindow(ScanTitle);
            } else if (told[i]) {
                bench->desk.answer(ErrorTitle, true);
            }
        }
        return { recorded[0], recorded[1] };
    }

    // Rounds of one sample taken by both at once: one takes it, the other is
    // told, and no entry holds the other bench's pictures.
    void sameSampleRounds(int first, int rounds)
    {
        Bench a { Desktop(program->pid()), program.get(), 0, {} };
        Bench b { Desktop(second->pid()), second.get(), 0, {} };
        int collisions = 0, oneAfterTheOther = 0;
        for (int round = 0; round < rounds; ++round) {
            const QString sample = QString::number(first + round);
            const auto [recordedA, recordedB] = takeAtOnce(a, sample, b, sample);
            QVERIFY(waitUntil([] { return processesMentioning(Share::samplesFolder()) == 0; }, 20000));
            const Whose files = whose(sample);
            QVERIFY2(files != Whose::Torn, qPrintable(sample + " is torn"));
            if (recordedA && recordedB) {
                // No overlap: the later take replaced the earlier, whole.
                ++oneAfterTheOther;
                QVERIFY2(files != Whose::None, qPrintable(sample));
                continue;
            }
            QVERIFY2(recordedA || recordedB, qPrintable(sample + ": neither bench took it"));
            QCOMPARE(files, recordedA ? Whose::First : Whose::Second);
            const Program* loser = recordedA ? second.get() : program.get();
            QVERIFY2(told(*loser, sample), qPrintable(sample));
            ++collisions;
        }
        qInfo("%d rounds: %d collisions told, %d taken one after the other", rounds, collisions,
            oneAfterTheOther);
        QVERIFY(collisions > 0);
    }

private slots:
    void initTestCase()
    {
        // On the fault-injecting share, when run under it: its server's clock as asked.
        if (qEnvironmentVariableIsSet("IMAGEMAKER_FAULTY_MOUNT")) {
            qputenv("IMAGEMAKER_MOUNT_POINT", qgetenv("IMAGEMAKER_FAULTY_MOUNT"));
            QFile rules(qEnvironmentVariable("IMAGEMAKER_FAULTY_RULES"));
            QVERIFY(rules.open(QIODevice::WriteOnly));
            rules.write("clock " + qgetenv("IMAGEMAKER_SERVER_CLOCK") + "\n");
        }
        QProcess hosts;
        hosts.start("unshare", { "--uts", "true" });
        if (!hosts.waitForFinished(10000) || hosts.exitCode() != 0)
            QSKIP("SKIPPED: a second host name needs unshare --uts (root)");
        QVERIFY(settings.isValid());
        QDir(settings.path()).mkpath("SampleCams");
        QFile conf(settings.filePath("SampleCams/LiveVideo.conf"));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("[camera0]\nsource=\"videotestsrc is-live=true pattern=solid-color "
                   "foreground-color=0xffffff00 ! video/x-raw,width=640,height=480,framerate=30/1\"\n"
                   "[camera1]\nsource=\"videotestsrc is-live=true pattern=solid-color "
                   "foreground-color=0xff0000ff ! video/x-raw,width=640,height=480,framerate=30/1\"\n");
    }
    void init()
    {
        beginTest();
        start(ScanTitle);
        startSecond("hostname bench-two");
    }
    // Another host: its own name in the share's temporaries and claims,
    // unless `host` keeps this one's.
    void startSecond(const QString& host, const QStringList& namespaces = { "--uts" })
    {
        second = std::make_unique<Program>(QStringList { "unshare" } + namespaces
            + QStringList {
                "sh", "-c", host + " && XDG_CONFIG_DIRS='" + settings.path() + "' exec \"$0\" \"$@\"" });
        QVERIFY(waitUntil([&] { return !Desktop(second->pid()).windows(ScanTitle).isEmpty(); }, 10000));
    }
    void cleanup()
    {
        second.reset();
        endTest();
    }

    void sameSampleAtOnce_oneTakesIt_theOtherIsTold_nothingTorn() { sameSampleRounds(70004000, 12); }

    // A bench cloned from the other's disk image: the same host name and
    // machine id, on another machine (here: another boot).
    void clonedBench_sameSampleAtOnce_nothingTorn()
    {
        // Its own mounts, left as they are (a chroot's root cannot be made
        // private); its /proc made private before anything is mounted on it.
        const QStringList namespaces { "--uts", "--mount", "--propagation", "unchanged" };
        QProcess mounts;
        mounts.start("unshare", namespaces.mid(1) << "true");
        if (!mounts.waitForFinished(10000) || mounts.exitCode() != 0)
            QSKIP("SKIPPED: another boot id needs unshare --mount");
        QTemporaryFile boot;
        QVERIFY(boot.open());
        boot.write("0f0e0d0c-0b0a-0908-0706-050403020100\n");
        boot.flush();
        startSecond("mount --make-rprivate /proc && mount --bind '" + boot.fileName()
                + "' /proc/sys/kernel/random/boot_id",
            namespaces);
        sameSampleRounds(70004100, 6);
    }

    void differentSamplesAtOnce_bothEndWhole()
    {
        Bench a { Desktop(program->pid()), program.get(), 0, {} };
        Bench b { Desktop(second->pid()), second.get(), 0, {} };
        for (int round = 0; round < 4; ++round) {
            const QString sampleA = QString::number(70005000 + 2 * round);
            const QString sampleB = QString::number(70005001 + 2 * round);
            const auto [recordedA, recordedB] = takeAtOnce(a, sampleA, b, sampleB);
            QVERIFY(recordedA && recordedB);
            QVERIFY(waitUntil([] { return processesMentioning(Share::samplesFolder()) == 0; }, 20000));
            QCOMPARE(whose(sampleA), Whose::First);
            QCOMPARE(whose(sampleB), Whose::Second);
        }
    }
};

QTEST_GUILESS_MAIN(TestBenchTwoBenches)
#include "test_bench_two_benches.moc"
