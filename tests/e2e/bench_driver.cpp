#include "bench_driver.h"

#include "bmp_header.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>

namespace e2e {

namespace {
constexpr int XdotoolTimeoutMs = 10000;

QString pattern(const QString& title)
{
    // xdotool matches a POSIX regular expression; the titles are plain text.
    return QLatin1Char('^') + title + QLatin1Char('$');
}

bool near(QRgb pixel, int r, int g, int b, int tolerance = 32)
{
    return std::abs(qRed(pixel) - r) <= tolerance && std::abs(qGreen(pixel) - g) <= tolerance
        && std::abs(qBlue(pixel) - b) <= tolerance;
}

void replaceFile(const QString& path, const QByteArray& content)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        throw DriverError(QStringLiteral("cannot write ") + path + QStringLiteral(": ") + file.errorString());
    QFile::setPermissions(
        path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
}
} // namespace

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.hasExpired(timeoutMs))
            return false;
        QThread::msleep(20);
    }
    return true;
}

QString Desktop::xdotool(const QStringList& args, bool mayFail) const
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), args);
    if (!process.waitForFinished(XdotoolTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        throw DriverError(
            QStringLiteral("xdotool ") + args.join(QLatin1Char(' ')) + QStringLiteral(" did not finish"));
    }
    if (process.exitStatus() != QProcess::NormalExit || (process.exitCode() != 0 && !mayFail))
        throw DriverError(QStringLiteral("xdotool ") + args.join(QLatin1Char(' '))
            + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAllStandardError()).trimmed());
    QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    if (out.endsWith(QLatin1Char('\n')))
        out.chop(1);
    return out;
}

QStringList Desktop::windows(const QString& title) const
{
    QStringList search { "search", "--onlyvisible" };
    if (m_pid != 0)
        search << "--all"
               << "--pid" << QString::number(m_pid);
    // The pattern comes last.
    search << "--name" << pattern(title);
    return xdotool(search, true).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList Desktop::visibleTitles() const
{
    QStringList titles;
    const QStringList ids = xdotool({ "search", "--onlyvisible", "--name", "." }, true)
                                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& id : ids)
        titles << xdotool({ "getwindowname", id }, true);
    return titles;
}

QString Desktop::waitForWindow(const QString& title, int timeoutMs) const
{
    QStringList found;
    if (!waitUntil([&] { return !(found = windows(title)).isEmpty(); }, timeoutMs))
        throw DriverError(QStringLiteral("no window \"") + title + QStringLiteral("\" within ")
            + QString::number(timeoutMs) + QStringLiteral(" ms; visible: \"")
            + visibleTitles().join(QStringLiteral("\", \"")) + QLatin1Char('"'));
    return found.first();
}

void Desktop::waitUntilGone(const QString& title, int timeoutMs) const
{
    if (!waitUntil([&] { return windows(title).isEmpty(); }, timeoutMs))
        throw DriverError(QStringLiteral("window \"") + title + QStringLiteral("\" still open after ")
            + QString::number(timeoutMs) + QStringLiteral(" ms"));
}

QString Desktop::focus(const QString& title) const
{
    // A window another program opens just then may take the focus, and the
    // window found may be gone by the time it is focused (X reports
    // BadWindow): look again.
    QString failure;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QString id = waitForWindow(title);
        try {
            xdotool({ "windowfocus", "--sync", id });
            if (xdotool({ "getwindowfocus" }) == id)
                return id;
            failure = QStringLiteral("another window has the focus");
        } catch (const DriverError& error) {
            failure = QString::fromUtf8(error.what());
            qWarning("focusing \"%s\" again: %s", qPrintable(title), qPrintable(failure));
        }
        QThread::msleep(50);
    }
    throw DriverError(QStringLiteral("could not focus \"") + title + QStringLiteral("\": ") + failure);
}

void Desktop::sendKeys(const QStringList& args) const
{
    xdotool(args);
    m_sinceKeys.start();
}

void Desktop::readQuestion() const
{
    // A box that came well after the last key is read by the time it is seen.
    const qint64 since = m_sinceKeys.isValid() ? m_sinceKeys.elapsed() : ReadingMs;
    if (since < ReadingMs)
        QThread::msleep(static_cast<unsigned long>(ReadingMs - since));
}

