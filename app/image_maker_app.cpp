#include "app/image_maker_app.h"

#include "app/command_line.h"
#include "app/log_output.h"

#include "camera/camera_settings.h"
#include "camera/gst_camera.h"
#include "capture_window/artwork.h"
#include "capture_window/capture_window.h"
#include "capture_window/picture_checks.h"
#include "capture_window/prompts.h"
#include "image_store/image_store.h"
#include "scan_dialog/scan_collector.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

#include <csignal>

int runImageMaker(int argc, char** argv)
{
    // A write beyond a file-size limit fails with an error the capture
    // reports, instead of killing the program.
    std::signal(SIGXFSZ, SIG_IGN);
    log_output::install();
    {
        // Answered before any window system is needed.
        const QCoreApplication commandLine(argc, argv);
        QTextStream out(stdout);
        QTextStream err(stderr);
        if (const std::optional<int> status = answerCommandLine(QCoreApplication::arguments(), out, err))
            return *status;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(ApplicationTitle);
    // Docks and task switchers find the window's icon and name by this entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.imagemaker"));
    QApplication::setWindowIcon(artwork::programIcon());

    const image_store::ShareMap share = image_store::ShareMap::fromBuild();
    image_store::ShareWorker shareWorker;
    image_store::SpawnLauncher launcher(share);
    image_store::ImageStore store(share, launcher, shareWorker);
    // The helper programs installed with this one.
    const auto installed = [](const char* name) {
        return QDir::cleanPath(
            QApplication::applicationDirPath() + QStringLiteral("/../lib/imagemaker/") + QLatin1String(name));
    };
    // The converter installed with the program, never one from the share:
    // that may be built for another system, on a noexec mount, or writable
    // by any operator.
    launcher.runInstead(store.converterProgram(), installed("imgcon32.exe"));
    camera::GstCamera camera(camera::GstCamera::buildSources(), store.stills());
    const QStringList settingsFolders = camera::systemSettingsFolders();
    camera.readSettingsFrom(settingsFolders);
    ScanCollector scans;
    MessageBoxPrompts prompts(scans);

    PictureChecks checks(installed("imagemaker-still-check"),
        CheckSettings::read(camera::findSettingsFile(settingsFolders, camera::ControlSettingsKey)));

    CaptureWindowServices services { camera, store, prompts, scans };
    services.checks = &checks;
    Form_ImageMaker window(std::move(services));
    window.show();
    // Said once, over the window, before the scan dialog opens.
    if (const QString problem = camera.settingsProblem(); !problem.isEmpty())
        QTimer::singleShot(
            0, &window, [&window, &prompts, problem] { prompts.showMessage(&window, problem); });
    return application.exec();
}
