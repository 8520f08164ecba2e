// Program entry: the application, the help file, the main window, the loop.
// The program reads no command line.
#include "app/Main.h"
#include "common/Prompts.h"
#include "help/HelpViewer.h"
#include "platform/Hive.h"

#include <QApplication>
#include <QTimer>

#include <csignal>

int main(int argc, char** argv) {
    // A file size limit (ulimit -f) makes a write fail with a message the
    // window shows, instead of ending the program with the render half done.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Framewhisk"));
    SetApplicationHelpFile(QStringLiteral("Framewhisk.chm"));
    int rc = 0;
    {
        TMainForm mainForm;
        mainForm.show();
        // A settings file found broken at start was kept aside: say so once.
        // The update check waits until the notice has been read.
        QTimer::singleShot(0, &mainForm, [&mainForm] {
            const QString notice = THive::TakeStartupNotice();
            if (notice.isEmpty())
                return;
            const bool armed = mainForm.TimerUpdate->isActive();
            mainForm.TimerUpdate->stop();
            ShowMessage(notice);
            if (armed)
                mainForm.TimerUpdate->start();
        });
        rc = app.exec();
    }
    ReleaseHelpWindows();
    return rc;
}
