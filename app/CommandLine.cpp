#include "app/CommandLine.h"

#include "support/SupportInfo.h"

namespace {

QString HelpText() {
    return QStringLiteral(
        "Usage: framewhisk [OPTION]... [FILE]\n"
        "Cuts a clip out of a movie and converts it, and takes still images out of movies.\n"
        "\n"
        "  FILE           the movie to open when the window appears\n"
        "  -h, --help     print this help and exit\n"
        "  -v, --version  print the version and exit\n"
        "\n"
        "Qt's own options (-platform NAME, -style NAME, ...) are accepted as well.\n");
}

}  // namespace

TCommandLine ParseCommandLine(const QStringList& args) {
    TCommandLine result;
    bool optionsEnd = false;
    QString unknown;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (!optionsEnd && a == QLatin1String("--")) {
            optionsEnd = true;
        } else if (!optionsEnd && (a == QLatin1String("-h") || a == QLatin1String("--help"))) {
            return {TCommandLine::TAction::Help, {}, HelpText()};
        } else if (!optionsEnd && (a == QLatin1String("-v") || a == QLatin1String("--version"))) {
            return {TCommandLine::TAction::Version, {},
                    QStringLiteral("%1 %2\n").arg(QString::fromLatin1(ProgramName), QString::fromLatin1(ProgramVersion))};
        } else if (!optionsEnd && a.size() > 1 && a.startsWith(QLatin1Char('-'))) {
            if (unknown.isEmpty())
                unknown = a;
        } else if (result.File.isEmpty() && !a.isEmpty()) {
            result.File = a;
        }
    }
    if (!unknown.isEmpty()) {
        result.Action = TCommandLine::TAction::Error;
        result.File.clear();
        result.Text = QStringLiteral("framewhisk: unknown option '%1'\nTry 'framewhisk --help'.\n").arg(unknown);
    }
    return result;
}
