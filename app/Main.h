// The main window: the movie preview with its position track bar, the menus
// and buttons every command starts from, and the program-wide objects it owns
// (settings store, open movie, preview bitmap, image capture settings dialog,
// recent-files list).
//
// Everything runs on the GUI thread. Controls and fields are public so that
// the tests reach them, as the window's design names them. All of the
// window's methods live in app/ (Main.cpp, MainMenus.cpp, MainCommands.cpp,
// MoviePreview.cpp, ConversionJob.cpp, Preferences.cpp); other folders serve
// it through their own calls and host interfaces and never include app/.
#pragma once

#include "common/Prompts.h"
#include "convert/OutputSettings.h"
#include "media/Job.h"
#include "help/MyBaseForm.h"
#include "media/MovieReader.h"
#include "source/MovieInfo.h"
#include "source/PreviewWorker.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QShortcut;
class QStatusBar;
class QTimer;
class QToolButton;
class TClipJobView;
class TSegmentsPanel;
class TQueueWindow;
class TImageForm;
class TJobSignals;
class TMainFormRenderHost;
class TMostRecentFiles;
class TMyRegistry;
class TTrackBar;
class TTimelineView;

// The Open dialog's filters: first every common movie type FFmpeg reads, then
// the classic movie types, then everything.
inline const QString kOpenMovieFilter = QStringLiteral(
    "All movies|*.mp4;*.m4v;*.mov;*.mkv;*.webm;*.avi;*.mpg;*.mpeg;*.vob;*.ts;*.mts;*.m2ts;*.wmv;*.asf;*.flv;"
    "*.3gp;*.ogv;*.dat|Movie files|*.AVI;*.MPG;*.MPEG;*.ASF;*.WMV;*.DAT|All files|*.*");

// Root key of the program's settings in the user's hive.
inline constexpr const char* kSettingsRootPath = "\\Software\\Quillmont\\Framewhisk\\";

// Where the default folders "Captures/" and "Video/" go: the executable's
// folder when the program is not installed and both can be made there, else
// `dataFolder` (normally $XDG_DATA_HOME/framewhisk/). Creates the folders;
// ends with "/".
QString ChooseDefaultFolderBase(const QString& exeFolder, const QString& dataFolder);
// The desktop file an installed copy has beside its executable's folder
// (<prefix>/share/applications/... for <prefix>/bin): where it exists the
// program is installed and writes nothing beside itself, even where it
// could (root can write to /usr/bin).
QString InstalledDesktopFileFor(const QString& exeFolder);
// $XDG_DATA_HOME/framewhisk/ (default ~/.local/share/framewhisk/).
QString UserDataFolder();

// The preview size for a frame of vw x vh in an area of aw x ah: never
// enlarged, fitted on the tight side (it grows with the window up to the
// movie's own size); rounding to nearest, ties to even.
struct TPreviewSize {
    uint16_t Width = 0;
    uint16_t Height = 0;
    bool operator==(const TPreviewSize&) const = default;
};
TPreviewSize FitPreviewSize(uint16_t aw, uint16_t ah, int32_t vw, int32_t vh);

// The job of the window's Start/Stop button, one value for the whole window.
// Every command that must not run beside a job, the close request and the
// renderer's stop question read it; the button's caption follows it.
enum class TJobState {
    Idle,             // no job; the button says "Start"
    Converting,       // a conversion runs (its dialogs, the render, "Play the result?"); "Stop"
    Capturing,        // an image capture batch runs (its dialogs); "Stop"
    Stopping,         // Stop was pressed: the render winds down and finishes its file; "Start",
                      // which starts nothing until the job has ended
    StoppingToClose,  // a close request asked the running conversion to stop; the button
                      // still says "Stop", and pressing it gives Stopping
};

class TMainForm : public TD6MainForm {
    Q_OBJECT
    friend class TPlayback;  // app/Playback: the position text while playing
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;  // FormDestroy

    // ------------------------------------------------------------ controls
    QWidget* pBackground1 = nullptr;   // teal preview area
    QLabel* imPreview = nullptr;       // the preview picture, centred
    TTrackBar* tbPosition = nullptr;   // position in frames; selection = clip range
    QToolButton* sbLocStart = nullptr; // go to the range's start
    QToolButton* sbLocEnd = nullptr;   // go to the range's end
    TTimelineView* tlView = nullptr;   // the timeline under the track bar (app/TimelineView.h)
    QWidget* BottomPanel = nullptr;
    QToolButton* sbOpenMovie = nullptr;
    QLabel* IAnim = nullptr;           // busy animation frame, 16 x 16
    QLabel* lbBusy = nullptr;          // the render's progress; shown by the renderer (display only)
    QLabel* lbTimeLeft = nullptr;
    QLabel* lbNotice = nullptr;        // the last conversion's notice, under the bottom panel; hidden when none
    QLabel* lbFormat = nullptr;        // "Format:"
    QComboBox* cbMode = nullptr;       // job mode (0..6)
    QToolButton* sbExecute = nullptr;  // Start / Stop, as JobState() says
    QStatusBar* SB1 = nullptr;
    QLabel* SB1Panels[3] = {};         // position, duration, file name

