#include "app/SegmentsPanel.h"

#include "app/Main.h"
#include "app/TrackBar.h"
#include "common/MyCommonParams.h"
#include "common/Prompts.h"
#include "media/FileIdentity.h"
#include "platform/Hive.h"

#include <QAction>
#include <QBoxLayout>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QToolButton>

#include <algorithm>

namespace {

QToolButton* Button(QWidget* parent, const char* name, const QString& text, const QString& tip) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(text);
    b->setToolTip(tip);
    return b;
}

}  // namespace

TSegmentsPanel::TSegmentsPanel(TMainForm& form) : QWidget(&form), FForm(form) {
    setObjectName(QStringLiteral("SegmentsPanel"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);
    column->addWidget(new QLabel(tr("Segments"), this));
    lvSegments = new QListWidget(this);
    lvSegments->setObjectName(QStringLiteral("lvSegments"));
    lvSegments->setMinimumWidth(200);
    column->addWidget(lvSegments, 1);
    lbOverlap = new QLabel(this);
    lbOverlap->setObjectName(QStringLiteral("lbOverlap"));
    lbOverlap->setWordWrap(true);
    lbOverlap->setVisible(false);
    column->addWidget(lbOverlap);
    auto* row = new QHBoxLayout;
    sbAdd = Button(this, "sbAddSegment", QStringLiteral("+"), tr("Add the marked range to the segments (Insert)"));
    sbUpdate = Button(this, "sbUpdateSegment", tr("Update"), tr("The selected segment becomes the marked range"));
    sbDelete = Button(this, "sbDeleteSegment", QStringLiteral("-"), tr("Delete the selected segment"));
    sbUp = Button(this, "sbSegmentUp", QStringLiteral("\u2191"), tr("Move the selected segment up"));
    sbDown = Button(this, "sbSegmentDown", QStringLiteral("\u2193"), tr("Move the selected segment down"));
    for (QToolButton* b : {sbAdd, sbUpdate, sbDelete, sbUp, sbDown}) row->addWidget(b);
    column->addLayout(row);
    connect(sbAdd, &QToolButton::clicked, this, [this] { AddSegment(); });
    connect(sbUpdate, &QToolButton::clicked, this, [this] { UpdateSegment(); });
    connect(sbDelete, &QToolButton::clicked, this, [this] { DeleteSegment(); });
    connect(sbUp, &QToolButton::clicked, this, [this] { MoveSegment(-1); });
    connect(sbDown, &QToolButton::clicked, this, [this] { MoveSegment(1); });
    connect(lvSegments, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { SelectSegment(lvSegments->row(item)); });
    connect(form.tbPosition, &TTrackBar::SelectionChanged, this, &TSegmentsPanel::SelectionMarked);

    // Beside the preview, in the same row.
    if (auto* layout = qobject_cast<QBoxLayout*>(form.pBackground1->parentWidget()->layout())) {
        const int at = layout->indexOf(form.pBackground1);
        layout->removeWidget(form.pBackground1);
        auto* beside = new QHBoxLayout;
        beside->setSpacing(0);
        beside->addWidget(form.pBackground1, 1);
        beside->addWidget(this);
        layout->insertLayout(at, beside, 1);
    }

    // The items; the window carries their keys, as the Edit menu is hidden without a movie.
    auto item = [&](const char* name, const QString& text, const QKeySequence& key, auto handler) {
        auto* a = new QAction(text, &form);
        a->setObjectName(QString::fromLatin1(name));
        if (!key.isEmpty()) a->setShortcut(key);
        connect(a, &QAction::triggered, this, handler);
        form.addAction(a);
        if (form.Edit1) form.Edit1->addAction(a);
        return a;
    };
    if (form.Edit1) form.Edit1->addSeparator();
    actUndo = item("actUndo", tr("Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z), [this] { Undo(); });
    actRedo = item("actRedo", tr("Redo"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), [this] { Redo(); });
    actAddSegment = item("actAddSegment", tr("Add range to segments"), QKeySequence(Qt::Key_Insert), [this] { AddSegment(); });
    actUpdateSegment = item("actUpdateSegment", tr("Update segment"), QKeySequence(), [this] { UpdateSegment(); });
    actDeleteSegment = item("actDeleteSegment", tr("Delete segment"), QKeySequence(), [this] { DeleteSegment(); });
    actForgetSegments = item("actForgetSegments", tr("Forget segments"), QKeySequence(), [this] { ForgetSegments(); });
    ShowList(-1);
}

QString TSegmentsPanel::FrameText(int64_t frame) const {
    const double rate = FForm.MovieInfo.FrameRate;
    const QString time = rate > 0 ? TimecodeText(double(frame) / rate) : QString();
    return time + QStringLiteral(" (") + QString::number(frame) + QLatin1Char(')');
}

void TSegmentsPanel::MovieClosing() {
    FOpening = true;
    FIdentity.clear();
}

void TSegmentsPanel::MovieOpened(const QString& path) {
    FOpening = false;
    const auto identity = media::IdentifyFile(QFile::encodeName(path).toStdString());
    FIdentity = identity ? identity->Key() : std::string();
    TSegmentState state;
    state.Marked = {FForm.tbPosition->SelStart(), FForm.tbPosition->SelEnd()};
    if (SettingsStore && SettingsStore->Hive() && !FIdentity.empty()) {
        TSegmentMemory memory(*SettingsStore->Hive(), SettingsStore->RootPath());
        if (auto kept = memory.Load(FIdentity)) {
            // Ranges past this movie's end would be refused at Start: they are kept as they are,
            // the bar shows what it can.
            state = *kept;
        }
    }
    FList.Reset(state);
    FApplying = true;
    FForm.tbPosition->SetSelStart(int(state.Marked.First));
    FForm.tbPosition->SetSelEnd(int(state.Marked.End));
    FApplying = false;
    ShowList(-1);
}

void TSegmentsPanel::SelectionMarked(int selStart, int selEnd) {
    if (FApplying || FOpening) return;
    if (FList.Mark({selStart, selEnd})) Changed(lvSegments->currentRow());
}

void TSegmentsPanel::Changed(int selectRow) {
    const auto& marked = FList.State().Marked;
    FApplying = true;
    if (FForm.tbPosition->SelStart() != marked.First) FForm.tbPosition->SetSelStart(int(marked.First));
    if (FForm.tbPosition->SelEnd() != marked.End) FForm.tbPosition->SetSelEnd(int(marked.End));
    FApplying = false;
    ShowList(selectRow);
    if (SettingsStore && SettingsStore->Hive() && !FIdentity.empty())
        TSegmentMemory(*SettingsStore->Hive(), SettingsStore->RootPath()).Save(FIdentity, FList.State());
}

void TSegmentsPanel::ShowList(int selectRow) {
    lvSegments->clear();
    bool overlap = false;
    const auto& segments = FList.Segments();
    for (size_t i = 0; i < segments.size(); ++i) {
        const auto& s = segments[i];
        const bool over = FList.Overlaps(i);
        overlap = overlap || over;
        QString text = QString::number(i + 1) + QStringLiteral(". ") + FrameText(s.First) + QStringLiteral(" \u2013 ") +
                       FrameText(s.End) + QStringLiteral(", ") + FrameText(s.End - s.First).trimmed();
        if (over) text += tr(" (overlaps)");
        lvSegments->addItem(text);
    }
    if (selectRow >= 0 && selectRow < lvSegments->count()) lvSegments->setCurrentRow(selectRow);
    lbOverlap->setText(tr("Some segments overlap: their shared frames are exported twice."));
    lbOverlap->setVisible(overlap);
    const bool any = !segments.empty();
    // Without segments the window is as it always was: the preview has the whole row.
    setVisible(any);
    for (QWidget* w : {static_cast<QWidget*>(sbUpdate), static_cast<QWidget*>(sbDelete), static_cast<QWidget*>(sbUp),
                       static_cast<QWidget*>(sbDown)})
        w->setEnabled(any);
    actUndo->setEnabled(FList.CanUndo());
    actRedo->setEnabled(FList.CanRedo());
}

void TSegmentsPanel::AddSegment() {
    if (FList.Add()) Changed(int(FList.Segments().size()) - 1);
}

void TSegmentsPanel::UpdateSegment() {
    const int row = lvSegments->currentRow();
    if (row >= 0 && FList.Update(size_t(row))) Changed(row);
}

void TSegmentsPanel::DeleteSegment() {
    const int row = lvSegments->currentRow();
    if (row >= 0 && FList.Remove(size_t(row))) Changed(std::min(row, int(FList.Segments().size()) - 1));
}

void TSegmentsPanel::MoveSegment(int by) {
    const int row = lvSegments->currentRow();
    if (row < 0) return;
    if (by < 0 ? FList.MoveUp(size_t(row)) : FList.MoveDown(size_t(row))) Changed(row + by);
}

void TSegmentsPanel::ForgetSegments() {
    FList.Clear();
    Changed(-1);
    if (SettingsStore && SettingsStore->Hive() && !FIdentity.empty())
        TSegmentMemory(*SettingsStore->Hive(), SettingsStore->RootPath()).Forget(FIdentity);
}

void TSegmentsPanel::Undo() {
    if (FList.Undo()) Changed(lvSegments->currentRow());
}

void TSegmentsPanel::Redo() {
    if (FList.Redo()) Changed(lvSegments->currentRow());
}

void TSegmentsPanel::SelectSegment(int row) {
    if (row < 0 || size_t(row) >= FList.Segments().size()) return;
    const media::TFrameRange s = FList.Segments()[size_t(row)];
    if (FList.Mark(s)) Changed(row);
    FForm.tbPosition->SetPosition(int(s.First));
}

void TSegmentsPanel::OfferSaveChoice(TFileDialogRequest& request) const {
    if (FList.Empty()) return;
    const QString name = request.Filter.section(QLatin1Char('|'), 0, 0);
    const QString pattern = QStringLiteral("*.") + request.DefaultExt;
    request.Filter = name + tr(", one file, segments joined") + QLatin1Char('|') + pattern + QLatin1Char('|') + name +
                     tr(", one file per segment") + QLatin1Char('|') + pattern;
    request.FilterIndex = FSplit ? 2 : 1;
}

bool TSegmentsPanel::ConfirmOutput(const TFileDialogRequest& request, const QString& output) {
    if (FList.Empty()) return true;
    FSplit = request.FilterIndex == 2;
    if (!FSplit) return true;
    QStringList existing;
    const size_t n = FList.Segments().size();
    for (size_t i = 0; i < n; ++i) {
        const QString name = QString::fromStdString(media::SplitFileName(output.toStdString(), i, n));
        if (QFileInfo::exists(name)) existing << name;
    }
    if (existing.isEmpty()) return true;
    return MessageDlg(tr("These files exist already:\n") + existing.join(QLatin1Char('\n')) + tr("\nReplace them?"),
                      TMsgDlgType::Confirmation, mbYes | mbNo) == TModalResult::Yes;
}

void TSegmentsPanel::IntoSpec(media::TClipJobSpec& spec) const {
    if (FList.Empty()) return;
    spec.Ranges = FList.Segments();
    spec.FirstFrame = spec.Ranges.front().First;
    spec.EndFrame = spec.Ranges.front().End;
    spec.Split = FSplit;
}
