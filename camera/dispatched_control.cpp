#include "camera/dispatched_control.h"

#include <string>

namespace camera {

namespace {

template <typename Operation>
void answerNow(Operation operation, const std::function<void(std::int32_t, std::exception_ptr)>& answer)
{
    std::int32_t result = 0;
    try {
        result = operation();
    } catch (...) {
        answer(0, std::current_exception());
        return;
    }
    answer(result, nullptr);
}

} // namespace

Result DispatchedControl::invoke(std::int32_t dispid, DispatchKind kind, std::vector<Argument>& arguments)
{
    const Operation* op = findOperation(dispid, kind);
    if (!op)
        throw CameraError("The camera has no operation with DISPID " + std::to_string(dispid)
            + (kind == DispatchKind::Method ? " (method)" : " (property put)"));
    const ArgumentReader args(*op, arguments);
    switch (dispid) {
    case operation::InitializeControl.dispid:
        initializeControl(args.stringAt(0), args.stringAt(1), args.longAt(2));
        return {};
    case operation::SetStartupOptions.dispid:
        setStartupOptions(args.longAt(0), args.longAt(1), args.longAt(2));
        return {};
    case operation::StartControl.dispid:
        args.longRefAt(0) = startControl();
        return {};
    case operation::StartupSwitch.dispid:
        setStartupSwitch(args.longAt(0));
        return {};
    case operation::SelectCamera.dispid:
        return selectCamera(args.longAt(0));
    case operation::SaveStill.dispid:
        saveStill(args.longAt(0), args.longAt(1), args.stringRefAt(2), args.stringAt(3));
        return {};
    default:
        break;
    }
    throw CameraError("Operation " + std::string(op->name) + " is not implemented");
}

void DispatchedControl::invokeLater(
    std::int32_t dispid, DispatchKind kind, std::vector<Argument> arguments, Done done)
{
    const Operation* op = findOperation(dispid, kind);
    if (!op
        || (dispid != operation::StartControl.dispid && dispid != operation::SelectCamera.dispid
            && dispid != operation::SaveStill.dispid)) {
        CameraDispatch::invokeLater(dispid, kind, std::move(arguments), std::move(done));
        return;
    }
    // Whenever the operation answers, the caller hears of it from the event loop.
    auto later = [this, done = std::move(done)](Result result, std::exception_ptr error) {
        QMetaObject::invokeMethod(
            this, [done, result, error] { done(result, error); }, Qt::QueuedConnection);
    };
    try {
        const ArgumentReader args(*op, arguments);
        switch (dispid) {
        case operation::StartControl.dispid: {
            std::int32_t* status = &args.longRefAt(0);
            startControlLater([later, status](std::int32_t result, std::exception_ptr error) {
                if (!error)
                    *status = result;
                later({}, error);
            });
            return;
        }
        case operation::SelectCamera.dispid:
            selectCameraLater(args.longAt(0), [later](std::int32_t result, std::exception_ptr error) {
                later(error ? Result {} : Result { result }, error);
            });
            return;
        default:
            saveStillLater(args.longAt(0), args.longAt(1), args.stringRefAt(2), args.stringAt(3),
                [later](std::int32_t, std::exception_ptr error) { later({}, error); });
            return;
        }
    } catch (...) {
        later({}, std::current_exception());
    }
}

void DispatchedControl::startControlLater(Answer answer)
{
    answerNow([this] { return startControl(); }, answer);
}

void DispatchedControl::selectCameraLater(std::int32_t index, Answer answer)
{
    answerNow([this, index] { return selectCamera(index); }, answer);
}

void DispatchedControl::saveStillLater(std::int32_t compression, std::int32_t bitsPerPixel,
    const QString& path, const QString& note, Answer answer)
{
    answerNow(
        [&] {
            saveStill(compression, bitsPerPixel, path, note);
            return 0;
        },
        answer);
}

} // namespace camera
