// The program's command line: `framewhisk [FILE]`, plus --help and --version.
// Qt's own options (-platform, -style, ...) are taken out by QApplication
// before the rest is read.
#pragma once

#include <QString>
#include <QStringList>

struct TCommandLine {
    enum class TAction { Run, Help, Version, Error };
    TAction Action = TAction::Run;
    QString File;  // Run: the movie to open when the window appears ("" : none)
    QString Text;  // Help, Version: what to print; Error: the message for stderr
};

// Reads the arguments (the program's name first). --help and --version win
// wherever they stand before "--"; an unknown option is an error; of several
// files the first is opened. FILE stays as given (relative to the current folder).
TCommandLine ParseCommandLine(const QStringList& args);
