// The conversion job of the main window: the Start/Stop command and the run
// of one conversion (output file, output settings, the render, the result).
#include "app/Main.h"
#include "app/Playback.h"

#include "app/SegmentsPanel.h"
#include "app/RenderHost.h"
#include "common/JobSignals.h"
#include "app/TrackBar.h"
#include "capture/CaptureCommands.h"
#include "common/MyCommonParams.h"
#include "common/Prompts.h"
#include "convert/MyWMFBase.h"
#include "convert/VideoSettings.h"
#include "convert/AnimSettingsDlg.h"
#include "media/StagedFile.h"
#include "support/MyExceptDlg.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QCheckBox>
#include <QToolButton>
#include <QUuid>
#include <stdexcept>

namespace {

// Runs `action` when the scope ends, also when an error leaves it.
template <class F>
class TFinally {
public:
    explicit TFinally(F action) : FAction(std::move(action)) {}
    ~TFinally() { FAction(); }
    TFinally(const TFinally&) = delete;
    TFinally& operator=(const TFinally&) = delete;

private:
    F FAction;
};

const QString SaveFilter = QStringLiteral("AVI file|*.avi|Windows Media Format (WMV)|*.wmv");

// The modes that write a clip for the web (MP4, WebM), and the copy of the
// source's own pictures into MP4.
constexpr int kMp4Mode = 4;
constexpr int kWebMMode = 5;
constexpr int kCopyMode = 6;
// Animations without sound, for chats and forums.
constexpr int kGifMode = 7;
constexpr int kWebPMode = 8;

// The save dialog and the file of one conversion mode.
struct TClipFile {
    TClipFormat Format;
    QString Filter;
    int FilterIndex;
    QString Ext;        // forced on the chosen name
    QString FirstName;  // proposed when no output was named before
};

TClipFile ClipFileOfMode(int mode) {
    switch (mode) {
    case kMp4Mode:
        return {TClipFormat::Mp4, QStringLiteral("MP4 video|*.mp4"), 1, QStringLiteral("mp4"),
                QStringLiteral("New video.MP4")};
    case kWebMMode:
        return {TClipFormat::WebM, QStringLiteral("WebM video|*.webm"), 1, QStringLiteral("webm"),
                QStringLiteral("New video.WEBM")};
    case kCopyMode:
        return {TClipFormat::Copy, QStringLiteral("MP4 video|*.mp4"), 1, QStringLiteral("mp4"),
                QStringLiteral("New video.MP4")};
    case kGifMode:
        return {TClipFormat::Gif, QStringLiteral("GIF animation|*.gif"), 1, QStringLiteral("gif"),
                QStringLiteral("New animation.GIF")};
    case kWebPMode:
        return {TClipFormat::WebP, QStringLiteral("WebP animation|*.webp"), 1, QStringLiteral("webp"),
                QStringLiteral("New animation.WEBP")};
    case 2:
        return {TClipFormat::Avi, SaveFilter, 1, QStringLiteral("avi"), QStringLiteral("New video.WMV")};
    default:
        return {TClipFormat::Wmv, SaveFilter, 2, QStringLiteral("wmv"), QStringLiteral("New video.WMV")};
    }
}

// GUID text as the settings store keeps it: 38 characters with braces.
QUuid GuidFromText(const QString& text) {
    const QUuid guid = QUuid::fromString(text);
    const bool braced = text.size() == 38 && text.startsWith(QLatin1Char('{')) && text.endsWith(QLatin1Char('}'));
    if (!braced || (guid.isNull() && text != QUuid().toString(QUuid::WithBraces)))
        throw std::runtime_error(QStringLiteral("'%1' is not a valid GUID value").arg(text).toStdString());
    return guid;
}

QString GuidText(const QUuid& guid) { return guid.toString(QUuid::WithBraces).toUpper(); }

// Frame sizes and the audio row travel as unsigned 16-bit values; a value
// that does not fit becomes 0, which the renderer refuses with a message
// instead of rendering a wrapped-around size.
uint16_t Narrow16(int32_t value) { return value >= 0 && value <= 0xFFFF ? static_cast<uint16_t>(value) : 0; }

}  // namespace

