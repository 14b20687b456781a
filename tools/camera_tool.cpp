#include "tools/camera_tool.h"

#include "camera/camera_discovery.h"
#include "camera/camera_settings.h"

#include <stdexcept>

namespace {

constexpr const char* Usage = R"(usage: imagemaker-cameras [--settings FOLDER] list
       imagemaker-cameras [--settings FOLDER] show
       imagemaker-cameras [--settings FOLDER] set bottom|color IDENTITY
                          [--format CAPS] [--controls LIST] [--warmup N]
       imagemaker-cameras [--settings FOLDER] set bottom|color --source DESCRIPTION

  list   the video capture devices, in the order ImageMaker takes them when
         no settings name them: identity (USB port path), serial, node,
         name and every format and size each offers
  show   the settings file and what it says of each camera
  set    chooses the bottom (0) or colour (1) camera: IDENTITY is a port
         path from the list (or its /dev/v4l/by-path link) or a serial;
         --format asks a format and size ("image/jpeg,width=1280,height=720"),
         --controls fixes V4L2 controls at each start
         ("exposure_auto=1,exposure_absolute=250"), --warmup throws away N
         frames after each start; --source takes a whole GStreamer source
         description instead of a device

  --settings FOLDER  the folder of system-wide settings (default: the first
                     of $XDG_CONFIG_DIRS, else /etc/xdg)

Exit status: 0 done, 1 failed, 2 wrong usage.
)";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

QString take(QStringList& arguments, const char* what)
{
    if (arguments.isEmpty())
        throw UsageError(std::string(what) + " is missing");
    return arguments.takeFirst();
}

int list(QTextStream& out)
{
    const std::vector<camera::FoundCamera> found = camera::CameraDiscovery::list();
    if (found.empty()) {
        out << "No video capture device found.\n";
        return 0;
    }
    int position = 0;
    for (const camera::FoundCamera& camera : found) {
        out << position++ << ": " << camera.name << "\n";
        out << "   identity: " << camera.identity() << "\n";
        if (!camera.serial.isEmpty())
            out << "   serial:   " << camera.serial << "\n";
        if (!camera.node.isEmpty())
            out << "   node:     " << camera.node << "\n";
        for (const QString& format : camera.formats())
            out << "   format:   " << format << "\n";
    }
    return 0;
}

int show(const QString& file, QTextStream& out)
{
    out << "Settings file: " << file << "\n";
    const auto settings = camera::readCameraSettings(file);
    for (int index = 0; index < 2; ++index) {
        const camera::CameraSetting& s = settings[static_cast<size_t>(index)];
        out << (index == 0 ? "bottom (0): " : "color (1):  ");
        if (!s.source.isEmpty())
            out << "source " << s.source;
        else if (!s.identity.isEmpty())
            out << "identity " << s.identity;
        else
            out << "found at run time";
        if (!s.format.isEmpty())
            out << ", format " << s.format;
        if (!s.controls.isEmpty())
            out << ", controls " << s.controls;
        if (s.warmupFrames >= 0)
            out << ", warm-up " << s.warmupFrames << " frames";
        out << "\n";
    }
    return 0;
}

int set(QStringList arguments, const QString& file, QTextStream& out, QTextStream& err)
{
    const QString which = take(arguments, "bottom or color");
    if (which != QLatin1String("bottom") && which != QLatin1String("color"))
        throw UsageError("the camera is bottom or color, not \"" + which.toStdString() + "\"");
    const int index = which == QLatin1String("bottom") ? 0 : 1;
    camera::CameraSetting setting;
    if (!arguments.isEmpty() && !arguments.first().startsWith(QLatin1String("--")))
        setting.identity = arguments.takeFirst();
    while (!arguments.isEmpty()) {
        const QString option = arguments.takeFirst();
        if (option == QLatin1String("--source"))
            setting.source = take(arguments, "the source description");
        else if (option == QLatin1String("--format"))
            setting.format = take(arguments, "the format");
        else if (option == QLatin1String("--controls"))
            setting.controls = take(arguments, "the controls");
        else if (option == QLatin1String("--warmup")) {
            bool ok = false;
            setting.warmupFrames = take(arguments, "the number of frames").toInt(&ok);
            if (!ok || setting.warmupFrames < 0)
                throw UsageError("--warmup takes a number of frames");
        } else
            throw UsageError("unknown option " + option.toStdString());
    }
    if (setting.identity.isEmpty() == setting.source.isEmpty())
        throw UsageError("give either an IDENTITY or --source");
    if (!setting.identity.isEmpty()) {
        const std::vector<camera::FoundCamera> found = camera::CameraDiscovery::list();
        const auto it = std::find_if(found.begin(), found.end(),
            [&](const camera::FoundCamera& f) { return f.matches(setting.identity); });
        if (it == found.end()) {
            err << "imagemaker-cameras: no camera " << setting.identity
                << " is plugged in; \"imagemaker-cameras list\" shows the ones that are\n";
            return 1;
        }
    }
    camera::writeCameraSetting(file, index, setting);
    out << "The " << which << " camera is set in " << file << "; it applies when ImageMaker starts next.\n";
    return 0;
}

} // namespace

int runCameraTool(const QStringList& given, QTextStream& out, QTextStream& err)
{
    QStringList arguments = given;
    try {
        QString folder = camera::systemSettingsFolder();
        if (arguments.value(0) == QLatin1String("--settings")) {
            arguments.removeFirst();
            folder = take(arguments, "the settings folder");
        }
        const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
        const QString file = camera::settingsFile(folder, camera::ControlSettingsKey);
        if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
            out << Usage;
            return 0;
        }
        if (command == QLatin1String("list") && arguments.isEmpty())
            return list(out);
        if (command == QLatin1String("show") && arguments.isEmpty())
            return show(file, out);
        if (command == QLatin1String("set"))
            return set(arguments, file, out, err);
        throw UsageError(command.isEmpty() ? "no command given" : "unknown command " + command.toStdString());
    } catch (const UsageError& error) {
        err << "imagemaker-cameras: " << error.what() << "\n" << Usage;
        return 2;
    } catch (const std::exception& error) {
        err << "imagemaker-cameras: " << error.what() << "\n";
        return 1;
    }
}
