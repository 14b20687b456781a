#pragma once

#include "camera/camera_control.h"

#include <QString>
#include <QStringList>

#include <array>
#include <stdexcept>

namespace camera {

// What the bench's settings say of one camera (0 bottom, 1 colour). Every
// field may be empty; an empty one leaves the choice to the build or to
// discovery.
struct CameraSetting {
    // A whole GStreamer source description: a network camera, a test source.
    QString source;
    // The camera's USB port path, as /dev/v4l/by-path names it (without
    // "-video-index0"), or its serial: what finds it again after a replug.
    QString identity;
    // Format and size asked of it, as caps: "image/jpeg,width=1280,height=720".
    QString format;
    // V4L2 controls fixed at each start: "exposure_auto=1,exposure_absolute=250".
    QString controls;
    int warmupFrames = -1; // -1: not set
};

// The settings file of a settings key under a folder of system-wide
// settings, where QSettings keeps it: for the control's key, under /etc/xdg,
// /etc/xdg/SampleCams/LiveVideo.conf (the hive and "Software" are dropped).
QString settingsFile(const QString& folder, const QString& settingsKey);
// The folders of system-wide settings, most important first: those of
// $XDG_CONFIG_DIRS, else /etc/xdg.
QStringList systemSettingsFolders();
// The settings file of the key in the first of `folders` that holds one;
// where none does, where the first would hold it.
QString findSettingsFile(const QStringList& folders, const QString& settingsKey);

// A settings file that is there but cannot be used: unreadable, not a
// regular file, not an INI file, or a value out of range.
class SettingsError : public std::runtime_error {
public:
    // `detail` (the system's words) goes to the log only.
    SettingsError(const QString& file, int line, const QString& reason, const QString& detail = {});
    const QString& file() const { return m_file; }
    // 0 when the fault is the file's, not a line's.
    int line() const { return m_line; }
    const QString& reason() const { return m_reason; }
    // What the operator and the administrator read.
    QString operatorText() const;

private:
    QString m_file;
    int m_line;
    QString m_reason;
};

// warmup_frames is at most this: a minute of frames at 30 fps.
inline constexpr int MaxWarmupFrames = 1800;

// A missing file or missing keys give empty settings. Throws SettingsError
// for a file that is there but cannot be used; a FIFO or a device is never
// opened.
std::array<CameraSetting, 2> readCameraSettings(const QString& file);
// Replaces camera `index`'s settings, keeping the other's. Throws
// std::runtime_error when the file cannot be written.
void writeCameraSetting(const QString& file, int index, const CameraSetting& setting);

} // namespace camera
