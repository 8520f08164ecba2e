// The segment list beside the preview: the open movie's segments
// (convert/Segments.h) with start, end and length as time codes and frame
// numbers, overlaps flagged; the Edit menu's segment items, undo and redo;
// and what Start does with segments (the save dialog's "segments joined" or
// "one file per segment", and the clip job's ranges). Window thread only.
//
// With no segments it changes nothing: it is hidden, and Start exports the
// marked range as before. Each edit (marking a range included) is remembered for the movie in
// the settings hive under the file's identity.
#pragma once

#include "convert/Segments.h"
#include "media/ClipJob.h"

#include <QWidget>
#include <string>

class QAction;
class QLabel;
class QListWidget;
class QToolButton;
class TMainForm;
struct TFileDialogRequest;

class TSegmentsPanel : public QWidget {
    Q_OBJECT
public:
    // Puts itself beside the window's preview and adds its items to the Edit menu.
    explicit TSegmentsPanel(TMainForm& form);

    QListWidget* lvSegments = nullptr;
    QLabel* lbOverlap = nullptr;
    QToolButton *sbAdd = nullptr, *sbUpdate = nullptr, *sbDelete = nullptr, *sbUp = nullptr, *sbDown = nullptr;
    QAction *actAddSegment = nullptr, *actUpdateSegment = nullptr, *actDeleteSegment = nullptr,
            *actForgetSegments = nullptr, *actUndo = nullptr, *actRedo = nullptr;

    const TSegmentList& List() const { return FList; }

    // A movie was opened: its remembered segments and marked range come back
    // (the marked range onto the track bar); undo starts here.
    void MovieOpened(const QString& path);
    // Another movie is being opened: the bar's changes until MovieOpened are
    // not markings of the movie before (nor remembered for it).
    void MovieClosing();

    // Start with segments: the save dialog offers joined or one file per
    // segment (FilterIndex 1 or 2). Does nothing without segments.
    void OfferSaveChoice(TFileDialogRequest& request) const;
    // After the dialog: takes the choice; per segment, asks before replacing
    // files of the segments' names. False: the user said no.
    bool ConfirmOutput(const TFileDialogRequest& request, const QString& output);
    // The job's ranges and split choice (nothing without segments).
    void IntoSpec(media::TClipJobSpec& spec) const;

    // The edits the items and keys run.
    void AddSegment();
    void UpdateSegment();
    void DeleteSegment();
    void MoveSegment(int by);
    void ForgetSegments();
    void Undo();
    void Redo();
    void SelectSegment(int row);

private:
    void SelectionMarked(int selStart, int selEnd);
    void Changed(int selectRow = -1);  // shows the state, puts the marked range on the bar, remembers it
    void ShowList(int selectRow);
    QString FrameText(int64_t frame) const;

    TMainForm& FForm;
    TSegmentList FList;
    std::string FIdentity;   // the open movie's identity key ("" : none, nothing remembered)
    bool FApplying = false;  // the bar's selection is being set from the list
    bool FOpening = false;   // between MovieClosing and MovieOpened
    bool FSplit = false;     // the last save dialog chose one file per segment
};
