// The main window as the clip renderer's host: the renderer's captions go to
// lbBusy and lbTimeLeft, its notices to lbNotice, its preview position to tbPosition, its Stop question to
// the window's job state (Stopping or StoppingToClose); the window's events
// run between the renderer's polls.
// GUI thread only.
#pragma once

#include "convert/RenderClip.h"

#include <cstdint>

class TMainForm;

class TMainFormRenderHost : public TRenderClipHost {
public:
    explicit TMainFormRenderHost(TMainForm& form);
    ~TMainFormRenderHost() override;  // puts the cursor back if the hourglass is still on
    TMainFormRenderHost(const TMainFormRenderHost&) = delete;
    TMainFormRenderHost& operator=(const TMainFormRenderHost&) = delete;

    const TOutputSettings& OutputSettings() override;
    bool StopRequested() override;
    void ProcessMessages() override;
    void SetBusyCaption(const QString& caption) override;
    void SetBusyVisible(bool visible) override;
    void SetTimeLeftCaption(const QString& caption) override;
    void SetTimeLeftVisible(bool visible) override;
    bool ShowPreviewWhenClipping() override;
    void SetTrackBarPosition(int32_t frame) override;
    void SetHourglass(bool on) override;
    // Shows "Fail to make clip " + name, with the reason on a line of its own.
    void ShowFailure(const QString& message, const QString& reason) override;
    // Shows the line in lbNotice, without a question; it stays until the
    // next conversion starts.
    void ShowNotice(const QString& text) override;
    // Waits while the window keeps painting and its timers run; user input
    // waits until the pause is over.
    void Pause(int milliseconds) override;

private:
    TMainForm& FForm;
    bool FHourglass = false;
};

// RenderClip with the main window as its host.
bool RenderClipOnForm(TMainForm& form, const QString& sourceFile, const QString& outputFile, uint16_t width,
                      uint16_t height, uint16_t audioFormatIndex, double frameRate, int32_t rangeStart,
                      int32_t rangeEnd, TClipFormat format);
