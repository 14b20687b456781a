#include "capture_window/picture_checks.h"

#include "tools/still_check.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTimer>

#include <array>
#include <cmath>
#include <memory>

Q_LOGGING_CATEGORY(lcChecks, "imagemaker.checks", QtInfoMsg)

namespace {

constexpr int ThumbBytes = still_check::ThumbWidth * still_check::ThumbHeight;
const char* const ViewNames[] = { "Colour", "Bottom" };

bool flag(const QSettings& settings, const char* key)
{
    const QString value = settings.value(QLatin1String(key)).toString().trimmed().toLower();
    return !(value == QLatin1String("false") || value == QLatin1String("no") || value == QLatin1String("off")
        || value == QLatin1String("0"));
}

} // namespace

CheckSettings CheckSettings::read(const QString& settingsFile)
{
    CheckSettings checks;
    // A FIFO or a device is never opened.
    if (settingsFile.isEmpty() || !QFileInfo(settingsFile).isFile())
        return checks;
    const QSettings settings(settingsFile, QSettings::IniFormat);
    checks.barcode = flag(settings, "checks/barcode");
    checks.samePicture = flag(settings, "checks/same_picture");
    checks.blank = flag(settings, "checks/blank");
    const QString label = settings.value(QStringLiteral("checks/label")).toString().trimmed().toLower();
    if (label == QLatin1String("bottom") || label == QLatin1String("both")) {
        checks.labelOnBottom = true;
        checks.labelOnColour = label == QLatin1String("both");
    }
    return checks;
}

std::optional<StillMeasure> StillMeasure::parse(const QByteArray& output)
{
    StillMeasure still;
    bool levels = false;
    for (const QByteArray& line : output.split('\n')) {
        const int space = line.indexOf(' ');
        const QByteArray key = line.left(space);
        const QByteArray value = space < 0 ? QByteArray() : line.mid(space + 1);
        if (key == "levels") {
            const QList<QByteArray> fields = value.split(' ');
            if (fields.size() != 4)
                return std::nullopt;
            still.mean = fields[0].toDouble();
            still.spread = fields[1].toDouble();
            still.darkShare = fields[2].toDouble();
            still.brightShare = fields[3].toDouble();
            levels = true;
        } else if (key == "thumb") {
            still.thumb = QByteArray::fromHex(value);
        } else if (key == "barcode") {
            still.barcodes << QString::fromUtf8(value);
        }
    }
    if (!levels || still.thumb.size() != ThumbBytes)
        return std::nullopt;
    return still;
}

struct PictureChecks::Run {
    QString sample;
    std::array<std::optional<StillMeasure>, 2> stills;
    std::array<bool, 2> readLabel {};
    int pending = 0;
    QElapsedTimer since;
};

PictureChecks::PictureChecks(QString checker, CheckSettings settings, std::chrono::milliseconds bound)
    : m_checker(std::move(checker))
    , m_settings(settings)
    , m_bound(bound)
{
}

PictureChecks::~PictureChecks()
{
    // Its end is no longer wanted; it is stopped as it is deleted.
    for (QProcess* process : findChildren<QProcess*>())
        process->disconnect(this);
}

void PictureChecks::check(const QString& sample, const QString& colourStill, const QString& bottomStill)
{
    m_found.remove(sample);
    const std::array<bool, 2> readLabel { m_settings.barcode && m_settings.labelOnColour,
        m_settings.barcode && m_settings.labelOnBottom };
    const std::array<bool, 2> wanted { readLabel[0] || m_settings.samePicture || m_settings.blank,
        readLabel[1] || m_settings.blank };
    const QString stills[] = { colourStill, bottomStill };
    const quint64 id = ++m_nextRun;
    auto run = std::make_shared<Run>();
    run->sample = sample;
    run->readLabel = readLabel;
    run->since.start();
    for (int i = 0; i < 2; ++i) {
        // A request is one line.
        if (!wanted[std::size_t(i)] || stills[i].contains(QLatin1Char('\n')))
            continue;
        m_queue.append({ id, i, stills[i], readLabel[std::size_t(i)] });
        ++run->pending;
    }
    if (run->pending == 0)
        return;
    m_runs.insert(id, run);
    QTimer::singleShot(m_bound, this, [this, id] {
        const std::shared_ptr<Run> late = m_runs.take(id);
        if (!late)
            return;
        qCInfo(lcChecks, "Checks of %s dropped: not done within %lld ms", qPrintable(late->sample),
            qint64(m_bound.count()));
        m_queue.removeIf([id](const Request& request) { return request.run == id; });
        if (m_current && m_current->run == id) {
            stopChecker();
            next();
        }
    });
    next();
}

