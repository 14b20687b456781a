#include "app/log_output.h"

#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace log_output {

namespace {

// sd-daemon(3) priorities, and the words a terminal shows instead.
struct Severity {
    const char* priority;
    const char* word;
};

Severity severityOf(QtMsgType type)
{
    switch (type) {
    case QtFatalMsg:
        return { "<2>", "fatal" };
    case QtCriticalMsg:
        return { "<3>", "critical" };
    case QtWarningMsg:
        return { "<4>", "warning" };
    case QtInfoMsg:
        return { "<6>", "info" };
    case QtDebugMsg:
        break;
    }
    return { "<7>", "debug" };
}

Form s_form = Form::Terminal;

void writeRecord(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QByteArray line = format(type, context.category, message, s_form);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

QByteArray format(QtMsgType type, const char* category, const QString& message, Form form)
{
    const Severity severity = severityOf(type);
    QByteArray head
        = form == Form::Journal ? QByteArray(severity.priority) : severity.word + QByteArray(": ");
    if (category && qstrcmp(category, "default") != 0)
        head += category + QByteArray(": ");
    QByteArray record;
    // The journal takes each line as a record of its own: each keeps the priority.
    for (const QString& line : message.split(QLatin1Char('\n')))
        record
            += (record.isEmpty() || form == Form::Journal ? head : QByteArray("  ")) + line.toUtf8() + '\n';
    return record;
}

bool isJournal(const QByteArray& journalStream, int fd)
{
    const QList<QByteArray> parts = journalStream.split(':');
    bool deviceOk = false;
    bool inodeOk = false;
    if (parts.size() != 2)
        return false;
    const qulonglong device = parts[0].toULongLong(&deviceOk);
    const qulonglong inode = parts[1].toULongLong(&inodeOk);
    struct stat info { };
    return deviceOk && inodeOk && ::fstat(fd, &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

void install()
{
    s_form = isJournal(qgetenv("JOURNAL_STREAM"), fileno(stderr)) ? Form::Journal : Form::Terminal;
    qInstallMessageHandler(writeRecord);
}

} // namespace log_output
