#include "app/QueueWindow.h"

#include "app/Main.h"
#include "app/SegmentsPanel.h"
#include "app/TrackBar.h"
#include "common/MyCommonParams.h"
#include "common/Prompts.h"
#include "platform/Hive.h"

#include <QAction>
#include <QBoxLayout>
#include <QComboBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>

namespace {

// The clip file of a window mode (the modes of cbMode; 3 makes images).
struct TQueueMode {
    TClipFormat Format;
    QString Filter, Ext;
};

bool ModeOf(int mode, TQueueMode& out) {
    switch (mode) {
    case 0:
    case 1: out = {TClipFormat::Wmv, QStringLiteral("Windows Media Format (WMV)|*.wmv"), QStringLiteral("wmv")}; return true;
    case 2: out = {TClipFormat::Avi, QStringLiteral("AVI file|*.avi"), QStringLiteral("avi")}; return true;
    case 4: out = {TClipFormat::Mp4, QStringLiteral("MP4 video|*.mp4"), QStringLiteral("mp4")}; return true;
    case 5: out = {TClipFormat::WebM, QStringLiteral("WebM video|*.webm"), QStringLiteral("webm")}; return true;
    case 6: out = {TClipFormat::Copy, QStringLiteral("MP4 video|*.mp4"), QStringLiteral("mp4")}; return true;
    default: return false;
    }
}

uint16_t Narrow16(int32_t value) { return value >= 0 && value <= 0xFFFF ? static_cast<uint16_t>(value) : 0; }

}  // namespace

TQueueWindow::TQueueWindow(TMainForm& form) : QWidget(&form, Qt::Window), FForm(form) {
    setObjectName(QStringLiteral("QueueWindow"));
    setWindowTitle(tr("Queue"));
    resize(560, 300);
    FQueue = std::make_unique<TJobQueue>(THive::Open(SettingsStore->Hive()->FileName()), SettingsStore->RootPath(), this);

    auto* column = new QVBoxLayout(this);
    lvJobs = new QTreeWidget(this);
    lvJobs->setObjectName(QStringLiteral("lvJobs"));
    lvJobs->setHeaderLabels({tr("Movie"), tr("Output"), tr("State")});
    lvJobs->setRootIsDecorated(false);
    lvJobs->header()->setStretchLastSection(true);
    column->addWidget(lvJobs, 1);
    auto* row = new QHBoxLayout;
    const auto button = [&](QPushButton*& b, const char* name, const QString& text) {
        b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        row->addWidget(b);
    };
    button(btStart, "btStartQueue", tr("Start"));
    button(btStop, "btStopQueue", tr("Stop"));
    button(btRemove, "btRemoveJob", tr("Remove"));
    button(btUp, "btJobUp", QStringLiteral("\u2191"));
    button(btDown, "btJobDown", QStringLiteral("\u2193"));
    row->addStretch(1);
    column->addLayout(row);
    connect(btStart, &QPushButton::clicked, this, [this] { StartSelected(); });
    connect(btStop, &QPushButton::clicked, this, [this] { StopRunning(); });
    connect(btRemove, &QPushButton::clicked, this, [this] { RemoveSelected(); });
    connect(btUp, &QPushButton::clicked, this, [this] { MoveSelected(-1); });
    connect(btDown, &QPushButton::clicked, this, [this] { MoveSelected(1); });
    connect(lvJobs, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    connect(FQueue.get(), &TJobQueue::changed, this, [this] { ShowJobs(); });
    connect(FQueue.get(), &TJobQueue::progressed, this, [this](int index) { ShowProgress(index); });
    connect(FQueue.get(), &TJobQueue::finished, this, [this] { UpdateButtons(); });

    // The items, in the Files menu after the Start items.
    QAction* before = nullptr;
    if (form.Files1) {
        const QList<QAction*> items = form.Files1->actions();
        const qsizetype at = items.indexOf(form.Startcapturingframes1);
        if (at >= 0 && at + 1 < items.size()) before = items[at + 1];
    }
    const auto item = [&](const char* name, const QString& text, auto handler) {
        auto* a = new QAction(text, &form);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, handler);
        if (form.Files1) form.Files1->insertAction(before, a);
        return a;
    };
    actAddToQueue = item("actAddToQueue", tr("Add to queue"), [this] { AddCurrent(); });
    actShowQueue = item("actShowQueue", tr("Queue..."), [this] {
        show();
        raise();
    });
    ShowJobs();
}

TQueueWindow::~TQueueWindow() = default;

QString TQueueWindow::StateText(const TQueuedJob& job) {
    switch (job.State) {
    case TQueuedJob::Running:
        return job.Total > 0 ? tr("running %1%").arg(ProgressPercent(job.Progress, job.Total)) : tr("running");
    case TQueuedJob::Failed:
        return tr("failed: %1").arg(job.Error);
    default:
        return StateName(job.State);
    }
}

