#pragma once

// Drives the installed program from outside, the way a bench does: keys and
// clicks through xdotool on the X server that DISPLAY names (a wedge scanner
// is a keyboard, so typing digits and Enter is what it does), results read
// back from the share.

#include <QDebug>
#include <QElapsedTimer>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>

namespace e2e {

class DriverError : public std::runtime_error {
public:
    // Also printed: QtTest reports an escaping exception without its text.
    explicit DriverError(const QString& message)
        : std::runtime_error(message.toStdString())
    {
        qWarning("%s", what());
    }
};

// Window titles the program shows.
inline const QString MainTitle = QStringLiteral("Sample Image Capturing ");
inline const QString ScanTitle = QStringLiteral("Scan Wo");
inline const QString TakeTitle = QStringLiteral("Take picture");
inline const QString IncrementTitle = QStringLiteral("Auto Increment");
inline const QString ErrorTitle = QStringLiteral("ImageMaker");

// Polls `done` every 20 ms until it holds or the time is up.
bool waitUntil(const std::function<bool()>& done, int timeoutMs);

// The X desktop as xdotool reaches it. Every call is bounded in time.
class Desktop {
public:
    // A pid of 0 finds every program's windows; another only that process's.
    explicit Desktop(qint64 pid = 0)
        : m_pid(pid)
    {
    }

    // Ids of the visible windows whose title is exactly `title`.
    QStringList windows(const QString& title) const;
    // Titles of all visible windows, for messages.
    QStringList visibleTitles() const;
    QString waitForWindow(const QString& title, int timeoutMs = 10000) const;
    void waitUntilGone(const QString& title, int timeoutMs = 10000) const;

    // Focuses the window with that title and sends keys to it: "Return",
    // "alt+g", ...; type() types text the way a wedge scanner does.
    void key(const QString& title, const QString& keys) const;
    void type(const QString& title, const QString& text) const;
    // A scan: eight digits and the Enter the scanner sends after them.
    void scan(const QString& number) const;
    // A scan at a scanner's speed, no delay between keys, into whatever
    // window has that title, ended by `suffix` (keysyms); nothing is waited for.
    void scanInto(
        const QString& title, const QString& digits, const QStringList& suffix = { "Return" }) const;
    // Holds a key down for a while, so that the server repeats it.
    void hold(const QString& title, const QString& key, int ms) const;
    // Answers a Yes/No box as an operator does, after reading it: Enter is
    // Yes, Alt+N is No.
    void answer(const QString& title, bool yes) const;
    // Yes by its Alt+letter, as a question whose default is No needs it.
    void replace(const QString& title) const;
    // At least this long between a desk's keys and an answer: an operator
    // reads the question first, and a key sooner after a scan's Enter would
    // be taken for the rest of the scanner's suffix.
    static constexpr int ReadingMs = 250;
    void doubleClick(const QString& title, QPoint at) const;
    // The same keys to each of these windows, in one go: a few milliseconds
    // apart, before any of them can open a window that takes the focus.
    void keyToEach(const QStringList& windowIds, const QString& keys) const;

    QImage screenshot() const;
    // Where the window with that title is on the screen.
    QPoint origin(const QString& title) const;
    // A part of the screen as it is now.
    QImage grab(const QRect& area) const;

private:
    QString focus(const QString& title) const;
    QString xdotool(const QStringList& args, bool mayFail = false) const;
    // Keys go out through this, so that the reading time counts from them.
    void sendKeys(const QStringList& args) const;
    void readQuestion() const;
    qint64 m_pid = 0;
    mutable QElapsedTimer m_sinceKeys;
};

// The installed program, started as its own process; killed if still running
// when this goes.
class Program {
public:
    // `wrapper` runs before the program on its command line (prlimit ...).
    explicit Program(QStringList wrapper = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    qint64 pid() const { return m_process.processId(); }
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    bool waitForExit(int timeoutMs);
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    QString output() const;

private:
    QProcess m_process;
    QString m_outputFile;
};

// What the program reads and writes on the embedded share.
struct Share {
    static QString samplesFolder();
    static QString file(const QString& name) { return samplesFolder() + QLatin1Char('/') + name; }
    // The converter the program runs: the one installed with it.
    static QString converter() { return QStringLiteral(IMAGEMAKER_E2E_CONVERTER); }
    static QString builtConverter() { return QStringLiteral(IMAGEMAKER_E2E_BUILT_CONVERTER); }
    // Removes the files of samples 7xxxxxxx (the end-to-end tests' range)
    // and restores the installed converter.
    static void reset();
    static void installConverter(const QByteArray& script);
    static void restoreConverter();
    // Files in the sample folder that are not final image names: temporaries
    // left by a write that did not finish.
    static QStringList strayFiles();
    static QByteArray read(const QString& name);
};

// A file on the share as a user would check it.
struct Bitmap {
    bool isBmp = false;
    int bitsPerPixel = 0;
    QImage image;
};
Bitmap readBitmap(const QString& path);
// The demo's cameras: the bottom one shows a ball on a dark blue-grey
// background, the colour one SMPTE bars.
bool showsBottomCamera(const QImage& image);
bool showsColourCamera(const QImage& image);
bool isJpeg(const QString& path);

} // namespace e2e
