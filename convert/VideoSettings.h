// The output settings dialog "Select the output compression": the AVI page
// (video compressor with its "Set" button, frame size, audio compressor,
// audio format, audio on or off), the WMF page (Windows Media profile with
// its description) and the web page (MP4 or WebM: frame size, constant
// quality, speed preset, audio on or off and its bit rate). The conversion
// job creates it for one job, shows exactly one page and reads the outputs
// after OK.
//
// GUI thread only. The dialog binds compressor filter objects as the user
// picks entries; the caller copies VideoFilter/AudioFilter (shared pointers)
// to keep them past the dialog's life.
#pragma once

#include "convert/OutputSettings.h"
#include "media/Compressors.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <functional>
#include <memory>
#include <vector>

#include "common/Prompts.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class TWMFBase;

// Tag of the uncompressed entries of the two compressor lists.
inline constexpr int kUncompressedTag = 9999;

// Pages of nbFormats.
inline constexpr int kAviPage = 0;
inline constexpr int kWmfPage = 1;
inline constexpr int kWebPage = 2;

// The items of the frame-size list, with the size each preset sets
// (0 x 0 for the empty last item, which has no preset).
struct TFrameSizePreset {
    const char* Text;
    int Width;
    int Height;
};
extern const TFrameSizePreset FrameSizePresets[7];

// The items of the audio format list: the eight PCM rows, then an empty item.
extern const char* const AudioFormatTexts[9];

// The two codecs of the web page: MP4 (H.264 + AAC) and WebM (VP9 + Opus).
enum class TWebCodec { Mp4, WebM };

TWebSettings DefaultWebSettings(TWebCodec codec);

// The web page's frame-size list: "Same as source" (0 x 0), the sizes of
// FrameSizePresets whose width and height are both even (the encoders'
// 4:2:0 pictures need even sizes), then "Custom" (0 x 0, the boxes' size).
struct TWebFrameSize {
    QString Text;
    int Width;
    int Height;
};
const std::vector<TWebFrameSize>& WebFrameSizes();
int WebCustomSizeIndex();  // the last item
// Largest custom width or height the page accepts.
inline constexpr int kWebMaxSide = 8192;
// A custom size the encoders take: both sides even, above 0, at most kWebMaxSide.
bool WebCustomSizeValid(int width, int height);

// Highest CRF of the codec (x264 51, VP9 63); 0 is the best.
int WebMaxCrf(TWebCodec codec);
// The speed presets as stored (x264 preset names; VP9 cpu-used digits) and as
// listed, fastest last for VP9 and slowest last for x264, as the encoders
// name them.
struct TWebPreset {
    QString Value;
    QString Text;
};
std::vector<TWebPreset> WebPresets(TWebCodec codec);
// The audio bit rates offered (kb/s).
const std::vector<int>& WebAudioRates();

// The settings with every value the page could not show put back to the
// codec's default: a frame-size index outside the list, a custom size that
// is not valid, a CRF outside 0..max, an unknown preset, an audio bit rate
// not on the list. A preset frame size takes that preset's width and height;
// "Same as source" has 0 x 0.
TWebSettings CheckedWebSettings(const TWebSettings& settings, TWebCodec codec);

// A compressor category as the dialog lists it: friendly names in
// enumeration order and a way to bind entry i to a new filter object
// (nullptr when binding fails).
struct TCompressorList {
    std::vector<QString> Names;
    std::function<media::TCompressorFilterPtr(int)> Bind;
};

// The installed compressors of a category (media::TSysDevEnum).
TCompressorList SystemCompressors(media::TCompressorCategory category);

// The list filters: video compressors whose name begins with "WMV" or
// contains "ecompress" (any case) are left out, and so is an audio
// compressor named "PCM" (any case, blanks around it ignored).
bool VideoCompressorListed(const QString& name);
bool AudioCompressorListed(const QString& name);