void PictureChecks::next()
{
    if (m_current || m_queue.isEmpty())
        return;
    m_current = m_queue.takeFirst();
    if (!m_process) {
        m_process = new QProcess(this);
        QProcess* process = m_process;
        connect(process, &QProcess::readyReadStandardOutput, this, [this, process] {
            if (process != m_process)
                return;
            m_output += process->readAllStandardOutput();
            for (std::size_t end = 0; m_current
                 && (end = still_check::answerEnd({ m_output.constData(), std::size_t(m_output.size()) }))
                     != std::string_view::npos;) {
                const QByteArray output = m_output.left(qsizetype(end));
                m_output.remove(0, qsizetype(end + still_check::DoneLine.size()));
                answered(output);
            }
        });
        connect(process, &QProcess::finished, this, [this, process] { checkerGone(process); });
        connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                checkerGone(process);
        });
        process->start(m_checker, { QStringLiteral("--serve") });
    }
    m_process->write(QByteArray::fromStdString(
        still_check::request(QFile::encodeName(m_current->path).toStdString(), m_current->readLabel)));
}

void PictureChecks::answered(const QByteArray& output)
{
    const Request request = *std::exchange(m_current, std::nullopt);
    if (const QByteArray errors = m_process->readAllStandardError().trimmed(); !errors.isEmpty())
        qCWarning(
            lcChecks, "The still checker on the %s: %s", qPrintable(pictureOf(request)), errors.constData());
    measured(request, output);
    next();
}

void PictureChecks::checkerGone(QProcess* checker)
{
    checker->deleteLater();
    if (checker != m_process)
        return;
    m_process = nullptr;
    const QByteArray output = std::exchange(m_output, {}) + checker->readAllStandardOutput();
    if (m_current) {
        const Request request = *std::exchange(m_current, std::nullopt);
        // What it wrote before failing (a decoder that aborted) still counts.
        qCWarning(lcChecks, "The still checker on the %s failed: %s %s", qPrintable(pictureOf(request)),
            qPrintable(checker->errorString()), checker->readAllStandardError().trimmed().constData());
        measured(request, output);
    }
    // Started again for the next still that waits.
    QTimer::singleShot(0, this, [this] { next(); });
}

void PictureChecks::stopChecker()
{
    if (!m_process)
        return;
    QProcess* stuck = std::exchange(m_process, nullptr);
    m_current.reset();
    m_output.clear();
    // Deleted once it has ended: one stuck on a server that hangs ends
    // only when the server answers.
    disconnect(stuck, nullptr, this, nullptr);
    if (stuck->state() == QProcess::NotRunning) {
        stuck->deleteLater();
        return;
    }
    connect(stuck, &QProcess::finished, stuck, &QObject::deleteLater);
    stuck->kill();
}

QString PictureChecks::pictureOf(const Request& request) const
{
    const std::shared_ptr<Run> run = m_runs.value(request.run);
    return QString::fromLatin1(ViewNames[request.still]).toLower() + QStringLiteral(" picture of ")
        + (run ? run->sample : QStringLiteral("a dropped take"));
}

void PictureChecks::measured(const Request& request, const QByteArray& output)
{
    const std::shared_ptr<Run> run = m_runs.value(request.run);
    if (!run)
        return;
    run->stills[std::size_t(request.still)] = StillMeasure::parse(output);
    if (--run->pending == 0) {
        m_runs.remove(request.run);
        judge(*run);
    }
}

