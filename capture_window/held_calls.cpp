#include "capture_window/held_calls.h"

#include <QApplication>
#include <QTimer>

namespace {
constexpr int RecheckWhileBoxOpenMs = 100;
}

void HeldCalls::run(std::function<void()> call)
{
    if (holding())
        m_held.push_back(std::move(call));
    else
        call();
}

void HeldCalls::later(std::function<void()> call)
{
    QMetaObject::invokeMethod(
        this, [this, call = std::move(call)]() mutable { run(std::move(call)); }, Qt::QueuedConnection);
}

void HeldCalls::whenNoBoxIsOpen(std::function<void()> call)
{
    later([this, call = std::move(call)]() mutable {
        if (!QApplication::activeModalWidget()) {
            call();
            return;
        }
        QTimer::singleShot(RecheckWhileBoxOpenMs, this,
            [this, call = std::move(call)]() mutable { whenNoBoxIsOpen(std::move(call)); });
    });
}

void HeldCalls::hold()
{
    ++m_holds;
}

void HeldCalls::release()
{
    if (m_holds > 0 && --m_holds == 0) {
        // The step that waited is still on the stack: what was held runs
        // once it has returned.
        std::vector<std::function<void()>> held = std::move(m_held);
        m_held.clear();
        for (auto& call : held)
            later(std::move(call));
    }
}
