#include "platform/DesktopOpener.h"

#include <QCoreApplication>
#include <QProcess>
#include <utility>

namespace {

// Hands every request to xdg-open: the desktop picks the file manager, the
// associated program, the browser, the mail program or the media player.
// Never waits for it: its exit code arrives later, and one other than 0
// (3: no program for the request, 4: the program failed, ...) is reported
// as a failure.
class TXdgOpener : public TDesktopOpener {
public:
    bool Launch(const TDesktopRequest& request) override {
        if (request.Target.isEmpty())
            return false;
        // A relative name beginning with "-" would read as an option.
        const QString target =
            request.Target.startsWith(QLatin1Char('-')) ? QStringLiteral("./") + request.Target : request.Target;
        const QString program = QStringLiteral("xdg-open");
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)  // no event loop to hear the outcome: start it and let go
            return QProcess::startDetached(program, {target});

        // Owned by the application until it has finished (then freed).
        auto* process = new QProcess(app);
        process->setProgram(program);
        process->setArguments({target});
        // Its messages go where ours go; nothing is collected in memory.
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->setStandardInputFile(QProcess::nullDevice());
        QObject::connect(process, &QProcess::finished, process,
                         [process, request](int exitCode, QProcess::ExitStatus status) {
                             process->deleteLater();
                             if (status != QProcess::NormalExit || exitCode != 0)
                                 ReportDesktopFailure(request);
                         });
        process->start();
        if (!process->waitForStarted()) {
            process->deleteLater();
            return false;
        }
        return true;
    }
};

std::unique_ptr<TDesktopOpener>& Current() {
    static std::unique_ptr<TDesktopOpener> current = std::make_unique<TXdgOpener>();
    return current;
}

TDesktopFailureHandler& FailureHandler() {
    static TDesktopFailureHandler handler;
    return handler;
}

}  // namespace

TDesktopOpener& DesktopOpener() { return *Current(); }

std::unique_ptr<TDesktopOpener> SetDesktopOpener(std::unique_ptr<TDesktopOpener> opener) {
    auto previous = std::move(Current());
    Current() = opener ? std::move(opener) : std::make_unique<TXdgOpener>();
    return previous;
}

TDesktopFailureHandler SetDesktopFailureHandler(TDesktopFailureHandler handler) {
    return std::exchange(FailureHandler(), std::move(handler));
}

void ReportDesktopFailure(const TDesktopRequest& request) {
    // A copy: the handler may install another while it runs.
    const TDesktopFailureHandler handler = FailureHandler();
    if (handler)
        handler(request);
}

bool LaunchOnDesktop(const TDesktopRequest& request) {
    if (DesktopOpener().Launch(request))
        return true;
    ReportDesktopFailure(request);
    return false;
}
