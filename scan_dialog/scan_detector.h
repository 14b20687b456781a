#pragma once

#include <QString>
#include <QtGlobal>

class QKeyEvent;

// A sample number is this many digits, whatever reads it.
inline constexpr int SampleNumberLength = 8;

// The one rule of what a scan is, for every window that takes keys. A
// scanner types a burst of digits faster than any person (its keys come at
// most ScannerGapMs apart), maybe led by a symbology prefix ("]C1", "]E0")
// and ended by its suffix: Enter, Tab, or CR+LF (two Enters); one set to no
// suffix ends with a pause. What belongs to a scan but is not its digits or
// its end (the prefix, a CR+LF's second half, a Tab after its Enter) and
// every repeat of a held Enter, Space or Tab presses nothing. Keys without a time stamp
// (made by a program, not a keyboard) count as typed by a person. One
// instance sees every key the program gets: what one window's keys began,
// another's may end.
class ScanDetector {
public:
    static constexpr int ScannerGapMs = 50;
    // A burst with no suffix ends this long after its last key.
    static constexpr int PauseMs = 300;
    // A scanner's keys on a busy machine may come this far apart, once;
    // no person types a digit and then scans that soon.
    static constexpr int StutterMs = 150;
    // An Enter or Tab this soon after a scan's end is the rest of its suffix.
    static constexpr int SuffixMs = 150;
    // The AIM symbology identifier some scanners send first: "]" and two
    // characters.
    static constexpr int PrefixLength = 3;
    static bool startsPrefix(const QString& text) { return text == QLatin1String("]"); }
    // Digits at a scanner's pace that make a burst a scan: a typist's keys
    // rolling over make two or three.
    static constexpr int MinScanDigits = 4;

    // How the platform tells a held key's repeats: flagged by Qt, or (X)
    // only as a release and a press with one time stamp.
    enum class Repeats { Flagged, Paired };
    explicit ScanDetector(Repeats repeats = Repeats::Flagged)
        : m_repeats(repeats)
    {
    }

    enum class Kind {
        Digit, // one digit, typed or scanned
        End, // Enter, or a scanner's Tab: ends the digits before it
        Ignored, // part of a scan that is not its digits or its end, or a repeat: press nothing
        Other, // any other key, left to whoever gets it
    };

    // Each key press and release the program gets; releases tell repeats
    // apart. A press seen again with no release between (one event handed
    // on from a window to its child) is the same key, told the same.
    Kind see(const QKeyEvent& key);
    // Whether the last key came soon enough after the one before to belong
    // to the same burst, or came without a time to tell.
    bool continuesBurst() const { return m_continues; }
    // Whether the last key came within StutterMs of the one before.
    bool stuttered() const { return m_stuttered; }
    // Whether digits are coming at a scanner's pace: a pause, not a person's
    // slowness, then ends them.
    bool scanning() const { return m_burstDigits >= MinScanDigits; }
    // Digits in the burst so far: at MinScanDigits, a scan has begun, and
    // digits a person typed before it are no part of it.
    int burstLength() const { return m_burstDigits; }
    // Whether the last End ended digits typed at a scanner's pace: the end
    // of a scan, never a person's answer, wherever its digits went.
    bool endedScan() const { return m_lastKind == Kind::End && m_endedScan; }

private:
    bool isRepeat(const QKeyEvent& key) const;
    Kind seeEnd(qint64 at, bool scannerPace);

    Repeats m_repeats;
    // No release since the last press.
    bool m_held = false;
    int m_lastKey = 0;
    Kind m_lastKind = Kind::Other;
    qint64 m_lastKeyAt = -1;
    bool m_stuttered = false;
    int m_burstDigits = 0;
    qint64 m_scanEndedAt = -1;
    bool m_endedScan = false;
    int m_prefixLeft = 0;
    bool m_continues = true;
    int m_releasedKey = 0;
    qint64 m_releasedAt = -1;
};
