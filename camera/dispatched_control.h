#pragma once

#include "camera/camera_control.h"

#include <QObject>

namespace camera {

// A camera control reached through the dispatch boundary: each call is
// checked against its operation (DISPID, kind, the arguments' number and
// types) and handed to the typed operation, which only this class calls.
// The operations that wait for a camera have a form that answers later;
// whatever it answers reaches the caller from the event loop.
class DispatchedControl : public QObject, public CameraDispatch {
public:
    Result invoke(std::int32_t dispid, DispatchKind kind, std::vector<Argument>& arguments) final;
    void invokeLater(
        std::int32_t dispid, DispatchKind kind, std::vector<Argument> arguments, Done done) final;

protected:
    using Answer = std::function<void(std::int32_t result, std::exception_ptr error)>;

private:
    virtual void initializeControl(
        const QString& applicationName, const QString& settingsKey, std::int32_t flags)
        = 0;
    virtual void setStartupOptions(std::int32_t mirror, std::int32_t stretch, std::int32_t keepStreaming) = 0;
    // Returns what is written to StartControl's argument.
    virtual std::int32_t startControl() = 0;
    virtual void setStartupSwitch(std::int32_t value) = 0;
    virtual std::int32_t selectCamera(std::int32_t index) = 0;
    virtual void saveStill(
        std::int32_t compression, std::int32_t bitsPerPixel, const QString& path, const QString& note)
        = 0;
    // Without waiting; `answer` may run inside the call, or later. By
    // default the operation is made now.
    virtual void startControlLater(Answer answer);
    virtual void selectCameraLater(std::int32_t index, Answer answer);
    virtual void saveStillLater(std::int32_t compression, std::int32_t bitsPerPixel, const QString& path,
        const QString& note, Answer answer);
};

} // namespace camera
