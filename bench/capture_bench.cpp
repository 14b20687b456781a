// Times the cameras and the capture sequence in this build's configuration.
// usage: capture_bench [RUNS] [CHAIN] [WIDTHxHEIGHT [mjpeg]]   (run with QT_QPA_PLATFORM=offscreen)
// Without a size the build's cameras are used; with one, two test sources of
// that size; with mjpeg, two cameras sending pre-encoded MJPEG frames at
// 30 fps, as USB cameras do, beside gst-launch-1.0 decoding the same two.
#include "camera/gst_camera.h"
#include "camera/live_view.h"
#include "capture_window/capture_window.h"
#include "image_store/share_still_writer.h"
#include "uvc_source.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct Stats {
    double median, max;
};
Stats stats(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return { v[v.size() / 2], v.back() };
}

// CPU seconds of this process, or of its children that have ended.
double cpuSeconds(int who = RUSAGE_SELF)
{
    rusage u {};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long rssKb()
{
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

int countEntries(const char* folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size();
}

class BenchPrompts final : public Prompts {
public:
    int yesLeft = 0;
    void showMessage(QWidget*, const QString& text, const QString&) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    Answer askYesNo(QWidget*, const QString& text, const QString&, bool) override
    {
        // Auto increment is always accepted; "Take picture now?" while the chain lasts.
        if (text.startsWith("Auto"))
            return { true, {} };
        return { yesLeft-- > 0, {} };
    }
    void addToOpenQuestion(const QString&) override { }
};

// What the capture action cannot do without: a raw write of a bitmap's bytes
// to a temporary in the same folder and its rename, then the start of the
// converter (a run that only prints its usage).
double rawWriteMs(const QString& folder, qsizetype bytes)
{
    static const QByteArray data(bytes, '\x55');
    const QByteArray temp = QFile::encodeName(folder + "/.floor.bmp.part");
    const QByteArray target = QFile::encodeName(folder + "/floor.bmp");
    QElapsedTimer t;
    t.start();
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0 || ::write(fd, data.constData(), size_t(data.size())) != data.size())
        std::perror("floor write");
    ::close(fd);
    ::rename(temp.constData(), target.constData());
    return t.nsecsElapsed() / 1e6;
}

double spawnMs(const QString& program)
{
    const QByteArray path = QFile::encodeName(program);
    char* argv[] = { const_cast<char*>(path.constData()), nullptr };
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    QElapsedTimer t;
    t.start();
    pid_t pid = 0;
    posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
    const double ms = t.nsecsElapsed() / 1e6;
    posix_spawn_file_actions_destroy(&actions);
    ::waitpid(pid, nullptr, 0);
    return ms;
}

// Two cameras' MJPEG streams: 30 frames each, encoded once and sent in
// turn at 30 fps by a source that streams as a USB camera does.
struct MjpegFrames {
    QTemporaryDir dir;
    int width = 0;
    int height = 0;
    bool made = false;

    MjpegFrames(int w, int h)
        : width(w)
        , height(h)
    {
        uvc_source::registerElement();
        for (int camera : { 0, 1 }) {
            const QStringList pipeline { "-q", "videotestsrc", "num-buffers=30",
                QStringLiteral("pattern=") + (camera == 0 ? "ball" : "smpte"), "!",
                QString("video/x-raw,width=%1,height=%2").arg(width).arg(height), "!", "jpegenc", "!",
                "multifilesink", "location=" + pattern(camera) };
            if (QProcess::execute("gst-launch-1.0", pipeline) != 0)
                return;
        }
        made = true;
    }
    QString pattern(int camera) const
    {
        return dir.path() + "/camera" + QString::number(camera) + "-%02d.jpg";
    }
    std::string source(int camera) const
    {
        return QString("imagemakeruvcsrc camera=%1 modes=\"image/jpeg,width=%2,height=%3,framerate=30/1\" "
                       "frames=")
                   .arg(camera)
                   .arg(width)
                   .arg(height)
                   .toStdString()
            + pattern(camera).toStdString() + " ! image/jpeg";
    }
    // gst-launch-1.0 decoding and converting the same frames into fakesinks,
    // paced at 30 fps, for `seconds`: its CPU as a share of one core.
    double peerCpu(int seconds) const
    {
        QStringList arguments { "-q" };
        for (int camera : { 0, 1 })
            arguments << "multifilesrc"
                      << "location=" + pattern(camera) << "index=0"
                      << "stop-index=29"
                      << "loop=true"
                      << "num-buffers=" + QString::number(seconds * 30) << "caps=image/jpeg,framerate=30/1"
                      << "!"
                      << "jpegdec"
                      << "!"
                      << "videoconvert"
                      << "!"
                      << "video/x-raw,format=BGRx"
                      << "!"
                      << "fakesink"
                      << "sync=true";
        const double before = cpuSeconds(RUSAGE_CHILDREN);
        QElapsedTimer t;
        t.start();
        QProcess::execute("gst-launch-1.0", arguments);
        return (cpuSeconds(RUSAGE_CHILDREN) - before) / (t.nsecsElapsed() / 1e9);
    }
};

std::unique_ptr<MjpegFrames> mjpegFrames;

std::array<camera::CameraSource, 2> sourcesOfSize(const char* size)
{
    if (!size)
        return camera::GstCamera::buildSources();
    if (mjpegFrames)
        return { camera::CameraSource { mjpegFrames->source(0) },
            camera::CameraSource { mjpegFrames->source(1) } };
    int width = 0, height = 0;
    std::sscanf(size, "%dx%d", &width, &height);
    const std::string caps = " ! video/x-raw,width=" + std::to_string(width)
        + ",height=" + std::to_string(height) + ",framerate=30/1";
    return { camera::CameraSource { "videotestsrc is-live=true pattern=ball" + caps },
        camera::CameraSource { "videotestsrc is-live=true pattern=smpte ! timeoverlay" + caps } };
}

// A key comes at any moment between two frames; the event loop, woken by
// each frame, would otherwise fire the bench's timers just after one.
void atRandomPhase()
{
    static std::mt19937 random(20261210);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 33333));
}

