// Program entry: the command line, the application, the help file, the main
// window, the loop.
#include "app/CommandLine.h"
#include "app/Main.h"
#include "help/HelpViewer.h"
#include "platform/ProcessHeap.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <csignal>
#include <cstdio>

namespace {

QStringList RawArguments(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    // --help and --version answer without a display.
    const TCommandLine early = ParseCommandLine(RawArguments(argc, argv));
    if (early.Action == TCommandLine::TAction::Help || early.Action == TCommandLine::TAction::Version) {
        std::fputs(early.Text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    // A file size limit (ulimit -f) makes a write fail with a message the
    // window shows, instead of ending the program with the render half done.
    std::signal(SIGXFSZ, SIG_IGN);
    KeepFreedPicturesInHeap();

    QApplication app(argc, argv);  // takes Qt's own options out
    QApplication::setApplicationName(QStringLiteral("Framewhisk"));
    QGuiApplication::setDesktopFileName(QStringLiteral(FW_APP_ID));
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1-%2.png").arg(QStringLiteral(FW_APP_ID)).arg(size));
    QApplication::setWindowIcon(icon);

    const TCommandLine command = ParseCommandLine(QCoreApplication::arguments());
    if (command.Action == TCommandLine::TAction::Error) {
        std::fputs(command.Text.toLocal8Bit().constData(), stderr);
        return 2;
    }

    SetApplicationHelpFile(QStringLiteral("Framewhisk.chm"));
    int rc = 0;
    {
        TMainForm mainForm;
        // The file is taken relative to the folder the program was started in.
        mainForm.StartUp(command.File.isEmpty() ? QString() : QFileInfo(command.File).absoluteFilePath());
        rc = app.exec();
    }
    ReleaseHelpWindows();
    return rc;
}