class TVideoSetDlg : public QDialog {
    Q_OBJECT
public:
    explicit TVideoSetDlg(QWidget* owner);  // FormCreate
    ~TVideoSetDlg() override;               // FormDestroy

    // ------------------------------------------------------------ controls
    QPushButton* btnOk = nullptr;  // OK
    QPushButton* btnCancel = nullptr;  // Cancel
    QStackedWidget* nbFormats = nullptr;
    QComboBox* cbVidComp = nullptr;
    QPushButton* sbSetVideoCompress = nullptr;
    QComboBox* cbVideoSize = nullptr;
    QLabel* lbWidth = nullptr;
    QLabel* lbHeight = nullptr;
    QLineEdit* eProjWidth = nullptr;
    QLineEdit* eProjHeight = nullptr;
    QComboBox* cbAudComp = nullptr;
    QComboBox* cbAudFormat = nullptr;
    QCheckBox* cbWithSound = nullptr;
    QComboBox* cbProfiles = nullptr;
    QPlainTextEdit* mmProfileDetails = nullptr;
    // The web page.
    QComboBox* cbWebSize = nullptr;
    QSpinBox* seWebWidth = nullptr;
    QSpinBox* seWebHeight = nullptr;
    QSpinBox* seWebCrf = nullptr;
    QLabel* lbWebCrf = nullptr;
    QComboBox* cbWebPreset = nullptr;
    QCheckBox* cbWebAudio = nullptr;
    QComboBox* cbWebAudioRate = nullptr;

    // ------------------------------------------------------------ state
    bool Cancelled = false;
    bool Ready = false;
    QUuid Profile;
    media::TCompressorFilterPtr VideoFilter;
    media::TCompressorFilterPtr AudioFilter;
    QString VideoName;
    QString AudioName;
    // The clip's frame size (pixels), which the quality-based profiles keep;
    // their detail text shows it.
    int GroupWidth = 320;
    int GroupHeight = 240;

    // Where the compressor lists come from (the system's, unless a test
    // puts others here before the dialog is shown).
    std::function<TCompressorList(media::TCompressorCategory)> EnumerateCompressors = SystemCompressors;
    // Whether the Windows Media writer is there (the catalogue's answer
    // unless a test puts another here).
    std::function<bool()> WMAvailable;

    // Shows one of the three pages.
    void SetPage(int page);

    // The web page for one codec: fills its lists and shows `settings`
    // (checked first, so values it cannot show give the codec's defaults).
    void SetWebSettings(TWebCodec codec, const TWebSettings& settings);
    TWebCodec WebCodec() const { return FWebCodec; }
    // What the web page shows; width and height 0 for "Same as source".
    TWebSettings WebSettings() const;

    // The whole showing: FormShow, the modal run through the prompts seam,
    // and the close request. A bad profile index while the lists are filled
    // (no Windows Media writer) goes to the catalogue's fatal-error handler
    // (SetWMFFatalErrorHandler, convert/MyWMFBase.h): the window installs its
    // error report there, which leaves by a silent abort.
    TModalResult Execute();

    // The audio format row chosen: the list's index, the empty last item and
    // no selection giving row 0.
    int AudioFormatIndex() const;

    // ------------------------------------------------------------ handlers
    void FormShow();
    void FillLists();
    void FormCloseQuery();
    void cbProfilesChange();
    void cbVidCompClick();
    void cbAudCompClick();
    void sbSetVideoCompressClick();
    void btnCancelClick();
    void cbVideoSizeChange();
    void cbWebSizeChange();
    // OK on the web page: false (after a message) when the custom size is
    // not one the encoders take; the dialog then stays open.
    bool WebPageAcceptable();

    void done(int result) override;

private:
    QWidget* MakeAviPage();
    QWidget* MakeWmfPage();
    QWidget* MakeWebPage();

    std::unique_ptr<TWMFBase> FCatalogue;
    TCompressorList FVideoList;
    TCompressorList FAudioList;
    bool FCloseQueried = false;
    TWebCodec FWebCodec = TWebCodec::Mp4;
};
