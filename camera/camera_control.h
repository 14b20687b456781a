#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string_view>
#include <variant>
#include <vector>

namespace camera {

class LiveView;

class CameraError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class DispatchKind { Method, PropertyPut };

// One argument of a call. The pointer alternatives are by-reference
// arguments: the callee may write through them.
using Argument = std::variant<std::int32_t, QString, std::int32_t*, QString*>;
using Result = std::variant<std::monostate, std::int32_t>;

struct Operation {
    std::string_view name;
    std::int32_t dispid;
    DispatchKind kind;
    int argumentCount;
};

// The camera control's calls. Everything that crosses the dispatch boundary
// is identified by these numbers and kinds, and nothing else.
namespace operation {
inline constexpr Operation InitializeControl { "InitializeControl", 1, DispatchKind::Method, 3 };
inline constexpr Operation SetStartupOptions { "SetStartupOptions", 25, DispatchKind::Method, 3 };
inline constexpr Operation StartControl { "StartControl", 2, DispatchKind::Method, 1 };
inline constexpr Operation StartupSwitch { "StartupSwitch", 33, DispatchKind::PropertyPut, 1 };
inline constexpr Operation SelectCamera { "SelectCamera", 8, DispatchKind::Method, 1 };
inline constexpr Operation SaveStill { "SaveStill", 15, DispatchKind::Method, 4 };
} // namespace operation

inline constexpr std::array<Operation, 6> Operations { operation::InitializeControl,
    operation::SetStartupOptions, operation::StartControl, operation::StartupSwitch, operation::SelectCamera,
    operation::SaveStill };

// The application name and settings key handed over at start-up.
inline const QString ControlApplicationName = QStringLiteral("TAVEX_DEMO");
inline const QString ControlSettingsKey
    = QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\SampleCams\\LiveVideo");

// The one boundary between the window and whatever camera stands behind it.
// Arguments arrive in reverse: the first argument of an operation is the
// last element of the vector.
class CameraDispatch {
public:
    // The answer to a call made without waiting: its result, or its error.
    using Done = std::function<void(const Result& result, std::exception_ptr error)>;

    virtual ~CameraDispatch() = default;
    // Returns once the operation is done; a wait for the camera blocks.
    virtual Result invoke(std::int32_t dispid, DispatchKind kind, std::vector<Argument>& arguments) = 0;
    // The same call, answered on the event loop, never inside this call.
    // By-reference arguments must live until `done` runs. By default the
    // call is made now and answered later.
    virtual void invokeLater(
        std::int32_t dispid, DispatchKind kind, std::vector<Argument> arguments, Done done);
    // The widget in the main window that shows the live camera.
    virtual void attachView(LiveView* view) = 0;
    // A capture begins: the SaveStill of each camera that follows may take
    // that camera's first frame since now, so both stills share one wait.
    // Until endCapture, a camera plugged in again is restarted only after.
    virtual void beginCapture() { }
    virtual void endCapture() { }
};

// Typed calls over a dispatch boundary, under the control's names.
class LiveCamera {
public:
    explicit LiveCamera(CameraDispatch& dispatch)
        : m_dispatch(dispatch)
    {
    }

    void InitializeControl(const QString& applicationName, const QString& settingsKey, std::int32_t flags);
    void SetStartupOptions(std::int32_t mirror, std::int32_t stretch, std::int32_t keepStreaming);
    void StartControl(std::int32_t& status);
    void StartupSwitch(std::int32_t value);
    // Non-zero once that camera delivers frames, 0 when it cannot be reached.
    std::int32_t SelectCamera(std::int32_t index);
    void SaveStill(std::int32_t compression, std::int32_t bitsPerPixel, QString& path, const QString& note);

    // The same without waiting: the answer comes on the event loop.
    void StartControlLater(std::function<void(std::int32_t status, std::exception_ptr error)> done);
    void SelectCameraLater(
        std::int32_t index, std::function<void(std::int32_t result, std::exception_ptr error)> done);
    void SaveStillLater(std::int32_t compression, std::int32_t bitsPerPixel, const QString& path,
        const QString& note, std::function<void(std::exception_ptr error)> done);

    void attachView(LiveView* view) { m_dispatch.attachView(view); }
    void beginCapture() { m_dispatch.beginCapture(); }
    void endCapture() { m_dispatch.endCapture(); }

private:
    Result call(const Operation& op, std::vector<Argument> arguments);
    void callLater(const Operation& op, std::vector<Argument> arguments, CameraDispatch::Done done);

    CameraDispatch& m_dispatch;
};

// Checks a call's arguments against an operation and hands them out in the
// order the operation lists them.
class ArgumentReader {
public:
    ArgumentReader(const Operation& op, std::vector<Argument>& arguments);
    std::int32_t longAt(int position) const;
    const QString& stringAt(int position) const;
    std::int32_t& longRefAt(int position) const;
    QString& stringRefAt(int position) const;

private:
    Argument& at(int position) const;
    [[noreturn]] void wrongType(int position, const char* expected) const;

    const Operation& m_op;
    std::vector<Argument>& m_arguments;
};

const Operation* findOperation(std::int32_t dispid, DispatchKind kind);

} // namespace camera
