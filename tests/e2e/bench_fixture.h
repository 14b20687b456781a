#pragma once

#include "take_checks.h"

#include <memory>

namespace e2e {

// What each end-to-end test holds: the desktop and the program under test.
// The share is emptied before each test, and after it nothing may be left
// on it written half.
class BenchFixture {
protected:
    Desktop desk;
    std::unique_ptr<Program> program;

    // Starts the program (through `wrapper`, if any) and waits for its window
    // titled `title`; the program's output is logged when that does not come.
    void start(const QString& title, QStringList wrapper = {})
    {
        program = std::make_unique<Program>(std::move(wrapper));
        try {
            desk.waitForWindow(title);
        } catch (const DriverError&) {
            qWarning(
                "program %s: %s", program->running() ? "running" : "ended", qPrintable(program->output()));
            throw;
        }
    }
    static void beginTest() { Share::reset(); }
    void endTest()
    {
        program.reset();
        verifyNoStrayFiles();
        Share::reset();
    }
};

} // namespace e2e
