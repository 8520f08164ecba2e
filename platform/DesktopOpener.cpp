#include "platform/DesktopOpener.h"

#include <QProcess>

namespace {

// Hands every request to xdg-open, detached: the desktop picks the file
// manager, the associated program, the browser, the mail program or the
// media player. Never waits for it.
class TXdgOpener : public TDesktopOpener {
public:
    bool Launch(const TDesktopRequest& request) override {
        if (request.Target.isEmpty())
            return false;
        // A relative name beginning with "-" would read as an option.
        const QString target =
            request.Target.startsWith(QLatin1Char('-')) ? QStringLiteral("./") + request.Target : request.Target;
        return QProcess::startDetached(QStringLiteral("xdg-open"), {target});
    }
};

std::unique_ptr<TDesktopOpener>& Current() {
    static std::unique_ptr<TDesktopOpener> current = std::make_unique<TXdgOpener>();
    return current;
}

}  // namespace

TDesktopOpener& DesktopOpener() { return *Current(); }

std::unique_ptr<TDesktopOpener> SetDesktopOpener(std::unique_ptr<TDesktopOpener> opener) {
    auto previous = std::move(Current());
    Current() = opener ? std::move(opener) : std::make_unique<TXdgOpener>();
    return previous;
}
