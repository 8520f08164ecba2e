// The one seam through which the program hands things to the desktop: folder
// windows, documents, web and mail addresses, and the media player.
// The real opener starts xdg-open and never waits for it; when xdg-open
// later ends in failure (no file manager, player, browser or mail program
// for the request) the failure handler hears of it. Tests install a
// recording opener instead.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

enum class TDesktopAction {
    Explore,  // show a folder in the file manager
    Open,     // open a file, folder, http(s) or mailto: address with its associated program
    Play,     // play a media file
};

struct TDesktopRequest {
    TDesktopAction Action;
    QString Target;  // a local path or an address
};

class TDesktopOpener {
public:
    virtual ~TDesktopOpener() = default;
    // True when the request was handed to the desktop.
    virtual bool Launch(const TDesktopRequest& request) = 0;
};

// The opener in use (the xdg-open one unless a test installed another).
TDesktopOpener& DesktopOpener();
// Installs an opener; nullptr restores the real one. Returns the previous one.
std::unique_ptr<TDesktopOpener> SetDesktopOpener(std::unique_ptr<TDesktopOpener> opener);

// Told of a request that failed: refused at once by the opener in use, or
// reported later by the real opener (on the thread that launched it, with
// an event loop). The default handler does nothing.
using TDesktopFailureHandler = std::function<void(const TDesktopRequest&)>;
// Installs the handler; returns the previous one.
TDesktopFailureHandler SetDesktopFailureHandler(TDesktopFailureHandler handler);
// Hands the request to the opener in use; a refusal goes to the failure
// handler. True when the request was handed on.
bool LaunchOnDesktop(const TDesktopRequest& request);
// Tells the failure handler (openers that learn of a failure later).
void ReportDesktopFailure(const TDesktopRequest& request);

// Records every request and answers with `Result`. For tests.
class TRecordingDesktopOpener : public TDesktopOpener {
public:
    bool Launch(const TDesktopRequest& request) override {
        Requests.push_back(request);
        return Result;
    }
    std::vector<TDesktopRequest> Requests;
    bool Result = true;
};
