#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// How the programs write their log lines to standard error. Started from
// the desktop, standard error is the journal, which reads a line's priority
// from a "<N>" prefix: warnings and failures can then be told from info.
// On a terminal each line says its severity in words.
namespace log_output {

enum class Form { Journal, Terminal };

// One record as written: each of its lines "<4>imagemaker.camera: ..." for
// the journal, or "warning: imagemaker.camera: ..." on a terminal.
QByteArray format(QtMsgType type, const char* category, const QString& message, Form form);

// Whether `fd` is the stream that JOURNAL_STREAM ("DEVICE:INODE", set by
// systemd for the services and session programs it starts) names.
bool isJournal(const QByteArray& journalStream, int fd);

// Writes every log record to standard error in the form that suits it.
void install();

} // namespace log_output
