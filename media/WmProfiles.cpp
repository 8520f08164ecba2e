#include "media/WmProfiles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cctype>

namespace media {

namespace {

TWmVideoDef Video(int w, int h, int num, int den, int32_t bitRate) {
    TWmVideoDef v;
    v.Present = true;
    v.Width = w;
    v.Height = h;
    v.FrameRateNum = num;
    v.FrameRateDen = den;
    v.BitRate = bitRate;
    return v;
}

// Quality-based rows keep the group's frame size and the source's rate.
TWmVideoDef QualityVideo(int quality, int32_t nominalRate) {
    TWmVideoDef v;
    v.Present = true;
    v.Quality = quality;
    v.BitRate = nominalRate;
    return v;
}

TWmAudioDef Audio(int rate, int channels, int32_t bitRate) {
    TWmAudioDef a;
    a.Present = true;
    a.SampleRate = rate;
    a.Channels = channels;
    a.BitRate = bitRate;
    return a;
}

// FFmpeg's wmav2 encoder takes no less than 24 kbps, so the modem rows with
// sound spend 24 kbps on audio and the rest on a small, slow picture.
std::vector<TWmProfileDef> MakeDefs() {
    const TWmAudioDef none;
    const TWmVideoDef noVideo;
    return {
        {"{FEEDBCDF-3FAC-4C93-AC0D-47941EC72C0B}", Video(208, 160, 15, 1, 193000), Audio(44100, 2, 32000)},
        {"{AEE16DFA-2C14-4A2F-AD3F-A3034031784F}", Video(208, 160, 15, 1, 118000), Audio(22050, 2, 32000)},
        {"{D66920C4-C21F-4EC8-A0B4-95CF2BD57FC4}", Video(176, 144, 15, 1, 32000), Audio(22050, 1, 24000)},
        {"{5BDB5A0E-979E-47D3-9596-73B386392A55}", Video(320, 240, 30, 1, 704000), Audio(44100, 2, 64000)},
        {"{D8722C69-2419-4B36-B4E0-6E17B60564E5}", Video(240, 180, 15, 1, 68000), Audio(22050, 2, 32000)},
        {"{3DF678D9-1352-4186-BBF8-74F0C19B6AE2}", Video(160, 120, 15, 2, 10000), Audio(8000, 1, 24000)},
        {"{254E8A96-2612-405C-8039-F0BF725CED7D}", Video(176, 144, 15, 1, 32000), Audio(22050, 1, 24000)},
        {"{A2E300B4-C2D4-4FC0-B5DD-ECBD948DC0DF}", Video(240, 180, 15, 1, 68000), Audio(22050, 2, 32000)},
        {"{BBC75500-33D2-4466-B86B-122B201CC9AE}", Video(320, 240, 30, 1, 224000), Audio(44100, 2, 32000)},
        {"{29B00C2B-09A9-48BD-AD09-CDAE117D1DA7}", Video(320, 240, 30, 1, 320000), Audio(44100, 2, 64000)},
        {"{74D01102-E71A-4820-8F0D-13D2EC1E4872}", Video(320, 240, 30, 1, 704000), Audio(44100, 2, 64000)},
        {"{C8C2985F-E5D9-4538-9E23-9B21BF78F745}", Video(640, 480, 30000, 1001, 636000), Audio(44100, 2, 64000)},
        {"{931D1BEE-617A-4BCD-9905-CCD0786683EE}", Video(640, 480, 30000, 1001, 1272000), Audio(44100, 2, 128000)},
        {"{9227C692-AE62-4F72-A7EA-736062D0E21E}", Video(384, 288, 25, 1, 320000), Audio(44100, 2, 64000)},
        {"{EC298949-639B-45E2-96FD-4AB32D5919C2}", Video(720, 576, 25, 1, 636000), Audio(44100, 2, 64000)},
        {"{8C45B4C7-4AEB-4F78-A5EC-88420B9DADEF}", Video(160, 120, 15, 1, 28000), none},
        {"{6E2A6955-81DF-4943-BA50-68A986A708F6}", Video(176, 144, 15, 1, 52000), none},
        {"{3510A862-5850-4886-835F-D78EC6A64042}", QualityVideo(8, 512000), Audio(44100, 2, 64000)},
        {"{0F10D9D3-3B04-4FB0-A3D3-88D4AC854ACC}", QualityVideo(4, 1024000), Audio(44100, 2, 96000)},
        {"{048439BA-309C-440E-9CB4-3DCCA3756423}", QualityVideo(2, 2048000), Audio(44100, 2, 128000)},
        {"{7EA3126D-E1BA-4716-89AF-F65CEE0C0C67}", noVideo, Audio(22050, 1, 28800)},
        {"{7E4CAB5C-35DC-45BB-A7C0-19B28070D0CC}", noVideo, Audio(22050, 2, 28800)},
        {"{60907F9F-B352-47E5-B210-0EF1F47E9F9D}", noVideo, Audio(22050, 2, 32000)},
        {"{5EE06BE5-492B-480A-8A8F-12F373ECF9D4}", noVideo, Audio(44100, 2, 48000)},
        {"{09BB5BC4-3176-457F-8DD6-3CD919123E2D}", noVideo, Audio(44100, 2, 64000)},
        {"{1FC81930-61F2-436F-9D33-349F2A1C0F10}", noVideo, Audio(44100, 2, 96000)},
        {"{407B9450-8BDC-4EE5-88B8-6F527BD941F2}", noVideo, Audio(44100, 2, 128000)},
    };
}

std::string NormalizedGuid(const std::string& text) {
    std::string s;
    for (char c : text)
        if (c != '{' && c != '}' && !std::isspace(static_cast<unsigned char>(c)))
            s += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

const std::vector<TWmProfileDef>& WmProfileDefs() {
    static const std::vector<TWmProfileDef> defs = MakeDefs();
    return defs;
}

const TWmProfileDef* FindWmProfile(const std::string& guid) {
    const std::string key = NormalizedGuid(guid);
    if (key.empty()) return nullptr;
    for (const auto& d : WmProfileDefs())
        if (NormalizedGuid(d.Guid) == key) return &d;
    return nullptr;
}

bool WMAvailable() {
    return avcodec_find_encoder_by_name("wmv2") && avcodec_find_encoder_by_name("wmav2") &&
           av_guess_format("asf", nullptr, nullptr);
}

}  // namespace media
