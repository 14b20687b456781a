#include "camera/camera_control.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <string>

namespace camera {

Result LiveCamera::call(const Operation& op, std::vector<Argument> arguments)
{
    std::reverse(arguments.begin(), arguments.end());
    return m_dispatch.invoke(op.dispid, op.kind, arguments);
}

void LiveCamera::InitializeControl(
    const QString& applicationName, const QString& settingsKey, std::int32_t flags)
{
    call(operation::InitializeControl, { applicationName, settingsKey, flags });
}

void LiveCamera::SetStartupOptions(std::int32_t mirror, std::int32_t stretch, std::int32_t keepStreaming)
{
    call(operation::SetStartupOptions, { mirror, stretch, keepStreaming });
}

void LiveCamera::StartControl(std::int32_t& status)
{
    call(operation::StartControl, { &status });
}

void LiveCamera::StartupSwitch(std::int32_t value)
{
    call(operation::StartupSwitch, { value });
}

std::int32_t LiveCamera::SelectCamera(std::int32_t index)
{
    const Result result = call(operation::SelectCamera, { index });
    if (const auto* value = std::get_if<std::int32_t>(&result))
        return *value;
    throw CameraError("SelectCamera returned no value");
}

void LiveCamera::SaveStill(
    std::int32_t compression, std::int32_t bitsPerPixel, QString& path, const QString& note)
{
    call(operation::SaveStill, { compression, bitsPerPixel, &path, note });
}

void CameraDispatch::invokeLater(
    std::int32_t dispid, DispatchKind kind, std::vector<Argument> arguments, Done done)
{
    Result result;
    std::exception_ptr error;
    try {
        result = invoke(dispid, kind, arguments);
    } catch (...) {
        error = std::current_exception();
    }
    QTimer::singleShot(
        0, QCoreApplication::instance(), [done = std::move(done), result, error] { done(result, error); });
}

void LiveCamera::callLater(const Operation& op, std::vector<Argument> arguments, CameraDispatch::Done done)
{
    std::reverse(arguments.begin(), arguments.end());
    m_dispatch.invokeLater(op.dispid, op.kind, std::move(arguments), std::move(done));
}

void LiveCamera::StartControlLater(std::function<void(std::int32_t status, std::exception_ptr error)> done)
{
    auto status = std::make_shared<std::int32_t>(0);
    callLater(operation::StartControl, { status.get() },
        [status, done = std::move(done)](const Result&, std::exception_ptr error) { done(*status, error); });
}

void LiveCamera::SelectCameraLater(
    std::int32_t index, std::function<void(std::int32_t result, std::exception_ptr error)> done)
{
    callLater(operation::SelectCamera, { index },
        [done = std::move(done)](const Result& result, std::exception_ptr error) {
            const auto* value = std::get_if<std::int32_t>(&result);
            if (!error && !value)
                error = std::make_exception_ptr(CameraError("SelectCamera returned no value"));
            done(value ? *value : 0, error);
        });
}

void LiveCamera::SaveStillLater(std::int32_t compression, std::int32_t bitsPerPixel, const QString& path,
    const QString& note, std::function<void(std::exception_ptr error)> done)
{
    auto byReference = std::make_shared<QString>(path);
    callLater(operation::SaveStill, { compression, bitsPerPixel, byReference.get(), note },
        [byReference, done = std::move(done)](const Result&, std::exception_ptr error) { done(error); });
}

const Operation* findOperation(std::int32_t dispid, DispatchKind kind)
{
    const auto it = std::find_if(Operations.begin(), Operations.end(),
        [&](const Operation& op) { return op.dispid == dispid && op.kind == kind; });
    return it == Operations.end() ? nullptr : &*it;
}

ArgumentReader::ArgumentReader(const Operation& op, std::vector<Argument>& arguments)
    : m_op(op)
    , m_arguments(arguments)
{
    if (static_cast<int>(arguments.size()) != op.argumentCount)
        throw CameraError(std::string(op.name) + " takes " + std::to_string(op.argumentCount)
            + " arguments, not " + std::to_string(arguments.size()));
}

Argument& ArgumentReader::at(int position) const
{
    return m_arguments[m_arguments.size() - 1 - static_cast<size_t>(position)];
}

void ArgumentReader::wrongType(int position, const char* expected) const
{
    throw CameraError(
        std::string(m_op.name) + ": argument " + std::to_string(position + 1) + " must be " + expected);
}

std::int32_t ArgumentReader::longAt(int position) const
{
    if (const auto* value = std::get_if<std::int32_t>(&at(position)))
        return *value;
    wrongType(position, "a Long");
}

const QString& ArgumentReader::stringAt(int position) const
{
    if (const auto* value = std::get_if<QString>(&at(position)))
        return *value;
    wrongType(position, "a String");
}

std::int32_t& ArgumentReader::longRefAt(int position) const
{
    if (auto* value = std::get_if<std::int32_t*>(&at(position)); value && *value)
        return **value;
    wrongType(position, "a Long by reference");
}

QString& ArgumentReader::stringRefAt(int position) const
{
    if (auto* value = std::get_if<QString*>(&at(position)); value && *value)
        return **value;
    wrongType(position, "a String by reference");
}

} // namespace camera
