#include "app/RenderHost.h"

#include "app/Main.h"
#include "app/TrackBar.h"
#include "common/Prompts.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QThread>
#include <algorithm>

TMainFormRenderHost::TMainFormRenderHost(TMainForm& form) : FForm(form) {}

TMainFormRenderHost::~TMainFormRenderHost() { SetHourglass(false); }

const TOutputSettings& TMainFormRenderHost::OutputSettings() { return FForm.OutputSettings; }

bool TMainFormRenderHost::StopRequested() { return FForm.StopRequested(); }

void TMainFormRenderHost::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

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

void TMainFormRenderHost::Pause(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        const qint64 left = milliseconds - clock.elapsed();
        if (left > 0)
            QThread::msleep(static_cast<unsigned long>(std::min<qint64>(left, 20)));
    }
}

bool RenderClipOnForm(TMainForm& form, const QString& sourceFile, const QString& outputFile, uint16_t width,
                      uint16_t height, uint16_t audioFormatIndex, double frameRate, int32_t rangeStart,
                      int32_t rangeEnd, TClipFormat format) {
    TMainFormRenderHost host(form);
    return RenderClip(host, sourceFile, outputFile, width, height, audioFormatIndex, frameRate, rangeStart, rangeEnd,
                      format);
}
