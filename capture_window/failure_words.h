#pragma once

#include <QString>

#include <exception>

// What the operator reads of a failure: what failed and what to do, short
// enough for the status line. The whole reason (paths, the system's error)
// goes to the log and to the line's tooltip.
QString captureFailureText(const std::exception& error);
// What a box says of a failure: whole sentences, what failed and what to
// do, never a path, a system error text or a function's name.
QString failureMessage(const std::exception& error);
QString failureMessage(std::exception_ptr error);
QString shareUnreachableMessage();
// "Colour JPEG of 00012345 failed".
QString conversionFailureText(const QString& viewName, const QString& sample);