bool TMainForm::IsOpenMovie(const QString& path) const {
    return !MovieInfo.FileName.isEmpty() && media::SameFile(MovieInfo.FileName.toStdString(), path.toStdString());
}

bool TMainForm::OutputReplaceable(const QString& path) {
    return media::WhyNotReplaceable(path.toStdString()).empty();
}

void TMainForm::SetJobState(TJobState state) {
    FJobState = state;
    if (state == TJobState::Converting || state == TJobState::Capturing)
        if (auto* playback = findChild<TPlayback*>()) playback->Stop();
    const bool offersStop =
        state == TJobState::Converting || state == TJobState::Capturing || state == TJobState::StoppingToClose;
    sbExecute->setText(offersStop ? QStringLiteral("Stop") : QStringLiteral("Start"));
    // A stop asked of a running conversion: the job winds down on its own
    // threads and its end comes as an event.
    if ((state == TJobState::Stopping || state == TJobState::StoppingToClose) && FJob && !FJob->Cancelled()) {
        FClipView->Stopping();
        FJob->Cancel();
    }
}

bool TMainForm::ConversionUnderWay() const {
    return FJobState == TJobState::Converting || FJobState == TJobState::Stopping ||
           FJobState == TJobState::StoppingToClose;
}

bool TMainForm::StopRequested() const {
    return FJobState == TJobState::Stopping || FJobState == TJobState::StoppingToClose;
}

void TMainForm::JobOver() {
    SetCommandsEnabled(this, true);
    SetJobState(TJobState::Idle);
    // A close asked for during the job is carried out now that it ended.
    if (FCloseRequested) {
        FCloseRequested = false;
        QTimer::singleShot(0, this, [this] { close(); });
    }
}

void TMainForm::sbExecuteClick() {
    // A running job (the button says "Stop"): this press asks it to stop.
    if (FJobState == TJobState::Converting || FJobState == TJobState::Capturing ||
        FJobState == TJobState::StoppingToClose) {
        SetJobState(TJobState::Stopping);
        return;
    }

    const int mode = cbMode->currentIndex();
    if (!IsNtPlatform() && mode == 1) {
        ShowMessage(QStringLiteral("Sorry. The WMV format feature is not available in Win9x system.") +
                    QStringLiteral("\n\r") + QStringLiteral("Please choose AVI format instead."));
        return;
    }
    if (tbPosition->SelEnd() - tbPosition->SelStart() <= 0 && SegmentsPanel->List().Empty()) {
        ShowMessage(QStringLiteral("Please set the range first"));
        return;
    }

    SetCommandsEnabled(this, false);
    // A conversion still winding down after a stop switches the controls
    // back on when it ends.
    if (FJobState == TJobState::Stopping)
        return;

    sbExecute->setEnabled(true);
    SetJobState(mode == 3 ? TJobState::Capturing : TJobState::Converting);
    // Whatever does not leave a job running gives the window back at once,
    // also when an error leaves this handler.
    bool running = false;
    TFinally over([this, &running] {
        if (!running)
            JobOver();
    });

    switch (mode) {
    case 0:
    case 1:
    case 2:
    case kMp4Mode:
    case kWebMMode:
    case kCopyMode:
    case kGifMode:
    case kWebPMode:
        running = RunConversion(mode);
        break;
    case 3: {
        TCaptureHost host;
        host.Owner = this;
        host.ImageForm = ImageForm;
        host.Movie = &MovieInfo;
        host.RangeStart = tbPosition->SelStart();
        host.RangeEnd = tbPosition->SelEnd();
        host.Ranges = SegmentsPanel->List().Segments();
        host.Busy = ConversionUnderWay();
        host.LoadPreferences = [this] { LoadPreferences(); };
        host.SavePreferences = [this] { SavePreferences(); };
        host.ImageFolder = [this] { return ImageFolder; };
        CaptureImages(host);
        break;
    }
    default:
        break;
    }
}