void TQueueWindow::ShowJobs() {
    const int selected = Selected();
    lvJobs->clear();
    for (const TQueuedJob& job : FQueue->Jobs()) {
        auto* item = new QTreeWidgetItem(lvJobs, {QFileInfo(job.Source()).fileName(), job.Output(), StateText(job)});
        item->setToolTip(0, job.Source());
        item->setToolTip(2, item->text(2));
    }
    if (selected >= 0 && selected < lvJobs->topLevelItemCount())
        lvJobs->setCurrentItem(lvJobs->topLevelItem(selected));
    UpdateButtons();
}

void TQueueWindow::ShowProgress(int index) {
    if (QTreeWidgetItem* item = lvJobs->topLevelItem(index))
        item->setText(2, StateText(FQueue->Jobs()[static_cast<size_t>(index)]));
}

int TQueueWindow::Selected() const {
    QTreeWidgetItem* item = lvJobs->currentItem();
    return item ? lvJobs->indexOfTopLevelItem(item) : -1;
}

void TQueueWindow::UpdateButtons() {
    const int at = Selected();
    const bool any = !FQueue->Jobs().empty();
    btStart->setEnabled(any && (!FQueue->Running() || (at >= 0 && FQueue->Jobs()[at].State != TQueuedJob::Waiting &&
                                                       at != FQueue->Current())));
    btStop->setEnabled(FQueue->Current() >= 0);
    btRemove->setEnabled(at >= 0 && at != FQueue->Current());
    btUp->setEnabled(at > 0);
    btDown->setEnabled(at >= 0 && at + 1 < static_cast<int>(FQueue->Jobs().size()));
}

void TQueueWindow::StartSelected() {
    // A selected job that ended (stopped, failed, done) runs again; the
    // waiting ones run in order.
    const int at = Selected();
    const bool again = at >= 0 && FQueue->Jobs()[at].State != TQueuedJob::Waiting;
    if (!FQueue->Start(again ? at : -1)) ShowMessage(tr("No job waits in the queue."));
    UpdateButtons();
}

void TQueueWindow::StopRunning() {
    FQueue->Stop();
    UpdateButtons();
}

void TQueueWindow::RemoveSelected() { FQueue->Remove(Selected()); }

void TQueueWindow::MoveSelected(int by) {
    const int at = Selected();
    if (at < 0) return;
    if (by < 0 ? FQueue->MoveUp(at) : FQueue->MoveDown(at))
        lvJobs->setCurrentItem(lvJobs->topLevelItem(at + by));
}

bool TQueueWindow::AddCurrent() {
    const TMovieInfo& movie = FForm.MovieInfo;
    if (movie.FileName.isEmpty() || movie.FrameRate == 0) {
        ShowMessage(tr("Please open a movie first"));
        return false;
    }
    TQueueMode mode;
    const int modeIndex = FForm.cbMode->currentIndex();
    if (!ModeOf(modeIndex, mode)) {
        ShowMessage(tr("Image captures can not be queued; Start makes them."));
        return false;
    }
    const int32_t selStart = FForm.tbPosition->SelStart(), selEnd = FForm.tbPosition->SelEnd();
    if (selEnd - selStart <= 0 && FForm.SegmentsPanel->List().Empty()) {
        ShowMessage(tr("Please set the range first"));
        return false;
    }

    TFileDialogRequest request;
    request.Save = true;
    request.Title = tr("Add to queue");
    request.Filter = mode.Filter;
    request.FilterIndex = 1;
    request.DefaultExt = mode.Ext;
    request.OverwritePrompt = true;
    request.InitialDir = FForm.VideoFolder;
    request.FileName = QFileInfo(StripExtension(movie.FileName)).fileName() + QStringLiteral("-clip");
    FForm.SegmentsPanel->OfferSaveChoice(request);
    QString output;
    for (;;) {
        if (!Prompts().ExecuteFileDialog(&FForm, request)) return false;
        output = ReplaceExtension(request.FileName, mode.Ext);
        if (!FForm.IsOpenMovie(output)) break;
        ShowMessage(tr("The clip can not be saved over the open movie %1. Please choose another name.").arg(movie.FileName));
    }
    if (!FForm.SegmentsPanel->ConfirmOutput(request, output)) return false;
    media::TClipJobSpec segments;
    FForm.SegmentsPanel->IntoSpec(segments);

    // The mode's settings as Start would use them now.
    TOutputSettings settings = FForm.OutputSettings;
    if (modeIndex == 0) settings.WMVSelected = QString::fromLatin1(kDefaultWmvProfile);
    if (!movie.HasAudio) {
        settings.WithAudio = false;
        settings.Mp4.WithAudio = settings.WebM.WithAudio = false;
    }
    int32_t width = settings.OutputWidth, height = settings.OutputHeight;
    if (mode.Format == TClipFormat::Copy) width = height = 0;
    else if (mode.Format == TClipFormat::Mp4) width = settings.Mp4.Width, height = settings.Mp4.Height;
    else if (mode.Format == TClipFormat::WebM) width = settings.WebM.Width, height = settings.WebM.Height;
    FQueue->Add(QueueEntry(settings, mode.Format, movie.FileName, output, movie.FrameRate, selStart, selEnd,
                           segments.Ranges, segments.Split, Narrow16(width), Narrow16(height),
                           Narrow16(settings.AudioFormatIndex)));
    show();
    raise();
    return true;
}