std::optional<QString> PictureChecks::numberOnLabel(const QStringList& barcodes)
{
    // The digits after a symbology identifier ("]C0") or a short fixed prefix.
    static const QRegularExpression number(
        QStringLiteral(R"(^(?:\][A-Za-z]\d)?(?:[A-Za-z]{1,3}[-: ]?)?(\d{8})$)"));
    for (const QString& barcode : barcodes) {
        const QRegularExpressionMatch match = number.match(barcode.section(QLatin1Char(' '), 1).trimmed());
        if (match.hasMatch())
            return match.captured(1);
    }
    return std::nullopt;
}

double PictureChecks::difference(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size() || a.isEmpty())
        return 255;
    double meanA = 0;
    double meanB = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        meanA += quint8(a[i]);
        meanB += quint8(b[i]);
    }
    meanA /= double(a.size());
    meanB /= double(b.size());
    double sum = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        sum += std::abs((quint8(a[i]) - meanA) - (quint8(b[i]) - meanB));
    return sum / double(a.size());
}

PictureChecks::Finding PictureChecks::otherNumber(
    const QString& viewName, const QString& shown, const QString& sample)
{
    return { QStringLiteral("Picture shows %1: check the sample, Redo").arg(shown),
        QStringLiteral("The %1 picture shows %2, not %3.").arg(viewName.toLower(), shown, sample) };
}

PictureChecks::Finding PictureChecks::samePicture(const QString& earlier)
{
    return { QStringLiteral("Same as %1: was the sample changed?").arg(earlier),
        QStringLiteral("Same picture as %1: was the sample changed?").arg(earlier) };
}

std::optional<PictureChecks::Finding> PictureChecks::blank(const QString& viewName, const StillMeasure& still)
{
    // Almost one level all over (a lens cap, the light off), or mostly clipped.
    QString what;
    if (still.darkShare > 0.9 || (still.spread < 6 && still.mean < 60))
        what = QStringLiteral("dark");
    else if (still.brightShare > 0.5 || (still.spread < 6 && still.mean > 200))
        what = QStringLiteral("too bright");
    else if (still.spread < 6)
        what = QStringLiteral("blank");
    if (what.isEmpty())
        return std::nullopt;
    const QString picture = viewName + QStringLiteral(" picture is ") + what;
    return Finding { picture + QStringLiteral(": check camera and light"),
        picture + QStringLiteral(": check the camera and the light.") };
}

void PictureChecks::judge(Run& run)
{
    QList<Finding> findings;
    QStringList log;
    const QString sample = run.sample;
    bool colourBlank = false;
    for (std::size_t i = 0; i < 2; ++i) {
        const std::optional<StillMeasure>& still = run.stills[i];
        const QString view = QString::fromLatin1(ViewNames[i]);
        if (!still)
            continue;
        log << QStringLiteral("%1 mean %2 spread %3")
                   .arg(view.toLower())
                   .arg(still->mean, 0, 'f', 0)
                   .arg(still->spread, 0, 'f', 0);
        if (run.readLabel[i]) {
            log << (still->barcodes.isEmpty() ? QStringLiteral("no barcode")
                                              : still->barcodes.join(QLatin1String(", ")));
            const std::optional<QString> shown = numberOnLabel(still->barcodes);
            if (shown && *shown != sample)
                findings << otherNumber(view, *shown, sample);
        }
        if (m_settings.blank)
            if (const std::optional<Finding> empty = blank(view, *still)) {
                findings << *empty;
                colourBlank = colourBlank || i == 0;
            }
    }
    if (const std::optional<StillMeasure>& colour = run.stills[0]) {
        if (m_settings.samePicture && !m_lastThumb.isEmpty() && m_lastSample != sample) {
            const double changed = difference(colour->thumb, m_lastThumb);
            log << QStringLiteral("difference from %1: %2").arg(m_lastSample).arg(changed, 0, 'f', 1);
            // A blank picture says more than its sameness.
            if (changed < SameSceneBelow && !colourBlank)
                findings << samePicture(m_lastSample);
        }
        m_lastSample = sample;
        m_lastThumb = colour->thumb;
    }
    qCInfo(lcChecks, "Checks of %s after %lld ms: %s", qPrintable(sample), run.since.elapsed(),
        qPrintable(log.join(QLatin1String("; "))));
    if (!findings.isEmpty())
        m_found.insert(sample, findings);
    emit checked(sample, findings);
}