void Desktop::key(const QString& title, const QString& keys) const
{
    focus(title);
    sendKeys({ "key", "--clearmodifiers", keys });
}

void Desktop::type(const QString& title, const QString& text) const
{
    focus(title);
    sendKeys({ "type", "--delay", "12", text });
}

void Desktop::scan(const QString& number) const
{
    // One burst, as a scanner sends it: keys typed one by one may lag past
    // the scanner's gap on a busy machine, and their first digits then read
    // as typed by hand.
    scanInto(ScanTitle, number);
    waitUntilGone(ScanTitle);
}

void Desktop::scanInto(const QString& title, const QString& digits, const QStringList& suffix) const
{
    focus(title);
    // One call with keysyms: chained "type" and "key" calls lose the Enter.
    QStringList keys { "key", "--delay", "0" };
    for (const QChar character : digits)
        keys << (character == QLatin1Char(']') ? QStringLiteral("bracketright") : QString(character));
    sendKeys(keys << suffix);
}

void Desktop::hold(const QString& title, const QString& key, int ms) const
{
    readQuestion();
    focus(title);
    xdotool({ "keydown", key });
    xdotool({ "sleep", QString::number(ms / 1000.0, 'f', 3) });
    sendKeys({ "keyup", key });
}

void Desktop::answer(const QString& title, bool yes) const
{
    readQuestion();
    key(title, yes ? QStringLiteral("Return") : QStringLiteral("alt+n"));
    waitUntilGone(title);
}

void Desktop::replace(const QString& title) const
{
    readQuestion();
    key(title, QStringLiteral("alt+y"));
    waitUntilGone(title);
}

void Desktop::keyToEach(const QStringList& windowIds, const QString& keys) const
{
    QStringList chain;
    for (const QString& id : windowIds)
        chain << "windowfocus"
              << "--sync" << id << "key" << keys;
    sendKeys(chain);
}

void Desktop::doubleClick(const QString& title, QPoint at) const
{
    const QString id = focus(title);
    xdotool({ "mousemove", "--sync", "--window", id, QString::number(at.x()), QString::number(at.y()) });
    xdotool({ "click", "--repeat", "2", "--delay", "60", "1" });
}

QImage Desktop::screenshot() const
{
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/e2e-shot-XXXXXX.png"));
    if (!file.open())
        throw DriverError(QStringLiteral("cannot make a file for the screenshot"));
    QProcess import;
    import.start(QStringLiteral("import"), { "-window", "root", file.fileName() });
    if (!import.waitForFinished(XdotoolTimeoutMs) || import.exitCode() != 0)
        throw DriverError(QStringLiteral("import -window root failed"));
    return QImage(file.fileName());
}

QPoint Desktop::origin(const QString& title) const
{
    QPoint at;
    for (const QString& line :
        xdotool({ "getwindowgeometry", "--shell", waitForWindow(title) }).split('\n')) {
        if (line.startsWith(QLatin1String("X=")))
            at.setX(line.mid(2).toInt());
        if (line.startsWith(QLatin1String("Y=")))
            at.setY(line.mid(2).toInt());
    }
    return at;
}

QImage Desktop::grab(const QRect& area) const
{
    QProcess import;
    import.start(QStringLiteral("import"),
        { "-window", "root", "-crop",
            QStringLiteral("%1x%2+%3+%4").arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y()),
            "png:-" });
    if (!import.waitForFinished(XdotoolTimeoutMs) || import.exitCode() != 0)
        throw DriverError(QStringLiteral("import -crop failed"));
    return QImage::fromData(import.readAllStandardOutput(), "PNG");
}

Program::Program(QStringList wrapper)
{
    const QString logs = qEnvironmentVariable("IMAGEMAKER_E2E_LOGS", QDir::tempPath());
    QTemporaryFile output(logs + QStringLiteral("/imagemaker-e2e-XXXXXX.log"));
    output.setAutoRemove(false);
    output.open();
    m_outputFile = output.fileName();
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_outputFile);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // What the scan collector took each key for: shown when a test fails.
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("imagemaker.scan.debug=true"));
    m_process.setProcessEnvironment(env);
    wrapper << QStringLiteral(IMAGEMAKER_E2E_PROGRAM);
    const QString program = wrapper.takeFirst();
    m_process.start(program, wrapper);
    if (!m_process.waitForStarted(10000))
        throw DriverError(
            QStringLiteral("cannot start ") + program + QStringLiteral(": ") + m_process.errorString());
}

