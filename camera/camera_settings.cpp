#include "camera/camera_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringDecoder>
#include <QStringList>

#include <optional>
#include <stdexcept>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>

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

constexpr qint64 MaxSettingsBytes = 1 << 20;

QString withoutQuotes(QString value)
{
    value = value.trimmed();
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
        value = value.mid(1, value.size() - 2).trimmed();
    return value;
}

QString unreadable(int error)
{
    return error == EACCES || error == EPERM ? QStringLiteral("the program may not read it")
                                             : QStringLiteral("it cannot be read");
}

// The file's text, read only if it is a regular file this process may read;
// nothing when there is no file. Opened without blocking and checked once
// open: a FIFO never hangs the program.
std::optional<QByteArray> readSettingsText(const QString& file)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT)
            return std::nullopt;
        throw SettingsError(file, 0, unreadable(error), qt_error_string(error));
    }
    QFile in;
    in.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    struct stat status { };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        throw SettingsError(file, 0, QStringLiteral("it is not a regular file"));
    if (status.st_size > MaxSettingsBytes)
        throw SettingsError(file, 0, QStringLiteral("it is too large to be a settings file"));
    const QByteArray text = in.read(MaxSettingsBytes);
    if (in.error() != QFileDevice::NoError)
        throw SettingsError(file, 0, QStringLiteral("it cannot be read"), in.errorString());
    return text;
}

// The INI structure QSettings would pass over in silence, line by line.
void checkSettingsText(const QString& file, const QByteArray& bytes)
{
    QString group;
    int number = 0;
    for (const QByteArray& raw : bytes.split('\n')) {
        ++number;
        if (raw.contains('\0'))
            throw SettingsError(file, number, QStringLiteral("it is not text"));
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString line = QString(utf8(raw)).trimmed();
        if (utf8.hasError())
            throw SettingsError(file, number, QStringLiteral("it is not text"));
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']')))
                throw SettingsError(file, number, QStringLiteral("the section name has no closing ]"));
            group = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            throw SettingsError(file, number, QStringLiteral("it is not a \"key=value\" line"));
        const QString key = line.left(equals).trimmed();
        if (key != QLatin1String("warmup_frames") || !group.startsWith(QLatin1String("camera")))
            continue;
        // A comment after an unquoted value is no part of it.
        QString value = line.mid(equals + 1);
        if (!value.trimmed().startsWith(QLatin1Char('"')))
            value = value.section(QLatin1Char(';'), 0, 0);
        bool ok = false;
        const int frames = withoutQuotes(value).toInt(&ok);
        if (!ok || frames < 0 || frames > MaxWarmupFrames)
            throw SettingsError(file, number,
                QStringLiteral("warmup_frames must be a whole number from 0 to %1").arg(MaxWarmupFrames));
    }
}

} // namespace

SettingsError::SettingsError(const QString& file, int line, const QString& reason, const QString& detail)
    : std::runtime_error(
        (file + (line > 0 ? QStringLiteral(" line %1").arg(line) : QString()) + QStringLiteral(": ") + reason
            + (detail.isEmpty() ? QString() : QStringLiteral(" (") + detail + ')'))
            .toStdString())
    , m_file(file)
    , m_line(line)
    , m_reason(reason)
{
}

QString SettingsError::operatorText() const
{
    const QString where = m_line > 0 ? QStringLiteral("line %1: ").arg(m_line) : QString();
    return QStringLiteral("Camera settings in ") + m_file + QStringLiteral(" cannot be used: ") + where
        + m_reason + QStringLiteral("; the cameras were taken in port order");
}

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
    const std::optional<QByteArray> contents = readSettingsText(file);
    if (!contents)
        return result;
    checkSettingsText(file, *contents);
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
