// The catalogue of the 27 Windows Media 8 system profiles offered for WMV
// clips: list index <-> profile identifier, names, descriptions, and a short
// detail text of the video and audio a writer configured with a profile
// produces. The figures come from media/WmProfiles.h, the definitions the
// writer itself uses. Non-visual (Qt Core).
#pragma once

#include <QString>
#include <QStringList>
#include <QUuid>
#include <cstdint>
#include <stdexcept>

// Raised by CheckIdx for an index outside 0..26 when no fatal-error handler
// is installed or the handler returns.
class EWMFBaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The window side installs its fatal-error report here (ReportFatalError of
// support/MyExceptDlg.h, which never returns). Pass nullptr to remove it.
using TWMFFatalErrorHandler = void (*)(const QString& message);
void SetWMFFatalErrorHandler(TWMFFatalErrorHandler handler);

// WAVEFORMATEX, 18 bytes as in a format block.
#pragma pack(push, 1)
struct TWaveFormatEx {
    uint16_t wFormatTag = 0;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormatEx) == 18);

// A profile's format summary; every field starts at zero.
struct TWMFInfo {
    TWaveFormatEx WaveFormat;
    int32_t VideoWidth = 0;
    int32_t VideoHeight = 0;
    long double VideoFrameRate = 0;  // 10,000,000 / average time per frame; 0: the source's rate
    int32_t VideoRate = 0;           // video bit rate shifted right by 13
    int32_t AudioRate = 0;           // (average bytes per second * 8) shifted right by 10
    QString PixelText;               // bit count + "bit"
    int64_t VideoAvgTimePerFrame = 0;  // 100 ns units; 0: the source's rate
    int32_t VideoBitRate = 0;        // bits per second of the coded video
    int32_t AudioBitRate = 0;        // bits per second of the coded audio
};

// One catalogue row.
struct TWMFProf {
    int Number;               // 1..27
    const char* Kind;         // "V" video profile, "A" audio only
    const char* Name;
    const char* Description;
};

class TWMFBase {
public:
    static constexpr int kProfileCount = 27;
    static constexpr int kUnknownProfileIdx = 14;

    // True when the linked FFmpeg has the wmv2 and wmav2 encoders and the asf writer.
    static bool WMAvailable();

    // Quality-based profiles keep the clip's frame size; the detail text shows
    // this size for them (320 x 240 unless set).
    void SetGroupFrameSize(int32_t width, int32_t height);

    void GetProfileNames(QStringList& list) const;
    // True for 0..26; otherwise the fatal-error report (or EWMFBaseError).
    bool CheckIdx(int32_t index) const;
    QUuid GetProfileByIdx(int32_t index) const;
    int32_t GetIdxByProfile(const QUuid& profile) const;
    QString GetProfileDescByIdx(int32_t index) const;
    bool GetProfileInfo(const QUuid& profile, TWMFInfo& info) const;
    void GetProfileDetails(const QUuid& profile, QStringList& lines) const;

    static const TWMFProf& Row(int32_t index);  // index 0..26
    static QString ProfileGuidText(int32_t index);  // "{...}" with braces

    // The "  Timebase: " figure: general format, at most 8 significant digits.
    static QString FormatFrameRate(long double rate);
    // The detail lines for a filled summary and a description.
    static QStringList DetailLines(const TWMFInfo& info, const QString& description);

private:
    int32_t FGroupWidth = 320;
    int32_t FGroupHeight = 240;
};