bool TMainForm::RunConversion(int mode) {
    if (MovieInfo.FrameRate == 0)
        return false;
    const TClipFile clip = ClipFileOfMode(mode);
    // The web clips have a page of their own. A copy shows the MP4 page: its
    // choices apply when the source can not be copied and is re-encoded to
    // MP4 instead.
    const bool web =
        clip.Format == TClipFormat::Mp4 || clip.Format == TClipFormat::WebM || clip.Format == TClipFormat::Copy;
    const TWebCodec webCodec = clip.Format == TClipFormat::WebM ? TWebCodec::WebM : TWebCodec::Mp4;
    TWebSettings& webSettings = webCodec == TWebCodec::Mp4 ? OutputSettings.Mp4 : OutputSettings.WebM;

    OutputSettings.VideoCompressor.reset();
    OutputSettings.AudioCompressor.reset();

    // The output file.
    sdOutput.Save = true;
    sdOutput.Filter = clip.Filter;
    sdOutput.OverwritePrompt = true;
    if (sdOutput.FileName.isEmpty()) {
        sdOutput.InitialDir = VideoFolder;
        sdOutput.FileName = clip.FirstName;
    } else {
        // The last output named a file: the dialog starts where it lies.
        sdOutput.InitialDir.clear();
    }
    sdOutput.FilterIndex = clip.FilterIndex;
    sdOutput.DefaultExt = clip.Ext;
    SegmentsPanel->OfferSaveChoice(sdOutput);
    sdOutput.FileName = StripExtension(sdOutput.FileName);
    // An old file of the chosen name is not touched here: the clip is written
    // under a temporary name and replaces it only once it is finished, so a
    // cancel or a failure at any later step leaves it as it was.
    QString chosen;
    for (;;) {
        if (!Prompts().ExecuteFileDialog(this, sdOutput))
            return false;
        chosen = sdOutput.FileName;
        if (!IsOpenMovie(ReplaceExtension(chosen, clip.Ext)) && !IsOpenMovie(chosen))
            break;
        ShowMessage(QStringLiteral("The clip can not be saved over the open movie ") + MovieInfo.FileName +
                    QStringLiteral(". Please choose another name."));
    }
    if (!OutputReplaceable(chosen) || !OutputReplaceable(ReplaceExtension(chosen, clip.Ext))) {
        ShowMessage(QStringLiteral("Canceled. File ") + chosen + QStringLiteral(" is in use."));
        return false;
    }

    const QString folder = QFileInfo(chosen).absolutePath() + QLatin1Char('/');
    if (folder.compare(VideoFolder, Qt::CaseInsensitive) != 0) {
        const QString question = folder + QStringLiteral(" is not the default video capture folder.") +
                                 QStringLiteral("\n\r") + QStringLiteral("Move default video capture folder to ") +
                                 folder + QStringLiteral("?");
        if (MessageDlg(question, TMsgDlgType::Confirmation, mbOK | mbCancel) == TModalResult::Ok) {
            VideoFolder = folder;
            SavePreferences();
        }
    }

    sdOutput.FileName = ReplaceExtension(chosen, clip.Ext);
    const QString output = sdOutput.FileName;
    if (!SegmentsPanel->ConfirmOutput(sdOutput, output))
        return false;

    LoadPreferences();

    // The output settings. A bad profile index in the dialog's catalogue ends
    // in the error report and its silent abort.
    SetWMFFatalErrorHandler(&ReportFatalError);
    {
        TVideoSetDlg dialog(this);
        if (mode == 0) {
            OutputSettings.VideoCompressor.reset();
            OutputSettings.AudioCompressor.reset();
            OutputSettings.WMVSelected = QString::fromLatin1(kDefaultWmvProfile);
        } else if (mode == 1) {
            dialog.SetPage(kWmfPage);
            dialog.Profile = GuidFromText(OutputSettings.WMVSelected);
            dialog.GroupWidth = OutputSettings.OutputWidth;
            dialog.GroupHeight = OutputSettings.OutputHeight;
            if (dialog.Execute() != TModalResult::Ok)
                return false;
            OutputSettings.VideoCompressor.reset();
            OutputSettings.AudioCompressor.reset();
            OutputSettings.WMVSelected = GuidText(dialog.Profile);
        } else if (clip.Format == TClipFormat::Copy) {
            // A copy keeps the movie's pictures, size and sound: it has no
            // choices to ask for, and leaves the MP4 page's as they are.
        } else if (clip.Format == TClipFormat::Gif || clip.Format == TClipFormat::WebP) {
            const bool gif = clip.Format == TClipFormat::Gif;
            TAnimSettings& anim = gif ? OutputSettings.Gif : OutputSettings.WebP;
            const double seconds = double(tbPosition->SelEnd() - tbPosition->SelStart()) / MovieInfo.FrameRate;
            TAnimSettingsDlg page(this, gif, anim, seconds, MovieInfo.FrameWidth, MovieInfo.FrameHeight);
            if (page.Execute() != TModalResult::Ok)
                return false;
            anim = page.Settings();
        } else if (web) {
            dialog.SetPage(kWebPage);
            dialog.SetWebSettings(webCodec, webSettings);
            // A movie without sound can have no sound track: the box is off
            // and greyed, and the mode's own choice is kept for other movies.
            const bool withAudio = webSettings.WithAudio;
            if (!MovieInfo.HasAudio) {
                dialog.cbWebAudio->setChecked(false);
                dialog.cbWebAudio->setEnabled(false);
            }
            if (dialog.Execute() != TModalResult::Ok)
                return false;
            // The page refuses sizes the encoders cannot take; a run that
            // ended without its OK button is checked here as well.
            webSettings = CheckedWebSettings(dialog.WebSettings(), webCodec);
            if (!MovieInfo.HasAudio)
                webSettings.WithAudio = withAudio;
        } else {
            dialog.SetPage(kAviPage);
            dialog.VideoName = OutputSettings.VideoCompressorName;
            dialog.AudioName = OutputSettings.AudioCompressorName;
            if (OutputSettings.FrameSizeIndex < 0 || OutputSettings.FrameSizeIndex > dialog.cbVideoSize->count() - 1)
                OutputSettings.FrameSizeIndex = 0;
            dialog.cbVideoSize->setCurrentIndex(OutputSettings.FrameSizeIndex);
            dialog.eProjWidth->setText(QString::number(OutputSettings.OutputWidth));
            dialog.eProjHeight->setText(QString::number(OutputSettings.OutputHeight));
            dialog.cbAudFormat->setCurrentIndex(OutputSettings.AudioFormatIndex);
            dialog.cbWithSound->setChecked(OutputSettings.WithAudio && MovieInfo.HasAudio);
            dialog.cbWithSound->setEnabled(MovieInfo.HasAudio);
            if (dialog.Execute() != TModalResult::Ok)
                return false;
            OutputSettings.VideoCompressor = dialog.VideoFilter;
            OutputSettings.AudioCompressor = dialog.AudioFilter;
            OutputSettings.VideoCompressorName = dialog.VideoName;
            OutputSettings.AudioCompressorName = dialog.AudioName;
            OutputSettings.FrameSizeIndex = dialog.cbVideoSize->currentIndex();
            OutputSettings.OutputWidth = DigitsToInt(dialog.eProjWidth->text());
            OutputSettings.OutputHeight = DigitsToInt(dialog.eProjHeight->text());
            OutputSettings.AudioFormatIndex = dialog.AudioFormatIndex();
            if (MovieInfo.HasAudio)
                OutputSettings.WithAudio = dialog.cbWithSound->isChecked();
        }
        SavePreferences();
    }

    // The job, with the busy animation and the track bar off.
    tmAnimateTag = 1;
    tmAnimate->start();
    tbPosition->setEnabled(false);

    // The notice and progress of an earlier conversion go when this one starts.
    lbNotice->clear();
    lbNotice->setVisible(false);
    lbBusy->clear();

    // The web clips take their size from their own settings (0 x 0: the
    // source's picture as shown); a copy has the source's size.
    // A movie without sound gets no sound track, whatever the mode's own
    // choice (which stays as it is for other movies).
    TOutputSettings settings = OutputSettings;
    if (!MovieInfo.HasAudio) {
        settings.WithAudio = false;
        settings.Mp4.WithAudio = settings.WebM.WithAudio = false;
    }
    const bool copy = clip.Format == TClipFormat::Copy;
    const int32_t width = copy ? 0 : web ? webSettings.Width : OutputSettings.OutputWidth;
    const int32_t height = copy ? 0 : web ? webSettings.Height : OutputSettings.OutputHeight;
    media::TClipJobSpec spec =
        ClipJobSpec(settings, MovieInfo.FileName, output, Narrow16(width), Narrow16(height),
                    Narrow16(OutputSettings.AudioFormatIndex), tbPosition->SelStart(), tbPosition->SelEnd(), clip.Format,
                    MovieInfo.FrameRate);
    SegmentsPanel->IntoSpec(spec);

    FLastConversionMade = false;
    FJobOutput = output;
    FJobSignals = std::make_unique<TJobSignals>();
    FRenderHost = std::make_unique<TMainFormRenderHost>(*this);
    FClipView = std::make_unique<TClipJobView>(*FRenderHost, output, tbPosition->SelStart(), tbPosition->SelEnd());
    connect(FJobSignals.get(), &TJobSignals::plan, this, [this](const media::TJobPlan& plan) {
        if (FClipView) FClipView->Plan(plan);
    }, Qt::QueuedConnection);
    connect(FJobSignals.get(), &TJobSignals::progress, this, &TMainForm::ClipJobProgressed, Qt::QueuedConnection);
    connect(FJobSignals.get(), &TJobSignals::ended, this, &TMainForm::ClipJobEnded, Qt::QueuedConnection);
    FJobClock.start();
    FTimeLeftShownAt = 0;
    FJob = media::StartClipJob(spec, FJobSignals->Events());
    return true;
}

