// The segments of the open movie: ranges of frames that Start exports joined
// or one file each (media::TClipJobSpec::Ranges), with the marked range,
// undo and redo over every edit of either, and their memory per movie in the
// settings hive, keyed by the file's identity (media/FileIdentity.h) so that
// a changed or different file of the same name never gets them.
//
// Frame numbers throughout; a range is First .. End - 1. Window thread only.
#pragma once

#include "media/RenderEngine.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

class THive;

// What undo and redo go back and forth between.
struct TSegmentState {
    std::vector<media::TFrameRange> Segments;
    media::TFrameRange Marked;  // the range marked on the track bar (End <= First: none)
    bool operator==(const TSegmentState&) const = default;
};

class TSegmentList {
public:
    const TSegmentState& State() const { return FState; }
    const std::vector<media::TFrameRange>& Segments() const { return FState.Segments; }
    bool Empty() const { return FState.Segments.empty(); }

    // A fresh list for a newly opened movie (undo goes no further back).
    void Reset(TSegmentState state = {});

    // Edits; each is one step of undo. False (and no step) when it changes nothing
    // or the index or range is not usable.
    bool Mark(media::TFrameRange range);
    bool Add();                       // the marked range, at the end
    bool Update(size_t index);        // segment `index` becomes the marked range
    bool Remove(size_t index);
    bool MoveUp(size_t index);
    bool MoveDown(size_t index);
    bool Clear();                     // every segment goes (the marked range stays)

    bool CanUndo() const { return !FUndo.empty(); }
    bool CanRedo() const { return !FRedo.empty(); }
    bool Undo();
    bool Redo();

    // Whether segment `index` shares a frame with another segment.
    bool Overlaps(size_t index) const;

private:
    bool Apply(TSegmentState next);

    TSegmentState FState;
    std::vector<TSegmentState> FUndo, FRedo;
};

// "10:40,60:95|12:30": the segments, then the marked range. Text() and
// ParseSegmentState() round-trip; a text that is not this gives nothing.
QString SegmentStateText(const TSegmentState& state);
std::optional<TSegmentState> ParseSegmentState(const QString& text);

// The movie's segments and marked range in the hive below `rootKey`, under
// the identity key of the file (media::TFileIdentity::Key()).
class TSegmentMemory {
public:
    TSegmentMemory(THive& hive, QString rootKey) : FHive(hive), FRoot(std::move(rootKey)) {}

    // Nothing when the file was never given segments or a range, or is not the same file.
    std::optional<TSegmentState> Load(const std::string& identityKey);
    // A state with no segments and no range forgets the file.
    bool Save(const std::string& identityKey, const TSegmentState& state);
    bool Forget(const std::string& identityKey);

private:
    QString Key(const std::string& identityKey) const;
    THive& FHive;
    QString FRoot;
};
