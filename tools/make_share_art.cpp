// Draws the view-switch button faces into the software folder of a share.
#include "artwork.h"
#include "views.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--icon") {
        // The program's icon: the webcam of the view button, squared.
        const QImage face = artwork::viewButtonFace(views::color().name);
        const QImage webcam
            = face.copy(0, 0, 36, 38).scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        // Square, as icon themes expect: centred on a clear 64x64.
        QImage icon(64, 64, QImage::Format_ARGB32);
        icon.fill(Qt::transparent);
        QPainter(&icon).drawImage((64 - webcam.width()) / 2, (64 - webcam.height()) / 2, webcam);
        return icon.save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_share_art FOLDER | --icon FILE.png\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "make_share_art: cannot create %s\n", argv[1]);
        return 1;
    }
    for (const views::View* view : views::all()) {
        const QString path = folder + QStringLiteral("/bt_vw_") + view->name + QStringLiteral(".jpg");
        if (!artwork::viewButtonFace(view->name).save(path, "JPG", 95)) {
            std::fprintf(stderr, "make_share_art: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