// Runs the event loop for a while without busy waiting.
// A benchmark may wait where the program never does.
void settleNow(const std::function<void(image_store::ShareWorker::Done)>& request)
{
    bool done = false;
    request([&done](std::exception_ptr) { done = true; });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Until the flow waits for the operator.
void untilIdle(const Form_ImageMaker& window)
{
    while (window.flow().state() != CaptureFlow::State::Idle)
        spin(2);
}

// Arms `number`, answering "Take picture now?" as the prompts are set to.
void arm(Form_ImageMaker& window, const QString& number)
{
    untilIdle(window);
    window.scanDialog().setNumberText(number);
    window.AcceptSampleNumber();
    untilIdle(window);
}

// The bench's share: a temporary folder with the converter in place.
struct BenchShare {
    QTemporaryDir dir;
    image_store::ShareMap map { "labfs01", dir.path() };
    QString samples = dir.path() + "/virtual_directories/IMG_SAMPLES/QORVEL";
    QString still = "\\\\labfs01\\virtual_directories\\IMG_SAMPLES\\QORVEL\\still.bmp";

    BenchShare()
    {
        QDir().mkpath(samples + "/imgconv32");
        QFile::copy(IMAGEMAKER_CONVERTER_PATH, samples + "/imgconv32/imgcon32.exe");
        QFile::setPermissions(samples + "/imgconv32/imgcon32.exe", QFile::ReadOwner | QFile::ExeOwner);
    }
};

// CPU of the process, as a share of one core, over `ms` of the event loop.
double cpuShareOver(int ms)
{
    const double cpu0 = cpuSeconds();
    QElapsedTimer t;
    t.start();
    spin(ms);
    return (cpuSeconds() - cpu0) / (t.nsecsElapsed() / 1e9);
}

struct CameraTimes {
    std::vector<double> select, save, sequence;
};

// Save, switch, save, switch, as the capture does, `runs` times.
CameraTimes timeCameraOperations(
    camera::LiveCamera& live, image_store::ShareStillWriter& stills, const QString& still, int runs)
{
    CameraTimes times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        QString path = still;
        QElapsedTimer s;
        s.start();
        live.SaveStill(0, 24, path, "");
        times.save.push_back(s.nsecsElapsed() / 1e6);
        s.restart();
        live.SelectCamera(0);
        times.select.push_back(s.nsecsElapsed() / 1e6);
        live.SaveStill(0, 24, path, "");
        live.SelectCamera(1);
        times.sequence.push_back(t.nsecsElapsed() / 1e6);
        settleNow([&](image_store::ShareWorker::Done done) { stills.settle(std::move(done)); });
        spin(30);
    }
    return times;
}

