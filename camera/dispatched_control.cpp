#include "camera/dispatched_control.h"

#include <string>

namespace camera {

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

} // namespace camera
