#include "image_maker_app.h"

#include "capture_window.h"
#include "gst_camera.h"
#include "image_store.h"
#include "prompts.h"

#include <QApplication>

int runImageMaker(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(ApplicationTitle);

    const image_store::ShareMap share = image_store::ShareMap::fromBuild();
    image_store::DetachedLauncher launcher(share);
    image_store::ImageStore store(share, launcher);
    camera::GstCamera camera(camera::GstCamera::buildSources(), share);
    MessageBoxPrompts prompts;

    Form_ImageMaker window(CaptureWindowServices{camera, store, prompts});
    window.show();
    return application.exec();
}
