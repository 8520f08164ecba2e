// "Writing images": the modal progress dialog that runs one capture batch.
// Created for one batch by CaptureImages and freed after it. The dialog's
// one-shot timer starts the capture job (media::TCaptureJob), which runs on
// threads of its own; the dialog follows it through queued signals, asks it
// to stop on "Stop", Esc and the close box, and closes when its end arrives.
#pragma once

#include "capture/CaptureBatch.h"

#include <QDialog>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class TJobSignals;

class TProgressForm : public QDialog {
    Q_OBJECT
public:
    explicit TProgressForm(QWidget* parent = nullptr);
    ~TProgressForm() override;

    // Copies the record and shows the dialog modally (through the prompts
    // seam); returns when it has closed, after the batch ended.
    void Execute(const TProgressInfo& info);

    // Starts the batch over Info (the job creates the folder and writes the
    // images). When the job's end arrives, a failure (a write error ends the
    // batch) or a batch that took nothing is shown in a message box, and the
    // dialog closes with the Cancel result.
    void CaptureFrames();

    TProgressInfo Info;
    // How the last batch ended.
    const TCaptureResult& Result() const { return FResult; }

    QProgressBar* ProgressBar1;
    QLabel* lbFileName;
    QPushButton* btnStop;  // "Stop", also Esc and the close box
    QTimer* tmStart;        // 100 ms, one shot, armed when the dialog shows
    // The events of the batch's job, emitted on the job's thread; the dialog
    // listens through queued connections.
    TJobSignals* JobSignals;

public slots:
    // Esc, "Stop" and the close box: while the batch runs they cancel its job
    // (the dialog closes when the job has ended); otherwise they close.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void tmStartTimer();
    void JobEnded(const media::TJobEnd& end);
    void Finish();

    bool FRunning = false;
    bool FHourglass = false;
    TCaptureResult FResult;
    std::unique_ptr<media::TCaptureJob> FJob;  // destroyed (cancelled, waited for) before JobSignals
};
