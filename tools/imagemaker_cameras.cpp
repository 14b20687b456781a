#include "app/log_output.h"
#include "tools/camera_tool.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    log_output::install();
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runCameraTool(QCoreApplication::arguments().mid(1), out, err);
}
