#include "tools/camera_tool.h"

#include "camera/camera_discovery.h"
#include "build_config.h"
#include "camera/camera_settings.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <algorithm>

#include <stdexcept>

namespace {

constexpr const char* Usage = R"(usage: imagemaker-cameras [--settings FOLDER] list
       imagemaker-cameras [--settings FOLDER] show
       imagemaker-cameras [--settings FOLDER] set bottom|color IDENTITY
                          [--format CAPS] [--controls LIST] [--warmup N]
       imagemaker-cameras [--settings FOLDER] set bottom|color --source DESCRIPTION
       imagemaker-cameras --help | --version

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
                     of $XDG_CONFIG_DIRS that holds SampleCams/LiveVideo.conf,
                     else the first of them, else /etc/xdg)

Options may stand anywhere, as --option VALUE or --option=VALUE.
Exit status: 0 done, 1 failed, 2 wrong usage.
)";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

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
        // The mode the program streams it in when the settings ask for none.
        const std::vector<camera::CameraMode> modes = camera::modesToTry(camera.modes());
        const QString chosen = modes.empty() ? QString() : QString::fromStdString(modes.front().describe());
        for (const QString& format : camera.formats()) {
            out << "   format:   " << format;
            if (chosen.startsWith(format + " at "))
                out << "   <- chosen" << chosen.mid(format.size());
            out << "\n";
        }
    }
    return 0;
}

int show(const QString& file, QTextStream& out)
{
    out << "Settings file: " << file << "\n";
    if (!QFileInfo::exists(file)) {
        out << "no settings file: cameras are taken in port order\n";
        return 0;
    }
    std::array<camera::CameraSetting, 2> settings;
    try {
        settings = camera::readCameraSettings(file);
    } catch (const camera::SettingsError& error) {
        out << error.operatorText() << "\n";
        return 1;
    }
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

// The command line, as parsed.
struct Options {
    QCommandLineParser parser;
    QCommandLineOption settings { "settings", "", "FOLDER" };
    QCommandLineOption source { "source", "", "DESCRIPTION" };
    QCommandLineOption format { "format", "", "CAPS" };
    QCommandLineOption controls { "controls", "", "LIST" };
    QCommandLineOption warmup { "warmup", "", "N" };
    QCommandLineOption help { { "h", "help" }, "" };
    QCommandLineOption version { "version", "" };

    explicit Options(const QStringList& arguments)
    {
        parser.addOptions({ settings, source, format, controls, warmup, help, version });
        // The program's name first, as the parser expects it.
        if (!parser.parse(QStringList { QStringLiteral("imagemaker-cameras") } + arguments))
            throw UsageError(parser.errorText().toStdString());
    }
    bool anyOf(const std::initializer_list<const QCommandLineOption*>& options) const
    {
        return std::any_of(options.begin(), options.end(), [this](auto* o) { return parser.isSet(*o); });
    }
};

camera::CameraSetting settingFrom(const Options& options, const QStringList& words)
{
    camera::CameraSetting setting;
    setting.identity = words.value(2);
    setting.source = options.parser.value(options.source);
    setting.format = options.parser.value(options.format);
    setting.controls = options.parser.value(options.controls);
    if (options.parser.isSet(options.warmup)) {
        bool ok = false;
        setting.warmupFrames = options.parser.value(options.warmup).toInt(&ok);
        if (!ok || setting.warmupFrames < 0)
            throw UsageError("--warmup takes a number of frames");
    }
    if (words.size() > 3)
        throw UsageError("unexpected \"" + words.mid(3).join(' ').toStdString() + "\"");
    if (setting.identity.isEmpty() == setting.source.isEmpty())
        throw UsageError("give either an IDENTITY or --source");
    return setting;
}

int set(
    const Options& options, const QStringList& words, const QString& file, QTextStream& out, QTextStream& err)
{
    const QString which = words.value(1);
    if (which != QLatin1String("bottom") && which != QLatin1String("color"))
        throw UsageError(which.isEmpty()
                ? std::string("bottom or color is missing")
                : "the camera is bottom or color, not \"" + which.toStdString() + "\"");
    const camera::CameraSetting setting = settingFrom(options, words);
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
    camera::writeCameraSetting(file, which == QLatin1String("bottom") ? 0 : 1, setting);
    out << "The " << which << " camera is set in " << file << "; it applies when ImageMaker starts next.\n";
    return 0;
}

int runCommand(const Options& options, QTextStream& out, QTextStream& err)
{
    if (options.parser.isSet(options.help)) {
        out << Usage;
        return 0;
    }
    if (options.parser.isSet(options.version)) {
        out << "imagemaker-cameras "
            << QString::fromUtf8(buildconfig::Version.data(), qsizetype(buildconfig::Version.size())) << "\n";
        return 0;
    }
    const QStringList words = options.parser.positionalArguments();
    const QString command = words.value(0);
    const QString file = options.parser.isSet(options.settings)
        ? camera::settingsFile(options.parser.value(options.settings), camera::ControlSettingsKey)
        : camera::findSettingsFile(camera::systemSettingsFolders(), camera::ControlSettingsKey);
    const bool setOptions
        = options.anyOf({ &options.source, &options.format, &options.controls, &options.warmup });
    if (command == QLatin1String("set"))
        return set(options, words, file, out, err);
    if (words.size() > 1 || setOptions)
        throw UsageError("\"" + command.toStdString() + "\" takes no more arguments");
    if (command == QLatin1String("list"))
        return list(out);
    if (command == QLatin1String("show"))
        return show(file, out);
    throw UsageError(command.isEmpty() ? "no command given" : "unknown command " + command.toStdString());
}

} // namespace

int runCameraTool(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    try {
        const Options options(arguments);
        return runCommand(options, out, err);
    } catch (const UsageError& error) {
        err << "imagemaker-cameras: " << error.what() << "\n" << Usage;
        return 2;
    } catch (const std::exception& error) {
        err << "imagemaker-cameras: " << error.what() << "\n";
        return 1;
    }
}