    QMenu* Files1 = nullptr;
    QMenu* Edit1 = nullptr;
    QMenu* Positionunit1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction *Open1 = nullptr, *Browsesourcefolder1 = nullptr, *sepJobs = nullptr, *Capturethisframe1 = nullptr,
            *Startclipping1 = nullptr, *Startcapturingframes1 = nullptr, *sepVideoFolder = nullptr,
            *Selectcapturedvideofolder1 = nullptr, *Browsevideofolder1 = nullptr, *sepImageFolder = nullptr,
            *SelectImageFolder1 = nullptr, *BrowseImageFolder1 = nullptr, *sepExit = nullptr, *Exit2 = nullptr;
    QAction *FrameNumber1 = nullptr, *Timecode1 = nullptr, *ShowPreview1 = nullptr, *Showresultwhenready1 = nullptr;
    QAction *Contents1 = nullptr, *Index1 = nullptr, *Checkupdateautomatically1 = nullptr, *Checkupdate1 = nullptr,
            *Emailsupport1 = nullptr, *Website1 = nullptr, *sepAbout = nullptr, *About1 = nullptr;
    QAction *actSelStart = nullptr, *actSelEnd = nullptr;

    QTimer* TimerUpdate = nullptr;     // 5000 ms, the automatic update check
    QTimer* tmAnimate = nullptr;       // 200 ms, the busy animation
    int tmAnimateTag = 0;              // run flag of the animation: 1 run, 0 stop
    std::vector<QPixmap> ImAnimate;    // the animation's eight 16 x 16 frames
    int ImAnimateTag = 0;              // next frame to show

    TFileDialogRequest odMovie;        // its FileName is the open movie's
    TFileDialogRequest sdOutput;

    // ------------------------------------------------------------ fields
    std::unique_ptr<media::TRgbPicture> PreviewBitmap;  // the exact frame on show
    std::unique_ptr<TPreviewWorker> PreviewWorker;  // the preview's decoder thread
    QString InstallationId;
    TImageForm* ImageForm = nullptr;   // owned by the window (Qt parent)
    std::unique_ptr<TMostRecentFiles> MostRecentFiles;
    bool Closing = false;
    TMovieInfo MovieInfo;
    QString ImageFolder, VideoFolder, SourceFolder;  // each ends with "/"
    TOutputSettings OutputSettings;
    TSegmentsPanel* SegmentsPanel = nullptr;  // the segment list beside the preview (Qt child)
    TQueueWindow* QueueWindow = nullptr;      // the queue of clip jobs, a window of its own (Qt child)

    // ------------------------------------------------------------ job state
    TJobState JobState() const { return FJobState; }
    // Sets the state and the button's caption: "Stop" while Converting,
    // Capturing or StoppingToClose, else "Start". Nothing else changes.
    void SetJobState(TJobState state);
    // A conversion is under way, also while it winds down after a stop:
    // the window is not closed under it, and no snapshot or capture starts beside it.
    bool ConversionUnderWay() const;
    // The running render is asked to stop (Stopping or StoppingToClose).
    bool StopRequested() const;
    // How the last conversion that ran ended: true when its file was made
    // (written to its end, or stopped by the user and kept).
    bool LastConversionMade() const { return FLastConversionMade; }

    // ------------------------------------------------------------ operations
    // Menu: enables every sub-item at all levels. The window itself: enables
    // every speed button, drop-down list and track bar on it; menus untouched.
    void SetCommandsEnabled(QObject* component, bool enabled);
    void LoadPreferences();
    void SavePreferences();

    bool OpenMovie(const QString& path);
    void OpenRecentFile(QObject* sender, const QString& path);
    // A movie handed in from outside (the command line, a drop on the
    // window): opened as the Open command opens the chosen file, with its
    // messages and the recent-files list; nothing while a job runs.
    void OpenFromOutside(const QString& path);
    // Shows the window; once it is up, tells of a settings file kept aside at
    // start, then opens `file` (absolute; "" : none) through OpenFromOutside.
    void StartUp(const QString& file);
    void tbPositionChange();
    // The picture on show is the exact frame of the track bar's position (or
    // the last request for one failed), and no request is on its way.
    bool PreviewSettled() const;
    TPreviewSize FitPreviewSize(uint16_t aw, uint16_t ah) const;
    void pBackground1Resize();
    void Timecode1Click(QAction* sender);