void TMainForm::ClipJobProgressed(const media::TJobProgress& progress) {
    if (!FClipView) return;
    // The time left and the preview move about once a second.
    const qint64 now = FJobClock.elapsed();
    const bool move = now - FTimeLeftShownAt >= 1100;
    if (move) FTimeLeftShownAt = now;
    FClipView->Progress(progress, move);
}

void TMainForm::ClipJobEnded(const media::TJobEnd& end) {
    FJob.reset();  // its thread has delivered its last event
    if (!FClipView) return;
    if (!FClipView->Started()) {
        ClipJobFinished(end);
        return;
    }
    // The pause after a job that ran, before the captions go and the result
    // is offered; the window keeps working meanwhile.
    if (!tmClosingPause) {
        tmClosingPause = new QTimer(this);
        tmClosingPause->setSingleShot(true);
    }
    tmClosingPause->disconnect();
    connect(tmClosingPause, &QTimer::timeout, this, [this, end] { ClipJobFinished(end); });
    tmClosingPause->start(kClosingPauseMs);
}

void TMainForm::ClipJobFinished(const media::TJobEnd& end) {
    const bool made = FClipView->Finish(end);
    FClipView.reset();
    FRenderHost.reset();
    FLastConversionMade = made;
    tmAnimateTag = 0;
    // The window is closing: nothing more is asked.
    if (made && Showresultwhenready1->isChecked() && !FCloseRequested) {
        const QString question = QStringLiteral("Done. Output file is ") + FJobOutput + QStringLiteral("\r\n") +
                                 QStringLiteral("Play the result?");
        if (MessageDlg(question, TMsgDlgType::Information, mbYes | mbNo) == TModalResult::Yes)
            PlayInMediaPlayer(FJobOutput);
    }
    tbPosition->setEnabled(true);
    JobOver();
}
