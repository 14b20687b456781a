#include "capture_window/failure_words.h"

#include "camera/camera_control.h"
#include "image_store/process_launcher.h"
#include "image_store/sample_claim.h"
#include "image_store/share_path.h"
#include "image_store/share_worker.h"
#include "image_store/store_error.h"

namespace {

QString whatFailed(const std::exception& error)
{
    if (dynamic_cast<const camera::CameraError*>(&error))
        return QStringLiteral("no camera picture");
    if (dynamic_cast<const image_store::SampleBeingTaken*>(&error))
        return QStringLiteral("another bench has it");
    if (dynamic_cast<const image_store::SampleTakenElsewhere*>(&error))
        return QStringLiteral("another bench took it");
    if (dynamic_cast<const image_store::ShareUnreachable*>(&error))
        return QStringLiteral("share not reached");
    if (dynamic_cast<const image_store::ShareNotAnswering*>(&error))
        return QStringLiteral("server not answering");
    if (dynamic_cast<const image_store::StoreError*>(&error)
        || dynamic_cast<const image_store::SharePathError*>(&error))
        return QStringLiteral("server refused it");
    if (dynamic_cast<const image_store::LaunchError*>(&error))
        return QStringLiteral("converter not started");
    return QStringLiteral("unexpected error");
}

} // namespace

QString captureFailureText(const std::exception& error)
{
    return QStringLiteral("Capture failed: ") + whatFailed(error) + QStringLiteral(". Scan again.");
}

QString shareUnreachableMessage()
{
    return QStringLiteral(
        "The file server's sample folder cannot be reached. Check that the share is mounted, "
        "then press Get Wo.");
}

QString failureMessage(const std::exception& error)
{
    if (dynamic_cast<const camera::CameraError*>(&error))
        return QStringLiteral("The camera did not answer. Check that both cameras are plugged in, then try "
                              "again.");
    // Its message is written for the operator.
    if (dynamic_cast<const image_store::SampleTakenElsewhere*>(&error))
        return QString::fromUtf8(error.what());
    if (dynamic_cast<const image_store::ShareUnreachable*>(&error))
        return shareUnreachableMessage();
    if (dynamic_cast<const image_store::ShareNotAnswering*>(&error))
        return QStringLiteral("The file server does not answer. Check that it is running and reachable, "
                              "then try again.");
    if (dynamic_cast<const image_store::StoreError*>(&error)
        || dynamic_cast<const image_store::SharePathError*>(&error))
        return QStringLiteral("The file server refused the change: a file may be read-only or in use. "
                              "Ask the administrator to check the share.");
    if (dynamic_cast<const image_store::LaunchError*>(&error))
        return QStringLiteral("The JPEG converter could not be started. The bitmaps are kept; ask the "
                              "administrator to check the installation, then take the sample again.");
    return QStringLiteral("Something went wrong. The details are in the log; try again.");
}

QString failureMessage(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        return failureMessage(failure);
    } catch (...) {
        return failureMessage(std::runtime_error("unknown failure"));
    }
}

QString conversionFailureText(const QString& viewName, const QString& sample)
{
    const QString view = viewName == QLatin1String("Color") ? QStringLiteral("Colour") : viewName;
    return view + QStringLiteral(" JPEG of ") + sample + QStringLiteral(" failed");
}