// The camera operations alone, and what the cameras and the view cost idle.
void benchCameras(BenchShare& share, const char* size, int runs)
{
    image_store::ShareWorker worker;
    image_store::ShareStillWriter stills(share.map, worker);
    camera::GstCamera cam(sourcesOfSize(size), stills);
    camera::LiveView view;
    view.resize(321, 241);
    view.show();
    cam.attachView(&view);
    camera::LiveCamera live(cam);
    std::int32_t status = 0;
    live.StartControl(status);
    live.SelectCamera(0);
    live.SelectCamera(1);
    spin(500);
    const CameraTimes times = timeCameraOperations(live, stills, share.still, runs);
    const quint64 frames0 = view.framesShown();
    QElapsedTimer idle;
    idle.start();
    const double showing = cpuShareOver(5000);
    const double fps = (view.framesShown() - frames0) / (idle.nsecsElapsed() / 1e9);
    // The same with the view frozen: what the cameras cost without it.
    live.StartupSwitch(0);
    const double camerasOnly = cpuShareOver(5000);
    std::printf("cameras (%d runs)\n", runs);
    for (const auto& [name, values] : { std::pair { "SelectCamera switch     ", &times.select },
             std::pair { "SaveStill               ", &times.save },
             std::pair { "save,switch,save,switch ", &times.sequence } }) {
        const auto [median, max] = stats(*values);
        std::printf("  %s median %6.1f ms  max %6.1f ms\n", name, median, max);
    }
    std::printf("  idle, view showing       %.1f%% of one core, %.1f frames/s shown\n", showing * 100, fps);
    std::printf("  idle, view frozen        %.1f%% of one core (so the view costs %.1f%%)\n",
        camerasOnly * 100, (showing - camerasOnly) * 100);
    if (mjpegFrames) {
        live.StartupSwitch(-1);
        const double peer = mjpegFrames->peerCpu(5);
        std::printf("  gst-launch-1.0 decoding both streams into fakesinks: %.1f%% of one core; "
                    "view showing / gst-launch %.2f\n",
            peer * 100, showing / peer);
    }
}

// A capture's program and the floor it is measured against.
struct Bench {
    BenchShare& share;
    camera::GstCamera& cam;
    image_store::ImageStore& store;
    BenchPrompts& prompts;
    Form_ImageMaker& window;
    int shown = 0;

    // From the click to the end of the capture action, and to both pictures shown.
    std::pair<double, double> timeCapture(int i)
    {
        prompts.yesLeft = 0;
        arm(window, QString::number(10000000 + i));
        shown = 0;
        atRandomPhase();
        QElapsedTimer t;
        t.start();
        // The capture action lasts until its take is over and its converters run.
        double action = 0;
        const QMetaObject::Connection ended
            = QObject::connect(&window.flow(), &CaptureFlow::stateEntered, [&] {
                  if (action == 0 && !window.flow().busy())
                      action = t.nsecsElapsed() / 1e6;
              });
        window.findChild<QPushButton*>("cmd_capture")->click();
        QEventLoop loop;
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        QObject::connect(&window, &Form_ImageMaker::pictureShown, &loop, [&] {
            if (shown >= 2)
                loop.quit();
        });
        if (shown < 2)
            loop.exec();
        QObject::disconnect(ended);
        return { action, t.nsecsElapsed() / 1e6 };
    }