Program::~Program()
{
    if (running()) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // Kept for the test's wrapper to show when the test failed.
    if (!QTest::currentTestFailed())
        QFile::remove(m_outputFile);
}

bool Program::waitForExit(int timeoutMs)
{
    return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
}

QString Program::output() const
{
    QFile file(m_outputFile);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

QString Share::samplesFolder()
{
    // The program's share moved elsewhere (a real server's mount) moves it here too.
    const QString mounted = qEnvironmentVariable("IMAGEMAKER_MOUNT_POINT");
    return mounted.isEmpty() ? QStringLiteral(IMAGEMAKER_E2E_SAMPLES)
                             : mounted + QStringLiteral("/virtual_directories/IMG_SAMPLES/QORVEL");
}

void Share::reset()
{
    QDir folder(samplesFolder());
    folder.mkpath(QStringLiteral("."));
    QFile::setPermissions(samplesFolder(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup
            | QFile::ReadOther | QFile::ExeOther);
    static const QRegularExpression ours(
        QStringLiteral("^\\.?(CLR|BTM)_7\\d{7}_01\\.(bmp|jpg)|^\\.7\\d{7}\\.claim$"));
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (ours.match(name).hasMatch())
            folder.remove(name);
    restoreConverter();
}

void Share::installConverter(const QByteArray& script)
{
    replaceFile(converter(), script);
}

void Share::restoreConverter()
{
    QFile built(builtConverter());
    if (!built.open(QIODevice::ReadOnly))
        throw DriverError(QStringLiteral("cannot read the built converter ") + built.fileName());
    replaceFile(converter(), built.readAll());
}

QStringList Share::strayFiles()
{
    static const QRegularExpression final(QStringLiteral("^(CLR|BTM)_\\d{8}_01\\.(bmp|jpg)$"));
    QStringList stray;
    for (const QString& name : QDir(samplesFolder()).entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (!final.match(name).hasMatch())
            stray << name;
    return stray;
}

QByteArray Share::read(const QString& name)
{
    QFile f(file(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

Bitmap readBitmap(const QString& path)
{
    Bitmap bitmap;
    const BmpHeader header = readBmpHeader(path);
    if (!header.isBmp)
        return bitmap;
    bitmap.isBmp = true;
    bitmap.bitsPerPixel = header.bitsPerPixel;
    bitmap.image = QImage(path, "BMP");
    return bitmap;
}

bool showsBottomCamera(const QImage& image)
{
    if (image.isNull())
        return false;
    const int w = image.width(), h = image.height();
    // Away from the caption at the bottom left; the ball may hide one point.
    const QPoint points[] = { { 10, 10 }, { w / 2, 10 }, { w - 10, 10 }, { w - 10, h / 2 } };
    int background = 0;
    for (const QPoint& p : points)
        background += near(image.pixel(p), 0x20, 0x30, 0x40) ? 1 : 0;
    return background >= 3;
}

bool showsColourCamera(const QImage& image)
{
    if (image.isNull())
        return false;
    // The seven bars of the upper part, left to right.
    static const int bars[7][3] = { { 255, 255, 255 }, { 255, 255, 0 }, { 0, 255, 255 }, { 0, 255, 0 },
        { 255, 0, 255 }, { 255, 0, 0 }, { 0, 0, 255 } };
    for (int i = 0; i < 7; ++i) {
        const int x = (2 * i + 1) * image.width() / 14;
        if (!near(image.pixel(x, image.height() / 3), bars[i][0], bars[i][1], bars[i][2]))
            return false;
    }
    return true;
}

bool isJpeg(const QString& path)
{
    QImageReader reader(path);
    return reader.format() == "jpeg" && !reader.read().isNull();
}

} // namespace e2e
