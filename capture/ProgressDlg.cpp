#include "capture/ProgressDlg.h"

#include "common/Prompts.h"
#include "common/RunAside.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace {
// The hourglass over the whole application while the batch runs.
struct TWaitCursor {
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};
}  // namespace

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
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ProgressBar1, 0, Qt::AlignHCenter);
    layout->addWidget(lbFileName);
    layout->addWidget(btnStop, 0, Qt::AlignHCenter);
    setFixedSize(262, 89);
    connect(btnStop, &QPushButton::clicked, this, &TProgressForm::reject);
    connect(tmStart, &QTimer::timeout, this, [this] { tmStartTimer(); });
}

void TProgressForm::Execute(const TProgressInfo& info) {
    Info = info;
    Prompts().ExecModal(*this);
}

void TProgressForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous() && !FRunning) tmStart->start();
}

void TProgressForm::tmStartTimer() {
    tmStart->stop();  // fires once: the batch is never entered twice
    CaptureFrames();
}

void TProgressForm::reject() {
    if (FRunning) {
        StopRequested = true;
        return;
    }
    tmStart->stop();  // closed before the batch began: it never begins
    QDialog::reject();
}

void TProgressForm::CaptureFrames() {
    StopRequested = false;
    FRunning = true;
    {
        TWaitCursor hourglass;
        ProgressBar1->setMaximum(static_cast<int>(std::min<uint32_t>(Info.SampleCount, INT32_MAX)));
        ProgressBar1->setValue(1);
        TCaptureEvents events;
        events.PumpAndCheckStop = [this] {
            QCoreApplication::processEvents();
            return StopRequested;
        };
        events.FileNameChosen = [this](const QString& name) { lbFileName->setText(name); };
        events.SampleDone = [this](uint32_t i) { ProgressBar1->setValue(static_cast<int>(i)); };
        events.ShowMessage = [](const QString& text) { ::ShowMessage(text); };
        events.RunFetch = [](const std::function<bool()>& fetch) { return RunAside(fetch); };
        try {
            FResult = ::CaptureFrames(Info, events);
        } catch (const std::exception& e) {
            FResult = TCaptureResult{};
            FResult.End = TCaptureResult::Failed;
            FResult.Error = QString::fromUtf8(e.what());
        }
    }
    FRunning = false;
    if (FResult.End == TCaptureResult::Failed) MessageDlg(FResult.Error, TMsgDlgType::Error, mbOK);
    else if (!FResult.NothingTakenMessage().isEmpty()) MessageDlg(FResult.NothingTakenMessage(), TMsgDlgType::Error, mbOK);
    done(QDialog::Rejected);
}