    // The floor, in the same run: one frame wait (a still handed to the
    // writer returns once it has its frame), the raw writes of both
    // bitmaps' bytes, and the two converter starts.
    std::pair<double, double> timeFloor()
    {
        camera::LiveCamera live(cam);
        QString path = share.still;
        atRandomPhase();
        QElapsedTimer f;
        f.start();
        live.SaveStill(0, 24, path, "");
        const double frames = f.nsecsElapsed() / 1e6;
        settleNow([&](image_store::ShareWorker::Done done) { store.settleStills(std::move(done)); });
        const qsizetype bytes = QFileInfo(share.samples + "/still.bmp").size();
        const double writes = rawWriteMs(share.samples, bytes) + rawWriteMs(share.samples, bytes);
        const double spawns = spawnMs(share.samples + "/imgconv32/imgcon32.exe") * 2;
        return { frames, frames + writes + spawns };
    }
};

void benchCaptures(Bench& bench, int runs)
{
    std::vector<double> views, toShown, floors, frameWaits;
    for (int i = 0; i < std::max(20, runs); ++i) {
        const auto [action, shown] = bench.timeCapture(i);
        views.push_back(action);
        toShown.push_back(shown);
        spin(50);
        const auto [frames, floor] = bench.timeFloor();
        frameWaits.push_back(frames);
        floors.push_back(floor);
        spin(50);
    }
    const auto [vMed, vMax] = stats(views);
    const auto [sMed, sMax] = stats(toShown);
    const auto [fMed, fMax] = stats(floors);
    const auto [wMed, wMax] = stats(frameWaits);
    std::printf("capture (%zu captures)\n", views.size());
    std::printf("  capture action (stills, launches)   median %6.1f ms  max %6.1f ms\n", vMed, vMax);
    std::printf(
        "  floor (frame waits, raw writes, spawns) median %6.1f ms  max %6.1f ms  (action/floor %.2f)\n",
        fMed, fMax, vMed / fMed);
    std::printf("    of which one frame wait           median %6.1f ms  max %6.1f ms\n", wMed, wMax);
    std::printf("  action start to both pictures shown median %6.1f ms  max %6.1f ms\n", sMed, sMax);
}

// A chain of captures answered Yes, Yes, ...
void benchChain(Bench& bench, int chain)
{
    std::printf("chained captures: count, RSS kB, open fds, threads\n");
    bench.prompts.yesLeft = 0;
    arm(bench.window, "20000000");
    int done = 0;
    for (int target : { 10, 100, chain }) {
        if (target <= done)
            continue;
        bench.prompts.yesLeft = target - done - 1;
        bench.window.findChild<QPushButton*>("cmd_capture")->click();
        done = target;
        spin(1000);
        std::printf("  %5d  %8ld  %4d  %4d\n", done, rssKb(), countEntries("/proc/self/fd"),
            countEntries("/proc/self/task"));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int runs = argc > 1 ? atoi(argv[1]) : 30;
    const int chain = argc > 2 ? atoi(argv[2]) : 500;
    const char* size = argc > 3 ? argv[3] : nullptr;
    if (size && argc > 4 && QByteArray(argv[4]) == "mjpeg") {
        int width = 0, height = 0;
        std::sscanf(size, "%dx%d", &width, &height);
        mjpegFrames = std::make_unique<MjpegFrames>(width, height);
        if (!mjpegFrames->made) {
            std::fprintf(stderr, "the MJPEG frames cannot be made with gst-launch-1.0\n");
            return 1;
        }
    }

    BenchShare share;
    benchCameras(share, size, runs);

    image_store::ShareWorker shareWorker;
    image_store::SpawnLauncher launcher(share.map);
    image_store::ImageStore store(share.map, launcher, shareWorker);
    camera::GstCamera cam(sourcesOfSize(size), store.stills());
    BenchPrompts prompts;
    ScanCollector scans;
    Form_ImageMaker window(CaptureWindowServices { cam, store, prompts, scans });
    window.show();
    // Armed before the start-up check, so the scan dialog stays closed.
    arm(window, "09999999");
    spin(1500);
    Bench bench { share, cam, store, prompts, window };
    QObject::connect(&window, &Form_ImageMaker::pictureShown, [&bench] { ++bench.shown; });
    benchCaptures(bench, runs);
    benchChain(bench, chain);
    return 0;
}
