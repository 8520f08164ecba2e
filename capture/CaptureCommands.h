// The main window's two image commands, as calls the window makes:
//
//   CaptureImages: the "Image captures" mode of Start (settings dialog, the
//   batch with its progress dialog, then the batch folder opened).
//   CaptureThisFrame: "Capture this frame" (F8).
#pragma once

#include "media/RenderEngine.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

class QObject;
class QWidget;
class TImageForm;
struct TMovieInfo;

// What CaptureImages needs of the main window.
struct TCaptureHost {
    QWidget* Owner = nullptr;              // the main window; parent of the progress dialog
    TImageForm* ImageForm = nullptr;       // the settings dialog the window created once
    TMovieInfo* Movie = nullptr;           // the open movie (FrameRate 0: none)
    int32_t RangeStart = 0;                // the clip range, frame numbers
    int32_t RangeEnd = 0;
    bool Busy = false;                     // a conversion is under way
    std::vector<media::TFrameRange> Ranges;  // the segments, sampled in place of the range (empty: none)
    std::function<void()> LoadPreferences;
    std::function<void()> SavePreferences;
    std::function<QString()> ImageFolder;  // read after LoadPreferences ran
};

// Runs one capture batch: does nothing without a movie or while busy; shows
// the settings dialog (Cancel: nothing more); re-reads the preferences;
// composes the job for the folder ImageFolder + TimeStampName() + "/";
// saves the preferences; runs the progress dialog; then opens the folder.
// Returns the batch folder, or "" when no batch ran.
QString CaptureImages(const TCaptureHost& host);

// Starts saving the frame at track-bar position `position` at the movie's
// full size as a JPEG of quality 90 named imageFolder + TimeStampName() +
// ".jpg" (a snapshot job) and returns at once. When the job's end arrives
// (queued, on the window's thread) it shows "Image was saved as " + path, or
// the error in a message box; nothing when no frame came. Does nothing
// without a movie or while busy. Returns the object that follows the job (it
// deletes itself once the outcome is shown), or nullptr when none started.
QObject* CaptureThisFrame(TMovieInfo& movie, int32_t position, bool busy, const QString& imageFolder);
