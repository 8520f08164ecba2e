#include "app/RenderHost.h"

#include "app/Main.h"
#include "app/TrackBar.h"
#include "common/Prompts.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <algorithm>

TMainFormRenderHost::TMainFormRenderHost(TMainForm& form) : FForm(form) {}

TMainFormRenderHost::~TMainFormRenderHost() { SetHourglass(false); }

const TOutputSettings& TMainFormRenderHost::OutputSettings() { return FForm.OutputSettings; }

void TMainFormRenderHost::SetBusyCaption(const QString& caption) { FForm.lbBusy->setText(caption); }

void TMainFormRenderHost::SetBusyVisible(bool visible) { FForm.lbBusy->setVisible(visible); }

void TMainFormRenderHost::SetTimeLeftCaption(const QString& caption) { FForm.lbTimeLeft->setText(caption); }

void TMainFormRenderHost::SetTimeLeftVisible(bool visible) { FForm.lbTimeLeft->setVisible(visible); }

bool TMainFormRenderHost::ShowPreviewWhenClipping() { return FForm.ShowPreview1->isChecked(); }

void TMainFormRenderHost::SetTrackBarPosition(int32_t frame) {
    // The track bar reports the change and the preview fetches that frame.
    FForm.tbPosition->SetPosition(frame);
}

void TMainFormRenderHost::SetHourglass(bool on) {
    if (on == FHourglass)
        return;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
    FHourglass = on;
}

void TMainFormRenderHost::ShowFailure(const QString& message, const QString& reason) {
    ShowMessage(reason.isEmpty() ? message : message + QStringLiteral("\n\n") + reason);
}

void TMainFormRenderHost::ShowNotice(const QString& text) {
    FForm.lbNotice->setText(text);
    FForm.lbNotice->setVisible(!text.isEmpty());
}
