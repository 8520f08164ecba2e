#include "media/Timeline.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace media {

namespace {
constexpr TPcmFormat kPcmFormats[kPcmFormatCount] = {
    {44100, 16, 2}, {44100, 16, 1}, {44100, 8, 2}, {44100, 8, 1},
    {22050, 16, 2}, {22050, 16, 1}, {22050, 8, 2}, {22050, 8, 1},
};
}  // namespace

TPcmFormat PcmFormatByIndex(int index) {
    if (index < 0 || index >= kPcmFormatCount) index = 0;
    return kPcmFormats[index];
}

int64_t TGroupMediaType::SampleSize() const {
    if (MajorType == TMajorType::Video) return int64_t(Width) * Height * 2;
    if (MajorType == TMajorType::Audio && HasFormat) return Pcm.AvgBytesPerSecond();
    return 0;
}

TGroupMediaType TGroupMediaType::VideoRgb555(int32_t width, int32_t height) {
    TGroupMediaType t;
    t.MajorType = TMajorType::Video;
    t.HasFormat = true;
    t.Width = width;
    t.Height = height;
    t.BitCount = 16;
    return t;
}

TGroupMediaType TGroupMediaType::AudioPcm(const TPcmFormat& pcm) {
    TGroupMediaType t;
    t.MajorType = TMajorType::Audio;
    t.HasFormat = true;
    t.Pcm = pcm;
    return t;
}

TGroupMediaType TGroupMediaType::AudioMajorOnly() {
    TGroupMediaType t;
    t.MajorType = TMajorType::Audio;
    return t;
}

bool TTimeline::CheckMediaType(const TGroupMediaType& type, std::string* why) {
    auto refuse = [&](const std::string& text) {
        if (why) *why = text;
        return false;
    };
    if (type.MajorType == TMajorType::Video) {
        // 0 x 0: the source's picture, as the engine finds it.
        if ((type.Width != 0 || type.Height != 0) && (type.Width <= 0 || type.Height <= 0))
            return refuse("The frame size " + std::to_string(type.Width) + " x " + std::to_string(type.Height) +
                          " is not valid: width and height must be at least 1 pixel.");
        if (type.Width > 8192 || type.Height > 8192)
            return refuse("The frame size " + std::to_string(type.Width) + " x " + std::to_string(type.Height) +
                          " is too large (at most 8192 x 8192).");
        return true;
    }
    if (type.MajorType == TMajorType::Audio) {
        if (!type.HasFormat) return true;
        const auto& p = type.Pcm;
        if (p.SampleRate < 1000 || p.SampleRate > 192000 || (p.Bits != 8 && p.Bits != 16) || p.Channels < 1 ||
            p.Channels > 2)
            return refuse("The audio format is not a PCM format this program can write.");
        return true;
    }
    return refuse("A group must be a video or an audio group.");
}

int TTimeline::AddGroup(const TGroupMediaType& type) {
    std::string why;
    if (!CheckMediaType(type, &why)) throw MediaError(why);
    FGroups.push_back(TTimelineGroup{type, {}});
    return GetGroupCount() - 1;
}

int TTimeline::InsertTrack(int group, int priority) {
    if (group < 0 || group >= GetGroupCount()) throw MediaError("There is no such group on the timeline.");
    auto& tracks = FGroups[static_cast<size_t>(group)].Tracks;
    tracks.push_back(TTimelineTrack{priority, {}});
    return static_cast<int>(tracks.size()) - 1;
}

void TTimeline::AddSource(int group, int track, const TTimelineSource& source) {
    if (group < 0 || group >= GetGroupCount()) throw MediaError("There is no such group on the timeline.");
    auto& tracks = FGroups[static_cast<size_t>(group)].Tracks;
    if (track < 0 || track >= static_cast<int>(tracks.size())) throw MediaError("There is no such track on the timeline.");
    if (!(source.TimelineStop > source.TimelineStart) || source.EndFrame <= source.FirstFrame ||
        source.FirstFrame < 0 || !std::isfinite(source.TimelineStop))
        throw MediaError("The clip's times do not make a clip (the end must come after the start).");
    tracks[static_cast<size_t>(track)].Sources.push_back(source);
}

const TTimelineGroup& TTimeline::Group(int index) const {
    if (index < 0 || index >= GetGroupCount()) throw MediaError("There is no such group on the timeline.");
    return FGroups[static_cast<size_t>(index)];
}

bool TTimeline::ValidateSourceNames(std::string* missing) const {
    for (const auto& g : FGroups)
        for (const auto& t : g.Tracks)
            for (const auto& s : t.Sources) {
                std::error_code ec;
                if (!std::filesystem::is_regular_file(s.MediaName, ec)) {
                    if (missing) *missing = s.MediaName;
                    return false;
                }
            }
    return true;
}

}  // namespace media
