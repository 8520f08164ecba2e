// The main window as what shows a clip job: the captions go to lbBusy and
// lbTimeLeft, notices to lbNotice, the preview position to tbPosition.
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

private:
    TMainForm& FForm;
    bool FHourglass = false;
};


