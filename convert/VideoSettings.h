// The output settings dialog "Select the output compression": the AVI page
// (video compressor with its "Set" button, frame size, audio compressor,
// audio format, audio on or off) and the WMF page (Windows Media profile with
// its description). The conversion job creates it for one job, shows exactly
// one page and reads the outputs after OK.
//
// GUI thread only. The dialog binds compressor filter objects as the user
// picks entries; the caller copies VideoFilter/AudioFilter (shared pointers)
// to keep them past the dialog's life.
#pragma once

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
class QStackedWidget;
class TWMFBase;

// Tag of the uncompressed entries of the two compressor lists.
inline constexpr int kUncompressedTag = 9999;

// Pages of nbFormats.
inline constexpr int kAviPage = 0;
inline constexpr int kWmfPage = 1;

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
    QPushButton* BitBtn2 = nullptr;  // OK
    QPushButton* BitBtn1 = nullptr;  // Cancel
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
    QPlainTextEdit* Memo1 = nullptr;

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

    // Shows one of the two pages.
    void SetPage(int page);

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
    void BitBtn1Click();
    void cbVideoSizeChange();

    void done(int result) override;

private:
    QWidget* MakeAviPage();
    QWidget* MakeWmfPage();

    std::unique_ptr<TWMFBase> FCatalogue;
    TCompressorList FVideoList;
    TCompressorList FAudioList;
    bool FCloseQueried = false;
};