    // True when the hidden-path shortcut of `action` may fire: it and every
    // menu above it are enabled.
    bool ShortcutReachable(QAction* action) const;

    // The enabled state of a menu item, hidden ones included. Qt reports a
    // hidden QAction as disabled whatever it was set to, so hidden items keep
    // their state beside it; use these for every menu item.
    static void SetItemEnabled(QAction* item, bool enabled);
    static bool ItemEnabled(const QAction* item);

signals:
    // The preview shows a new picture for track bar position `position`:
    // exact when it is that frame itself, not a stand-in shown while the
    // frame is still being decoded. For tests and benchmarks.
    void PreviewShown(int position, bool exact);

public:

    // ------------------------------------------------------------ handlers
    void Open1Click();
    void Browsesourcefolder1Click();
    void Capturethisframe1Click();
    void Startclipping1Click();
    void Startcapturingframes1Click();
    void Selectcapturedvideofolder1Click();
    void Browsevideofolder1Click();
    void SelectImageFolder1Click();
    void BrowseImageFolder1Click();
    void Exit2Click();
    void ShowPreview1Click();
    void Contents1Click();
    void Index1Click();
    void Checkupdateautomatically1Click();
    void Checkupdate1Click();
    void Emailsupport1Click();
    void Website1Click();
    void About1Click();
    void sbExecuteClick();
    // Starts one conversion in mode 0, 1, 2, 4, 5 or 6 (app/ConversionJob.cpp)
    // after its dialogs; false when none started (a dialog was cancelled). The
    // job's end comes later, through ClipJobEnded.
    bool RunConversion(int mode);
    // The output may not be the open movie under any name; an entry that a
    // new file can not replace (a folder) is "in use".
    bool IsOpenMovie(const QString& path) const;
    static bool OutputReplaceable(const QString& path);
    void actSelStartExecute();
    void actSelEndExecute();
    void sbLocStartClick();
    void sbLocEndClick();
    void tmAnimateTimer();
    void TimerUpdateTimer();
    void FormCloseQuery(bool& canClose);

protected:
    void showEvent(QShowEvent* event) override;    // FormShow, on the first show only
    void resizeEvent(QResizeEvent* event) override; // FormResize
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;  // movies from the file manager
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Runs a command; an error that escapes it is shown in a message box and
    // the window keeps its state.
    static void RunCommand(const std::function<void()>& command);
    void FormCreate();
    void CreateControls();
    void CreateMenus();
    void CreateImageForm();
    void CreateTimeline();       // app/MainTimeline.cpp
    void TimelineMovieOpened();
    void DestroyImageForm();
    QShortcut* AddHiddenShortcut(QAction* action, const QKeySequence& key);
    void QueuePreviewRefresh();
    void PreviewDelivered(TPreviewWorker::TResult&& result);
    void ShowPositionText(int position);
    // After a movie opened: its name in the title, the track bar focused.
    void MovieShown();

    // The conversion's events (queued from the job's thread) and its end.
    void ClipJobProgressed(const media::TJobProgress& progress);
    void ClipJobEnded(const media::TJobEnd& end);
    void ClipJobFinished(const media::TJobEnd& end);
    // The job is over: the controls come back, the state is Idle, and a close
    // asked for meanwhile is carried out.
    void JobOver();

    std::unique_ptr<TMyRegistry> FStore;  // published as SettingsStore
    TJobState FJobState = TJobState::Idle;
    // The running conversion: its events, what shows them, the job itself
    // (declared last: it ends before what it reports to goes).
    std::unique_ptr<TJobSignals> FJobSignals;
    std::unique_ptr<TMainFormRenderHost> FRenderHost;
    std::unique_ptr<TClipJobView> FClipView;
    std::unique_ptr<media::TJob> FJob;
    QString FJobOutput;
    qint64 FTimeLeftShownAt = 0;  // ms on FJobClock when the time left last moved
    QElapsedTimer FJobClock;
    QTimer* tmClosingPause = nullptr;  // the pause between a job's end and what follows
    bool FLastConversionMade = false;
    // A close was asked for while a job ran: the job stops, asks nothing more
    // and the window closes once it has ended.
    bool FCloseRequested = false;
    bool FShownOnce = false;  // the first showEvent has run
    bool FRefreshQueued = false;
    int FShownPosition = -1;  // position of the exact frame on show (-1: none)
    int FRequestedPosition = -1;  // position of the latest preview request
    uint64_t FPreviewRequest = 0;  // its number
    bool FPreviewPending = false;  // its exact frame has not come yet
};
