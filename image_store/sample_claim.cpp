#include "image_store/sample_claim.h"

#include "image_store/share_log.h"
#include "image_store/temporary_name.h"
#include "image_store/unique_fd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <ctime>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>

namespace image_store {

namespace {

// A claim holds a line of text; anything bigger is not one of ours.
constexpr off_t ClaimBytesAtMost = 256;

QByteArray ownerText()
{
    return QByteArray::fromStdString(benchName()) + ' ' + QByteArray::number(::getpid()) + ' '
        + QByteArray::fromStdString(benchRun());
}

[[noreturn]] void fail(const char* what, const std::string& path, int error)
{
    throw StoreError(std::string(what) + ' ' + path + ": " + std::strerror(error));
}

// A bench's name as a claim gives it, fit to be shown: another bench's
// file may hold anything.
QString shownName(const QByteArray& bench)
{
    QString name;
    for (const char c : bench.left(32))
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
            || c == '_')
            name += QLatin1Char(c);
    return name.isEmpty() ? QStringLiteral("unknown") : name;
}

const char* kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "folder";
    if (S_ISFIFO(mode))
        return "pipe";
    if (S_ISLNK(mode))
        return "link";
    return S_ISREG(mode) ? "file too big for a claim" : "special file";
}

} // namespace

SampleTakenElsewhere::SampleTakenElsewhere(const QString& sample)
    : SampleTakenElsewhere(
        sample, "Another bench wrote sample " + sample.toStdString() + " at the same time: take it again")
{
}

SampleTakenElsewhere::SampleTakenElsewhere(const QString& sample, const std::string& message)
    : StoreError(message)
    , m_sample(sample)
{
}

SampleBeingTaken::SampleBeingTaken(const QString& sample, const QString& bench, const QDateTime& since)
    : SampleTakenElsewhere(sample,
        "Sample " + sample.toStdString() + " is being taken on bench " + bench.toStdString() + " (since "
            + since.toString(QStringLiteral("HH:mm")).toStdString() + "): wait, or take another sample")
    , m_bench(bench)
    , m_since(since)
{
}

// What stands at the claim's name.
struct SampleClaim::Found {
    enum Kind { Nothing, Claim, NotAClaim } kind = Nothing;
    mode_t mode = 0;
    FileIdentity identity;
    // As the claim says; empty or 0 where it does not.
    QByteArray bench;
    pid_t pid = 0;
    QByteArray run;
    // By the server's clock.
    time_t modified = 0;
};

SampleClaim::SampleClaim(QString localPath, QString sample)
    : m_path(std::move(localPath))
    , m_sample(std::move(sample))
{
}

void SampleClaim::take()
{
    const QByteArray path = QFile::encodeName(m_path);
    const QByteArray owner = ownerText();
    for (int attempt = 0; attempt < 3; ++attempt) {
        UniqueFd fd(::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (fd) {
            struct stat info { };
            if (::fstat(fd.get(), &info) != 0) {
                // Ours, but it could not be told from another's later: it goes.
                const int error = errno;
                fd.reset();
                removeTemporary(path.constData());
                fail("Cannot claim", path.toStdString(), error);
            }
            m_held = true;
            m_identity = FileIdentity::of(info);
            // The owner is for whoever finds it left; a claim without it
            // still works, so a failed write is not a failed capture.
            if (::write(fd.get(), owner.constData(), size_t(owner.size())) != owner.size())
                qCWarning(
                    lcShare, "Cannot write the owner into %s: %s", path.constData(), std::strerror(errno));
            return;
        }
        if (errno != EEXIST) {
            const int error = errno;
            // The server may have made the file and then failed what the
            // kernel asked after it. An empty claim there now is that one:
            // another bench's was not there (no EEXIST), and a bench that
            // makes one writes its owner into it at once.
            struct stat info { };
            if (::lstat(path.constData(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0)
                removeTemporary(path.constData());
            // A passing fault of the server: asking again is safe.
            if ((error == EIO || error == ESTALE || error == EAGAIN || error == EINTR) && attempt < 2)
                continue;
            fail("Cannot claim", path.toStdString(), error);
        }
        Found found = inspect();
        // A bench writes its owner right after making its claim; one still
        // empty a moment later was made by a create the server failed.
        for (int look = 0; look < 4 && found.kind == Found::Claim && found.bench.isEmpty(); ++look) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            found = inspect();
        }
        const bool leftEmpty = found.kind == Found::Claim && found.bench.isEmpty();
        if (found.kind == Found::Nothing)
            continue;
        if (found.kind == Found::NotAClaim) {
            qCWarning(
                lcShare, "%s is a %s, not a claim: it is removed", path.constData(), kindOf(found.mode));
            removeFound(found);
            continue;
        }
        const qint64 age = serverNow() - found.modified;
        // Only this run of this machine can tell that a process of its is gone.
        const bool ownerGone = found.run == QByteArray::fromStdString(benchRun()) && found.pid > 0
            && (found.pid == ::getpid() || (::kill(found.pid, 0) != 0 && errno == ESRCH));
        if (!ownerGone && !leftEmpty && std::abs(age) <= StaleAfterSeconds) {
            qCWarning(lcShare,
                "Sample %s is being taken by %s (claimed %lld s ago by the server's clock: %s)",
                qPrintable(m_sample), found.bench.constData(), static_cast<long long>(age), path.constData());
            throw SampleBeingTaken(m_sample, shownName(found.bench),
                QDateTime::currentDateTime().addSecs(-std::max<qint64>(age, 0)));
        }
        qCInfo(lcShare, "Taking over the claim %s left by %s (%lld s old by the server's clock%s)",
            path.constData(), leftEmpty ? "a failed create" : found.bench.constData(),
            static_cast<long long>(age), ownerGone ? ", its process gone" : "");
        removeFound(found);
        // What the bench that left it was writing is left too.
        if (!leftEmpty)
            removeDebris(found.modified + age);
    }
    // Made again each time it went: another bench is at it.
    qCWarning(lcShare, "The claim %s keeps coming back", path.constData());
    throw SampleTakenElsewhere(m_sample);
}

SampleClaim::Found SampleClaim::inspect() const
{
    const QByteArray path = QFile::encodeName(m_path);
    Found found;
    struct stat info { };
    if (::lstat(path.constData(), &info) != 0) {
        if (errno == ENOENT)
            return found;
        fail("Cannot read the claim", path.toStdString(), errno);
    }
    found.mode = info.st_mode;
    found.identity = FileIdentity::of(info);
    found.kind = Found::NotAClaim;
    if (!S_ISREG(info.st_mode) || info.st_size > ClaimBytesAtMost)
        return found;
    // Never follows a link nor waits on a pipe put there meanwhile.
    UniqueFd fd(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT)
            return Found {};
        if (errno == ELOOP)
            return found;
        fail("Cannot read the claim", path.toStdString(), errno);
    }
    char text[ClaimBytesAtMost] = {};
    const ssize_t length
        = ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) ? ::read(fd.get(), text, sizeof text) : -1;
    if (length < 0) {
        if (!S_ISREG(info.st_mode))
            return found;
        fail("Cannot read the claim", path.toStdString(), errno);
    }
    found.kind = Found::Claim;
    found.identity = FileIdentity::of(info);
    found.modified = info.st_mtime;
    const QList<QByteArray> words = QByteArray(text, length).trimmed().split(' ');
    found.bench = words.value(0);
    found.pid = static_cast<pid_t>(words.value(1).toLong());
    found.run = words.value(2);
    return found;
}

