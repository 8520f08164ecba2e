// The one seam through which the program hands things to the desktop: folder
// windows, documents, web and mail addresses, and the media player.
// The real opener runs xdg-open detached and never waits for it; tests install
// a recording opener instead.
#pragma once

#include <QString>
#include <QStringList>
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
