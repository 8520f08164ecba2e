#include "platform/DesktopOpener.h"
// Placeholder until the desktop opener lands.
namespace {
class TNullOpener : public TDesktopOpener {
public:
    bool Launch(const TDesktopRequest&) override { return false; }
};
std::unique_ptr<TDesktopOpener>& Current() {
    static std::unique_ptr<TDesktopOpener> current = std::make_unique<TNullOpener>();
    return current;
}
}  // namespace
TDesktopOpener& DesktopOpener() { return *Current(); }
std::unique_ptr<TDesktopOpener> SetDesktopOpener(std::unique_ptr<TDesktopOpener> opener) {
    auto previous = std::move(Current());
    Current() = opener ? std::move(opener) : std::make_unique<TNullOpener>();
    return previous;
}
