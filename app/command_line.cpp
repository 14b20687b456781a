#include "app/command_line.h"

#include "build_config.h"

#include <QCommandLineParser>

std::optional<int> answerCommandLine(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Photographs samples with the bench's two cameras: scan a sample's number, take a\n"
                       "still of each camera, store both on the file server and convert them to JPEG.\n"
                       "Where the file server is mounted, and which cameras to use, is set outside the\n"
                       "program (see imagemaker(1) and imagemaker-cameras(1))."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    if (!parser.parse(arguments)) {
        err << "imagemaker: " << parser.errorText() << " (see imagemaker --help)\n";
        return 2;
    }
    if (parser.isSet(help)) {
        out << parser.helpText();
        return 0;
    }
    if (parser.isSet(version)) {
        out << "imagemaker "
            << QString::fromUtf8(buildconfig::Version.data(), qsizetype(buildconfig::Version.size())) << "\n";
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        err << "imagemaker: takes no arguments, not \"" << parser.positionalArguments().join(QLatin1Char(' '))
            << "\" (see imagemaker --help)\n";
        return 2;
    }
    return std::nullopt;
}
