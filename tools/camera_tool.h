#pragma once

#include <QStringList>
#include <QTextStream>

// The administrator's camera tool: lists the cameras the device monitor
// sees and writes the settings that choose camera 0 (bottom) and 1 (colour).
// Returns the process's exit status: 0 done, 1 failed, 2 wrong usage.
int runCameraTool(const QStringList& arguments, QTextStream& out, QTextStream& err);