void SampleClaim::removeFound(const Found& found) const
{
    const QByteArray path = QFile::encodeName(m_path);
    // Only what was looked at: a claim made since is another bench's.
    struct stat info { };
    if (::lstat(path.constData(), &info) != 0 || !(FileIdentity::of(info) == found.identity))
        return;
    for (int attempt = 0; attempt < 3; ++attempt)
        if ((S_ISDIR(info.st_mode) ? ::rmdir(path.constData()) : ::unlink(path.constData())) == 0
            || errno == ENOENT)
            return;
    fail("Cannot remove what stands in the way of the claim", path.toStdString(), errno);
}

void SampleClaim::removeDebris(qint64 serverNow) const
{
    // Temporaries of this sample's files; a fresh one may be a converter's at work.
    const QFileInfo claim(m_path);
    const QString pattern = QStringLiteral(".*_") + m_sample + QStringLiteral("_*")
        + QString::fromLatin1(TemporarySuffix.data(), qsizetype(TemporarySuffix.size()));
    for (const QString& name :
        claim.dir().entryList({ pattern }, QDir::Files | QDir::Hidden | QDir::System)) {
        const QByteArray part = QFile::encodeName(claim.dir().filePath(name));
        struct stat info { };
        if (::lstat(part.constData(), &info) != 0 || !S_ISREG(info.st_mode)
            || serverNow - info.st_mtime <= StaleAfterSeconds)
            continue;
        if (removeTemporary(part.constData()))
            qCInfo(lcShare, "Removed %s, left by a bench that stopped writing it", part.constData());
    }
}

qint64 SampleClaim::serverNow() const
{
    // A file written now, next to the claim: the server stamps it with its time.
    const std::string probe = temporaryNameOf(QFile::encodeName(m_path).toStdString());
    ::unlink(probe.c_str());
    UniqueFd fd(::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd)
        fail("Cannot read the file server's time through", probe, errno);
    struct stat info { };
    const bool read = ::write(fd.get(), "t", 1) == 1 && ::fstat(fd.get(), &info) == 0;
    const int error = errno;
    fd.reset();
    removeTemporary(probe.c_str());
    if (!read)
        fail("Cannot read the file server's time through", probe, error);
    return info.st_mtime;
}

void SampleClaim::release()

{
    if (!m_held)
        return;
    m_held = false;
    const QByteArray path = QFile::encodeName(m_path);
    // Tried again when the share fails it: a claim left behind holds the
    // sample from other benches for minutes.
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct stat info { };
        if (::lstat(path.constData(), &info) != 0) {
            if (errno == ENOENT)
                return;
            continue;
        }
        if (!(FileIdentity::of(info) == m_identity) || ::unlink(path.constData()) == 0 || errno == ENOENT)
            return;
    }
    qCWarning(lcShare, "Cannot remove the claim %s: %s", path.constData(), std::strerror(errno));
}

} // namespace image_store
