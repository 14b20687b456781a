#pragma once

#include <QStringList>
#include <QTextStream>

#include <optional>

// The program's command line: it works with none, and answers --help and
// --version without opening a window. Returns the exit status when the
// program is to end at once: 0 after --help or --version, 2 after anything
// else (one line on `err`); nothing when it is to start.
std::optional<int> answerCommandLine(const QStringList& arguments, QTextStream& out, QTextStream& err);
