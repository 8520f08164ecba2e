// "Writing images": the modal progress dialog that runs one capture batch.
// Created for one batch by CaptureImages and freed after it. The batch runs
// on the window thread inside the dialog's one-shot timer, letting pending
// messages run once per image (that is where "Stop" and Esc are seen).
#pragma once

#include "capture/CaptureBatch.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

class TProgressForm : public QDialog {
    Q_OBJECT
public:
    explicit TProgressForm(QWidget* parent = nullptr);

    // Copies the record and shows the dialog modally (through the prompts
    // seam); returns when it has closed, after the batch ended.
    void Execute(const TProgressInfo& info);

    // The batch over Info: creates the folder, writes the images, then closes
    // the dialog with the Cancel result. A write error ends the batch and is
    // shown in a message box; the dialog still closes.
    void CaptureFrames();

    bool StopRequested = false;
    TProgressInfo Info;
    // How the last batch ended.
    const TCaptureResult& Result() const { return FResult; }

    QProgressBar* ProgressBar1;
    QLabel* lbFileName;
    QPushButton* btnStop;  // "Stop", also Esc and the close box
    QTimer* tmStart;       // 100 ms, one shot, armed when the dialog shows

public slots:
    // Esc, "Stop" and the close box: while the batch runs they ask it to stop
    // (it closes the dialog when it has left its loop); otherwise they close.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void tmStartTimer();
    bool FRunning = false;
    TCaptureResult FResult;
};
