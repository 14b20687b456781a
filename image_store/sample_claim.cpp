#include "image_store/sample_claim.h"

#include "image_store/share_log.h"
#include "image_store/temporary_name.h"
#include "image_store/unique_fd.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

namespace image_store {

namespace {

QByteArray ownerText()
{
    return QByteArray::fromStdString(benchName()) + ' ' + QByteArray::number(::getpid());
}

QByteArray readOwner(const QByteArray& path)
{
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly) ? file.read(256).trimmed() : QByteArray();
}

} // namespace

SampleTakenElsewhere::SampleTakenElsewhere(const QString& sample)
    : StoreError("Another bench wrote sample " + sample.toStdString() + " at the same time: take it again")
    , m_sample(sample)
{
}

SampleClaim::SampleClaim(QString localPath, QString sample)
    : m_path(std::move(localPath))
    , m_sample(std::move(sample))
{
}

void SampleClaim::take()
{
    const QByteArray path = QFile::encodeName(m_path);
    const QByteArray owner = ownerText();
    for (int attempt = 0; attempt < 2; ++attempt) {
        UniqueFd fd(::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (fd) {
            struct stat info { };
            if (::fstat(fd.get(), &info) != 0) {
                // Ours, but it could not be told from another's later: it goes.
                const int error = errno;
                fd.reset();
                removeTemporary(path.constData());
                throw StoreError("Cannot claim " + path.toStdString() + ": " + std::strerror(error));
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
            throw StoreError("Cannot claim " + path.toStdString() + ": " + std::strerror(error));
        }
        if (!stale())
            break;
        qCInfo(lcShare, "Taking over the claim %s left by %s", path.constData(), readOwner(path).constData());
        ::unlink(path.constData());
    }
    qCWarning(lcShare, "Sample %s is being written by %s (%s)", qPrintable(m_sample),
        readOwner(path).constData(), path.constData());
    throw SampleTakenElsewhere(m_sample);
}

bool SampleClaim::stale() const
{
    const QByteArray path = QFile::encodeName(m_path);
    struct stat info { };
    if (::lstat(path.constData(), &info) != 0)
        return errno == ENOENT;
    if (std::time(nullptr) - info.st_mtime > StaleAfterSeconds)
        return true;
    // Left by this bench: stale when its process is gone, or is this one
    // (a release that failed).
    const QList<QByteArray> owner = readOwner(path).split(' ');
    if (owner.size() != 2 || owner[0].toStdString() != benchName())
        return false;
    bool number = false;
    const pid_t pid = owner[1].toInt(&number);
    return number && (pid == ::getpid() || (::kill(pid, 0) != 0 && errno == ESRCH));
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
