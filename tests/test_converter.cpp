#include "convert.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QtTest>

#include <sstream>

#include <sys/resource.h>

class TestConverter : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

    QString path(const QString& name) const { return dir.filePath(name); }
    int run(const QStringList& args, std::string* message = nullptr)
    {
        std::vector<std::string> list;
        for (const QString& a : args)
            list.push_back(a.toStdString());
        std::ostringstream err;
        const int status = converter::convert(list, err);
        if (message)
            *message = err.str();
        return status;
    }
    static QByteArray readAll(const QString& file)
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Nothing but the named files is in the folder: no temporary is left.
    void verifyFolderHolds(const QStringList& names)
    {
        QStringList entries = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        entries.sort();
        QStringList expected = names;
        expected.sort();
        QCOMPARE(entries, expected);
    }

private slots:
    void init()
    {
        for (const QString& f : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            QFile::remove(path(f));
    }

    void convert_24bitAndOddWidth_writesBaselineJpegOfSameSize_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("720p") << 1280 << 720;
        QTest::newRow("odd width") << 333 << 101;
        QTest::newRow("one pixel") << 1 << 1;
    }
    void convert_24bitAndOddWidth_writesBaselineJpegOfSameSize()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        writeBitmap(path("in.bmp"), width, height, Qt::red);
        QCOMPARE(run({path("in.bmp"), "-j", "--o", path("out.jpg")}), 0);
        QImageReader reader(path("out.jpg"));
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        const QImage image = reader.read();
        QCOMPARE(image.size(), QSize(width, height));
        QFile jpeg(path("out.jpg"));
        QVERIFY(jpeg.open(QIODevice::ReadOnly));
        // Start of frame 0 (baseline DCT) rather than progressive.
        QVERIFY(jpeg.readAll().contains(QByteArray("\xff\xc0", 2)));
        verifyFolderHolds({"in.bmp", "out.jpg"});
    }

    void convert_32bitBitmap_isRead()
    {
        QImage image(20, 10, QImage::Format_ARGB32);
        image.fill(Qt::blue);
        QVERIFY(image.save(path("in.bmp"), "BMP"));
        QCOMPARE(run({path("in.bmp"), "-j", "--o", path("out.jpg")}), 0);
        QVERIFY(mostlyColour(QImage(path("out.jpg")), Qt::blue));
    }

    void convert_replacesAnEarlierJpegWhole()
    {
        writeBitmap(path("in.bmp"), 64, 48, Qt::green);
        QFile old(path("out.jpg"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old picture");
        old.close();
        QCOMPARE(run({path("in.bmp"), "-j", "--o", path("out.jpg")}), 0);
        QCOMPARE(QImage(path("out.jpg")).size(), QSize(64, 48));
    }

    void convert_failures_printOneLineAndLeaveNothing_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing source") << "missing";
        QTest::newRow("not a bmp") << "text";
        QTest::newRow("truncated") << "truncated";
        QTest::newRow("unwritable destination") << "unwritable";
    }
    void convert_failures_printOneLineAndLeaveNothing()
    {
        QFETCH(QString, kind);
        QStringList present;
        QString dest = path("out.jpg");
        if (kind == "text") {
            QFile f(path("in.bmp"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("this is not a picture at all");
            present << "in.bmp";
        } else if (kind == "truncated") {
            writeBitmap(path("full.bmp"), 200, 100);
            QFile full(path("full.bmp"));
            QVERIFY(full.open(QIODevice::ReadOnly));
            QFile cut(path("in.bmp"));
            QVERIFY(cut.open(QIODevice::WriteOnly));
            cut.write(full.read(full.size() / 2));
            full.close();
            QFile::remove(path("full.bmp"));
            present << "in.bmp";
        } else if (kind == "unwritable") {
            writeBitmap(path("in.bmp"), 10, 10);
            dest = path("no-such-folder/out.jpg");
            present << "in.bmp";
        }
        std::string message;
        QVERIFY(run({path("in.bmp"), "-j", "--o", dest}, &message) != 0);
        QCOMPARE(std::count(message.begin(), message.end(), '\n'), 1);
        verifyFolderHolds(present);
    }

    void convert_wrongArguments_printUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("none") << QStringList{};
        QTest::newRow("no option") << QStringList{"a.bmp", "b.jpg"};
        QTest::newRow("options swapped") << QStringList{"a.bmp", "--o", "-j", "b.jpg"};
        QTest::newRow("extra") << QStringList{"a.bmp", "-j", "--o", "b.jpg", "c"};
    }
    void convert_wrongArguments_printUsage()
    {
        QFETCH(QStringList, args);
        std::string message;
        QCOMPARE(run(args, &message), 2);
        QVERIFY(message.find("usage:") == 0);
    }

    void binary_convertsAndFailsWithStatus()
    {
        writeBitmap(path("in.bmp"), 120, 80);
        QProcess process;
        process.start(IMAGEMAKER_CONVERTER_PATH, {path("in.bmp"), "-j", "--o", path("out.jpg")});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QImage(path("out.jpg")).size(), QSize(120, 80));
        process.start(IMAGEMAKER_CONVERTER_PATH, {path("missing.bmp"), "-j", "--o", path("x.jpg")});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardError().contains("missing.bmp"));
    }

    // A write cut short by a file-size limit fails with a message; the
    // earlier JPEG stays whole and no temporary is left.
    void binary_underFileSizeLimit_failsAndKeepsTheEarlierJpeg()
    {
        writeBitmap(path("small.bmp"), 64, 48);
        QCOMPARE(run({path("small.bmp"), "-j", "--o", path("out.jpg")}), 0);
        const QByteArray earlier = readAll(path("out.jpg"));
        writeBitmap(path("big.bmp"), 1280, 720);

        QProcess process;
        process.setChildProcessModifier([] {
            const rlimit limit{8192, 8192};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        process.start(IMAGEMAKER_CONVERTER_PATH, {path("big.bmp"), "-j", "--o", path("out.jpg")});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardError().contains("cannot write"));
        QCOMPARE(readAll(path("out.jpg")), earlier);
        verifyFolderHolds({"small.bmp", "big.bmp", "out.jpg"});
    }
};

QTEST_GUILESS_MAIN(TestConverter)
#include "test_converter.moc"
