#include "convert/Segments.h"

#include "platform/Hive.h"

#include <QStringList>
#include <utility>

namespace {

bool Usable(const media::TFrameRange& r) { return r.First >= 0 && r.End > r.First; }

QString RangeText(const media::TFrameRange& r) { return QString::number(r.First) + ':' + QString::number(r.End); }

std::optional<media::TFrameRange> ParseRange(const QString& text) {
    const QStringList parts = text.split(':');
    if (parts.size() != 2) return std::nullopt;
    bool ok1 = false, ok2 = false;
    const media::TFrameRange r{parts[0].toLongLong(&ok1), parts[1].toLongLong(&ok2)};
    if (!ok1 || !ok2) return std::nullopt;
    return r;
}

}  // namespace

void TSegmentList::Reset(TSegmentState state) {
    FState = std::move(state);
    FUndo.clear();
    FRedo.clear();
}

bool TSegmentList::Apply(TSegmentState next) {
    if (next == FState) return false;
    FUndo.push_back(std::exchange(FState, std::move(next)));
    FRedo.clear();
    return true;
}

bool TSegmentList::Mark(media::TFrameRange range) {
    TSegmentState next = FState;
    next.Marked = range;
    return Apply(std::move(next));
}

bool TSegmentList::Add() {
    if (!Usable(FState.Marked)) return false;
    TSegmentState next = FState;
    next.Segments.push_back(FState.Marked);
    return Apply(std::move(next));
}

bool TSegmentList::Update(size_t index) {
    if (index >= FState.Segments.size() || !Usable(FState.Marked)) return false;
    TSegmentState next = FState;
    next.Segments[index] = FState.Marked;
    return Apply(std::move(next));
}

bool TSegmentList::Remove(size_t index) {
    if (index >= FState.Segments.size()) return false;
    TSegmentState next = FState;
    next.Segments.erase(next.Segments.begin() + std::ptrdiff_t(index));
    return Apply(std::move(next));
}

bool TSegmentList::MoveUp(size_t index) {
    if (index == 0 || index >= FState.Segments.size()) return false;
    TSegmentState next = FState;
    std::swap(next.Segments[index - 1], next.Segments[index]);
    return Apply(std::move(next));
}

bool TSegmentList::MoveDown(size_t index) { return index + 1 < FState.Segments.size() && MoveUp(index + 1); }

bool TSegmentList::Clear() {
    TSegmentState next = FState;
    next.Segments.clear();
    return Apply(std::move(next));
}

bool TSegmentList::Undo() {
    if (FUndo.empty()) return false;
    FRedo.push_back(std::exchange(FState, std::move(FUndo.back())));
    FUndo.pop_back();
    return true;
}

bool TSegmentList::Redo() {
    if (FRedo.empty()) return false;
    FUndo.push_back(std::exchange(FState, std::move(FRedo.back())));
    FRedo.pop_back();
    return true;
}

bool TSegmentList::Overlaps(size_t index) const {
    const auto& s = FState.Segments;
    if (index >= s.size()) return false;
    for (size_t j = 0; j < s.size(); ++j)
        if (j != index && s[j].First < s[index].End && s[index].First < s[j].End) return true;
    return false;
}

QString SegmentStateText(const TSegmentState& state) {
    QStringList segments;
    for (const auto& r : state.Segments) segments << RangeText(r);
    return segments.join(',') + '|' + RangeText(state.Marked);
}

std::optional<TSegmentState> ParseSegmentState(const QString& text) {
    const QStringList halves = text.split('|');
    if (halves.size() != 2) return std::nullopt;
    TSegmentState state;
    if (!halves[0].isEmpty()) {
        for (const QString& part : halves[0].split(',')) {
            const auto r = ParseRange(part);
            if (!r || !Usable(*r)) return std::nullopt;
            state.Segments.push_back(*r);
        }
    }
    const auto marked = ParseRange(halves[1]);
    if (!marked) return std::nullopt;
    state.Marked = *marked;
    return state;
}

QString TSegmentMemory::Key(const std::string& identityKey) const {
    return FRoot + QStringLiteral("\\Segments\\") + QString::fromStdString(identityKey);
}

std::optional<TSegmentState> TSegmentMemory::Load(const std::string& identityKey) {
    if (identityKey.empty()) return std::nullopt;
    const auto text = FHive.ReadText(Key(identityKey), QStringLiteral("State"));
    if (!text) return std::nullopt;
    return ParseSegmentState(*text);
}

bool TSegmentMemory::Save(const std::string& identityKey, const TSegmentState& state) {
    if (identityKey.empty()) return false;
    if (state.Segments.empty() && !Usable(state.Marked)) return Forget(identityKey);
    return FHive.WriteText(Key(identityKey), QStringLiteral("State"), SegmentStateText(state));
}

bool TSegmentMemory::Forget(const std::string& identityKey) {
    if (identityKey.empty()) return false;
    return FHive.DeleteKey(Key(identityKey));
}
