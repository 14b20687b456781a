// Times the checks of a take's still, per still, at 1280x720 and 1920x1080:
// reading the bitmap, the levels and the thumbnail, the barcode decode
// alone, the whole still checker as the window runs it (one process that
// serves still after still), the same in a fresh process per still, and a
// process that does nothing (the floor of a process).
// usage: check_bench [RUNS]   (run with QT_QPA_PLATFORM=offscreen)
#include "label_picture.h"
#include "tools/still_check.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double medianMs(int runs, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void runProcess(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        qFatal("%s failed", qPrintable(program));
}

// One still's answer from a checker that serves.
void askServed(QProcess& checker, const QString& path)
{
    checker.write(
        QByteArray::fromStdString(still_check::request(QFile::encodeName(path).toStdString(), true)));
    QByteArray answer;
    while (still_check::answerEnd(answer.toStdString()) == std::string_view::npos) {
        if (!checker.waitForReadyRead(30000))
            qFatal("the checker did not answer");
        answer += checker.readAllStandardOutput();
    }
    if (!answer.contains("barcode "))
        qFatal("the served checker did not read the label");
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const QString checker = QStringLiteral(IMAGEMAKER_STILL_CHECKER);
    QTemporaryDir dir;
    std::printf("median of %d, ms per still    load  levels+thumb  decode  (no label)  served checker  "
                "process each  (empty process)\n",
        runs);
    for (const QSize size : { QSize(1280, 720), QSize(1920, 1080) }) {
        const QString path = dir.filePath("still.bmp");
        if (!scenePicture(labelled("00099999"), size).save(path, "BMP"))
            qFatal("cannot write the still");
        still_check::Grey grey;
        const double load = medianMs(runs, [&] { grey = still_check::loadGrey(path.toStdString()); });
        const double measure = medianMs(runs, [&] {
            const still_check::Levels levels = still_check::levels(grey);
            const std::vector<std::uint8_t> thumb = still_check::thumbnail(grey);
            if (levels.mean < 0 || thumb.empty())
                qFatal("no measure");
        });
        const double decode = medianMs(runs, [&] {
            if (still_check::barcodes(grey).empty())
                qFatal("the label was not read");
        });
        // A picture without a label: the decoder searches it all.
        const still_check::Grey bare = [&] {
            const QString none = dir.filePath("bare.bmp");
            if (!scenePicture(::bare(3), size).save(none, "BMP"))
                qFatal("cannot write the still");
            return still_check::loadGrey(none.toStdString());
        }();
        const double search = medianMs(runs, [&] {
            if (!still_check::barcodes(bare).empty())
                qFatal("a label where there is none");
        });
        QProcess serving;
        serving.start(checker, { QStringLiteral("--serve") });
        askServed(serving, path);
        const double served = medianMs(runs, [&] { askServed(serving, path); });
        serving.closeWriteChannel();
        serving.waitForFinished();
        const double whole = medianMs(runs, [&] {
            runProcess(checker, { QStringLiteral("--barcodes"), path });
        });
        const double empty = medianMs(runs, [&] { runProcess(QStringLiteral("/bin/true"), {}); });
        std::printf("%4dx%-4d %20.1f %13.1f %7.1f %11.1f %15.1f %13.1f %16.1f\n", size.width(), size.height(),
            load, measure, decode, search, served, whole, empty);
    }
    return 0;
}
