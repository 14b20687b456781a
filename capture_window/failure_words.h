#pragma once

#include <QString>

#include <exception>

// What the operator reads of a failure: what failed and what to do, short
// enough for the status line. The whole reason (paths, the system's error)
// goes to the log and to the line's tooltip.
QString captureFailureText(const std::exception& error);
// "Colour JPEG of 00012345 failed".
QString conversionFailureText(const QString& viewName, const QString& sample);
