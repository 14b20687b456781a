#include "process_launcher.h"

#include "share_path.h"

#include <QFileInfo>
#include <QProcess>
#include <QStringList>

namespace image_store {

void DetachedLauncher::start(const QString& commandLine, int windowStyle)
{
    // The window style (2: minimised with focus) asks for a console window;
    // a converter here has no window, so the style has no meaning.
    Q_UNUSED(windowStyle);

    QStringList words = commandLine.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        throw LaunchError("Cannot start an empty command");
    for (QString& word : words) {
        if (ShareMap::isSharePath(word))
            word = m_share.toLocal(word);
    }
    const QString program = words.takeFirst();
    const QFileInfo info(program);
    if (!info.exists())
        throw LaunchError("Cannot start " + program.toStdString() + ": the program does not exist");
    if (!info.isFile() || !info.isExecutable())
        throw LaunchError("Cannot start " + program.toStdString() + ": the file is not executable");

    QProcess process;
    process.setProgram(program);
    process.setArguments(words);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached())
        throw LaunchError("Cannot start " + program.toStdString() + ": "
                          + process.errorString().toStdString());
}

} // namespace image_store
