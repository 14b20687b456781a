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
    if (dynamic_cast<const image_store::SampleTakenElsewhere*>(&error))
        return QStringLiteral("another bench took it");
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

QString conversionFailureText(const QString& viewName, const QString& sample)
{
    const QString view = viewName == QLatin1String("Color") ? QStringLiteral("Colour") : viewName;
    return view + QStringLiteral(" JPEG of ") + sample + QStringLiteral(" failed");
}
