#include "converter/convert.h"
#include "image_store/temporary_name.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QtTest>

#include <sstream>

#include <QElapsedTimer>
#include <QFileInfo>

#include <sys/resource.h>
#include <sys/stat.h>
#include <cstdio>

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
    // Nothing but the named files is in the folder: no temporary is left.
    void verifyFolderHolds(const QStringList& names)
    {
        QStringList entries = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        entries.sort();
        QStringList expected = names;
        expected.sort();
        QCOMPARE(entries, expected);
    }

private slots:
    void init()
    {
        for (const QString& f : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System))
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
        QCOMPARE(run({ path("in.bmp"), "-j", "--o", path("out.jpg") }), 0);
        QImageReader reader(path("out.jpg"));
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        const QImage image = reader.read();
        QCOMPARE(image.size(), QSize(width, height));
        QFile jpeg(path("out.jpg"));
        QVERIFY(jpeg.open(QIODevice::ReadOnly));
        // Start of frame 0 (baseline DCT) rather than progressive.
        QVERIFY(jpeg.readAll().contains(QByteArray("\xff\xc0", 2)));
        verifyFolderHolds({ "in.bmp", "out.jpg" });
    }

    void convert_32bitBitmap_isRead()
    {
        QImage image(20, 10, QImage::Format_ARGB32);
        image.fill(Qt::blue);
        QVERIFY(image.save(path("in.bmp"), "BMP"));
        QCOMPARE(run({ path("in.bmp"), "-j", "--o", path("out.jpg") }), 0);
        QVERIFY(mostlyColour(QImage(path("out.jpg")), Qt::blue));
    }

    void convert_replacesAnEarlierJpegWhole()
    {
        writeBitmap(path("in.bmp"), 64, 48, Qt::green);
        QFile old(path("out.jpg"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old picture");
        old.close();
        QCOMPARE(run({ path("in.bmp"), "-j", "--o", path("out.jpg") }), 0);
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
        QVERIFY(run({ path("in.bmp"), "-j", "--o", dest }, &message) != 0);
        QCOMPARE(std::count(message.begin(), message.end(), '\n'), 1);
        verifyFolderHolds(present);
    }

    // What it must not touch: each refused with one line, a non-zero status
    // and nothing left beside the destination.
    void convert_refusesWhatItMustNotTouch_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("says");
        QTest::newRow("link as destination") << "link"
                                             << "not a regular file";
        QTest::newRow("FIFO as destination") << "fifo dest"
                                             << "not a regular file";
        QTest::newRow("FIFO as source") << "fifo source"
                                        << "not a regular file";
        QTest::newRow("30000 by 30000") << "huge"
                                        << "too large";
        QTest::newRow("name too long for its temporary") << "long"
                                                         << "too long";
    }
    void convert_refusesWhatItMustNotTouch()
    {
        QFETCH(QString, kind);
        QFETCH(QString, says);
        QTemporaryDir outside;
        writeBitmap(path("in.bmp"), 16, 16);
        QStringList present { "in.bmp" };
        QString source = path("in.bmp");
        QString dest = path("out.jpg");
        if (kind == "link") {
            QFile target(outside.filePath("target"));
            QVERIFY(target.open(QIODevice::WriteOnly));
            target.write("not ours");
            target.close();
            QVERIFY(QFile::link(target.fileName(), dest));
            present << "out.jpg";
        } else if (kind == "fifo dest") {
            QCOMPARE(::mkfifo(QFile::encodeName(dest).constData(), 0600), 0);
            present << "out.jpg";
        } else if (kind == "fifo source") {
            source = path("pipe.bmp");
            QCOMPARE(::mkfifo(QFile::encodeName(source).constData(), 0600), 0);
            present << "pipe.bmp";
        } else if (kind == "huge") {
            QByteArray header = fileContents(path("in.bmp")).left(54);
            const qint32 side = 30000;
            memcpy(header.data() + 18, &side, 4);
            memcpy(header.data() + 22, &side, 4);
            QFile huge(path("in.bmp"));
            QVERIFY(huge.open(QIODevice::WriteOnly | QIODevice::Truncate));
            huge.write(header + QByteArray(4096, '\0'));
        } else if (kind == "long") {
            dest = path(QString(247, 'x') + ".jpg");
        }
        std::string message;
        QElapsedTimer timer;
        timer.start();
        QVERIFY(run({ source, "-j", "--o", dest }, &message) != 0);
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY2(message.find(says.toStdString()) != std::string::npos, message.c_str());
        QCOMPARE(std::count(message.begin(), message.end(), '\n'), 1);
        verifyFolderHolds(present);
        if (kind == "link")
            QCOMPARE(fileContents(outside.filePath("target")), QByteArray("not ours"));
        QVERIFY(QDir(outside.path()).entryList(QDir::Files).size() <= 1);
    }

    void convert_topDownBitmap_isConverted()
    {
        // Rows stored top first, as a negative height says: red above, blue below.
        const int w = 32, h = 32;
        QImage image(w, h, QImage::Format_RGB888);
        image.fill(Qt::red);
        for (int y = h / 2; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image.setPixelColor(x, y, Qt::blue);
        QByteArray file = fileContents((writeBitmap(path("in.bmp"), w, h), path("in.bmp"))).left(54);
        const qint32 height = -h;
        memcpy(file.data() + 22, &height, 4);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const QRgb p = image.pixel(x, y);
                file.append(char(qBlue(p))).append(char(qGreen(p))).append(char(qRed(p)));
            }
        }
        QFile top(path("in.bmp"));
        QVERIFY(top.open(QIODevice::WriteOnly | QIODevice::Truncate));
        top.write(file);
        top.close();
        QCOMPARE(run({ path("in.bmp"), "-j", "--o", path("out.jpg") }), 0);
        const QImage jpeg(path("out.jpg"));
        QVERIFY(mostlyColour(jpeg.copy(0, 0, w, h / 2), Qt::red));
        QVERIFY(mostlyColour(jpeg.copy(0, h / 2, w, h / 2), Qt::blue));
    }

    // A slow conversion whose bitmap is taken again, or whose JPEG is
    // deleted, while it runs writes nothing: the newer take or the deletion
    // has the last word.
    void binary_bitmapOrJpegChangedWhileConverting_writesNothing_data()
    {
        QTest::addColumn<bool>("retake");
        QTest::newRow("bitmap taken again") << true;
        QTest::newRow("JPEG deleted") << false;
    }
    void binary_bitmapOrJpegChangedWhileConverting_writesNothing()
    {
        QFETCH(bool, retake);
        writeBitmap(path("in.bmp"), 64, 64, Qt::green);
        QCOMPARE(run({ path("in.bmp"), "-j", "--o", path("out.jpg") }), 0);
        const QByteArray earlier = fileContents(path("out.jpg"));
        writeBitmap(path("big.bmp"), 6000, 6000, Qt::red);
        // Replaced by a rename, as the camera writes its bitmaps.
        const auto replace = [this](const char* from) {
            return ::rename(QFile::encodeName(path(from)).constData(),
                       QFile::encodeName(path("in.bmp")).constData())
                == 0;
        };
        QVERIFY(replace("big.bmp"));
        const qint64 size = QFileInfo(path("in.bmp")).size();

        QProcess process;
        process.start(IMAGEMAKER_CONVERTER_PATH, { path("in.bmp"), "-j", "--o", path("out.jpg") });
        QVERIFY(process.waitForStarted());
        // Once it has read the bitmap, and while it encodes it.
        QFile io(QString("/proc/%1/io").arg(process.processId()));
        QVERIFY(QTest::qWaitFor(
            [&] {
                io.open(QIODevice::ReadOnly);
                const QByteArray text = io.readAll();
                io.close();
                const qsizetype at = text.indexOf("rchar: ");
                return at >= 0 && text.mid(at + 7).split('\n').first().toLongLong() >= size;
            },
            10000));
        QVERIFY(process.state() == QProcess::Running);
        if (retake) {
            writeBitmap(path("new.bmp"), 64, 64, Qt::blue);
            QVERIFY(replace("new.bmp"));
        } else {
            QVERIFY(QFile::remove(path("out.jpg")));
        }
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), converter::SupersededStatus);
        if (retake)
            QCOMPARE(fileContents(path("out.jpg")), earlier);
        else
            QVERIFY(!QFileInfo::exists(path("out.jpg")));
        verifyFolderHolds(retake ? QStringList { "in.bmp", "out.jpg" } : QStringList { "in.bmp" });
    }

    void convert_leftoverTemporary_isReplacedNotPiledUp()
    {
        writeBitmap(path("in.bmp"), 20, 20);
        QFile left(QString::fromStdString(image_store::temporaryNameOf(path("out.jpg").toStdString())));
        QVERIFY(left.open(QIODevice::WriteOnly));
        left.write("left by a converter that was killed");
        left.close();
        QCOMPARE(run({ path("in.bmp"), "-j", "--o", path("out.jpg") }), 0);
        verifyFolderHolds({ "in.bmp", "out.jpg" });
    }

    void convert_wrongArguments_printUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("none") << QStringList {};
        QTest::newRow("no option") << QStringList { "a.bmp", "b.jpg" };
        QTest::newRow("options swapped") << QStringList { "a.bmp", "--o", "-j", "b.jpg" };
        QTest::newRow("extra") << QStringList { "a.bmp", "-j", "--o", "b.jpg", "c" };
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
        process.start(IMAGEMAKER_CONVERTER_PATH, { path("in.bmp"), "-j", "--o", path("out.jpg") });
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QImage(path("out.jpg")).size(), QSize(120, 80));
        process.start(IMAGEMAKER_CONVERTER_PATH, { path("missing.bmp"), "-j", "--o", path("x.jpg") });
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardError().contains("missing.bmp"));
    }

    // A write cut short by a file-size limit fails with a message; the
    // earlier JPEG stays whole and no temporary is left.
    void binary_underFileSizeLimit_failsAndKeepsTheEarlierJpeg()
    {
        writeBitmap(path("small.bmp"), 64, 48);
        QCOMPARE(run({ path("small.bmp"), "-j", "--o", path("out.jpg") }), 0);
        const QByteArray earlier = fileContents(path("out.jpg"));
        writeBitmap(path("big.bmp"), 1280, 720);

        QProcess process;
        process.setChildProcessModifier([] {
            const rlimit limit { 8192, 8192 };
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
        process.start(IMAGEMAKER_CONVERTER_PATH, { path("big.bmp"), "-j", "--o", path("out.jpg") });
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardError().contains("cannot write"));
        QCOMPARE(fileContents(path("out.jpg")), earlier);
        verifyFolderHolds({ "small.bmp", "big.bmp", "out.jpg" });
    }
};

QTEST_GUILESS_MAIN(TestConverter)
#include "test_converter.moc"
