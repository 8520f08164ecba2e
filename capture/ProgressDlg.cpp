#include "capture/ProgressDlg.h"

#include "common/JobSignals.h"
#include "common/Prompts.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

TProgressForm::TProgressForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Writing images"));
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setFixedWidth(241);
    ProgressBar1->setTextVisible(false);
    lbFileName = new QLabel(QStringLiteral("xxx"), this);
    btnStop = new QPushButton(QStringLiteral("Stop"), this);
    tmStart = new QTimer(this);
    tmStart->setInterval(100);
    tmStart->setSingleShot(true);
    JobSignals = new TJobSignals(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ProgressBar1, 0, Qt::AlignHCenter);
    layout->addWidget(lbFileName);
    layout->addWidget(btnStop, 0, Qt::AlignHCenter);
    setFixedSize(262, 89);
    connect(btnStop, &QPushButton::clicked, this, &TProgressForm::reject);
    connect(tmStart, &QTimer::timeout, this, [this] { tmStartTimer(); });
    // The bar shows the index (from 0) of the last sample done.
    connect(JobSignals, &TJobSignals::progress, this,
            [this](const media::TJobProgress& p) {
                ProgressBar1->setValue(static_cast<int>(std::min<int64_t>(p.Done - 1, INT32_MAX)));
            },
            Qt::QueuedConnection);
    // The name of the file being written; a message that does not end the
    // batch ("Can not delete file ...") in a message box.
    connect(JobSignals, &TJobSignals::notice, this,
            [this](const media::TJobNotice& n) {
                const QString text = QString::fromStdString(n.Text);
                if (n.Kind == media::TJobNotice::Writing) lbFileName->setText(text);
                else ::ShowMessage(text);
            },
            Qt::QueuedConnection);
    connect(JobSignals, &TJobSignals::ended, this, &TProgressForm::JobEnded, Qt::QueuedConnection);
}

TProgressForm::~TProgressForm() {
    FJob.reset();  // cancels a batch still running and waits for its end
    if (FHourglass) QApplication::restoreOverrideCursor();
}

void TProgressForm::Execute(const TProgressInfo& info) {
    Info = info;
    Prompts().ExecModal(*this);
}

void TProgressForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous() && !FRunning && !FJob) tmStart->start();
}

void TProgressForm::tmStartTimer() {
    tmStart->stop();  // fires once: the batch is never started twice
    CaptureFrames();
}

void TProgressForm::reject() {
    if (FRunning) {
        FJob->Cancel();  // returns at once; the dialog closes when the job's end arrives
        return;
    }
    tmStart->stop();  // closed before the batch began: it never begins
    QDialog::reject();
}

void TProgressForm::CaptureFrames() {
    if (FRunning || FJob) return;
    media::TCaptureSpec spec;
    QString error;
    if (!CaptureSpecOf(Info, spec, error)) {
        FResult = TCaptureResult{};
        FResult.End = TCaptureResult::Failed;
        FResult.Error = error;
        Finish();
        return;
    }
    ProgressBar1->setMaximum(static_cast<int>(std::min<uint32_t>(Info.SampleCount, INT32_MAX)));
    ProgressBar1->setValue(1);
    // The hourglass over the whole application while the batch runs.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    FHourglass = true;
    FRunning = true;
    FJob = media::TCaptureJob::Start(std::move(spec), JobSignals->Events());
}

void TProgressForm::JobEnded(const media::TJobEnd& end) {
    FRunning = false;
    if (FHourglass) {
        QApplication::restoreOverrideCursor();
        FHourglass = false;
    }
    FResult = CaptureResultOf(end);
    Finish();
}

void TProgressForm::Finish() {
    if (FResult.End == TCaptureResult::Failed) MessageDlg(FResult.Error, TMsgDlgType::Error, mbOK);
    else if (!FResult.NothingTakenMessage().isEmpty()) MessageDlg(FResult.NothingTakenMessage(), TMsgDlgType::Error, mbOK);
    done(QDialog::Rejected);
}
