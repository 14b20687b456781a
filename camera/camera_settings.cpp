#include "camera/camera_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

#include <stdexcept>

namespace camera {

namespace {

QString groupOf(int index)
{
    return QStringLiteral("camera") + QString::number(index);
}

// An INI value with commas comes back as a list: caps and controls have them.
QString text(const QSettings& settings, const QString& key)
{
    const QVariant value = settings.value(key);
    return value.userType() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(','))
                                                      : value.toString().trimmed();
}

} // namespace

QString settingsFile(const QString& folder, const QString& settingsKey)
{
    QStringList parts = settingsKey.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    // The hive and "Software" say where the key lives, not what it is.
    if (!parts.isEmpty() && parts.first().startsWith(QStringLiteral("HKEY_"), Qt::CaseInsensitive))
        parts.removeFirst();
    if (!parts.isEmpty() && parts.first().compare(QStringLiteral("Software"), Qt::CaseInsensitive) == 0)
        parts.removeFirst();
    return folder + QLatin1Char('/') + parts.join(QLatin1Char('/')) + QStringLiteral(".conf");
}

QStringList systemSettingsFolders()
{
    // Empty entries are no folder; an empty list means the default.
    const QStringList folders
        = qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return folders.isEmpty() ? QStringList { QStringLiteral("/etc/xdg") } : folders;
}

QString findSettingsFile(const QStringList& folders, const QString& settingsKey)
{
    for (const QString& folder : folders) {
        const QString file = settingsFile(folder, settingsKey);
        if (QFileInfo::exists(file))
            return file;
    }
    return folders.isEmpty() ? QString() : settingsFile(folders.first(), settingsKey);
}

std::array<CameraSetting, 2> readCameraSettings(const QString& file)
{
    std::array<CameraSetting, 2> result;
    if (!QFileInfo::exists(file))
        return result;
    QSettings settings(file, QSettings::IniFormat);
    for (int index = 0; index < 2; ++index) {
        settings.beginGroup(groupOf(index));
        CameraSetting& setting = result[static_cast<size_t>(index)];
        setting.source = text(settings, QStringLiteral("source"));
        setting.identity = text(settings, QStringLiteral("identity"));
        setting.format = text(settings, QStringLiteral("format"));
        setting.controls = text(settings, QStringLiteral("controls"));
        bool ok = false;
        const int warmup = settings.value(QStringLiteral("warmup_frames")).toInt(&ok);
        setting.warmupFrames = ok && warmup >= 0 ? warmup : -1;
        settings.endGroup();
    }
    return result;
}

void writeCameraSetting(const QString& file, int index, const CameraSetting& setting)
{
    if (!QDir().mkpath(QFileInfo(file).path()))
        throw std::runtime_error("cannot create the folder of " + file.toStdString());
    QSettings settings(file, QSettings::IniFormat);
    settings.remove(groupOf(index));
    settings.beginGroup(groupOf(index));
    const std::pair<const char*, QString> fields[] = { { "source", setting.source },
        { "identity", setting.identity }, { "format", setting.format }, { "controls", setting.controls } };
    for (const auto& [key, value] : fields)
        if (!value.isEmpty())
            settings.setValue(QLatin1String(key), value);
    if (setting.warmupFrames >= 0)
        settings.setValue(QStringLiteral("warmup_frames"), setting.warmupFrames);
    settings.endGroup();
    // Written whole to a temporary file, then renamed.
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw std::runtime_error("cannot write " + file.toStdString());
}

} // namespace camera
