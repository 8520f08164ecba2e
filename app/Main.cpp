#include "app/Main.h"
#include "app/SegmentsPanel.h"
#include "app/QueueWindow.h"

#include "app/RenderHost.h"
#include "common/JobSignals.h"
#include "convert/RenderClip.h"

#include "app/Playback.h"
#include "app/TrackBar.h"
#include "common/MyCommonParams.h"
#include "help/HelpViewer.h"
#include "mru/MruUnit.h"
#include "platform/Hive.h"
#include "support/MyCheckUpdate.h"
#include "support/SupportInfo.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QResizeEvent>
#include <QShowEvent>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryFile>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>
#include <limits>

namespace {

// Eight frames of a turning wheel of dots on white, 16 x 16.
std::vector<QPixmap> MakeAnimationFrames() {
    std::vector<QPixmap> frames;
    for (int f = 0; f < 8; ++f) {
        QPixmap pm(16, 16);
        pm.fill(Qt::white);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        for (int d = 0; d < 8; ++d) {
            const double angle = (d * 45.0 - 90.0) * M_PI / 180.0;
            const QPointF c(8 + 5.2 * std::cos(angle), 8 + 5.2 * std::sin(angle));
            const int age = (f - d + 8) % 8;  // 0: the leading dot
            QColor colour(0, 128, 128);
            colour.setAlpha(255 - age * 28);
            p.setBrush(colour);
            p.drawEllipse(c, age == 0 ? 2.2 : 1.7, age == 0 ? 2.2 : 1.7);
        }
        frames.push_back(pm);
    }
    return frames;
}

bool CanWriteIn(const QString& folder) {
    QTemporaryFile probe(folder + QStringLiteral(".fw-write-test-XXXXXX"));
    return probe.open();
}

}  // namespace

// ---------------------------------------------------------------- default folders

QString UserDataFolder() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(base) + QStringLiteral("/framewhisk/");
}

QString InstalledDesktopFileFor(const QString& exeFolder) {
    // The build gives the desktop file's place relative to the installed
    // executable's folder, so any prefix works.
    return QDir::cleanPath(exeFolder + QLatin1Char('/') + QStringLiteral(FW_INSTALLED_DESKTOP_FILE));
}

QString ChooseDefaultFolderBase(const QString& exeFolder, const QString& dataFolder) {
    auto withSlash = [](QString f) {
        if (!f.endsWith(QLatin1Char('/')))
            f += QLatin1Char('/');
        return f;
    };
    const QString exe = withSlash(exeFolder);
    QDir dir;
    // An installed copy, or one in a read-only folder, still needs working
    // folders: they go to the user's data folder.
    const bool installed = QFileInfo::exists(InstalledDesktopFileFor(exeFolder));
    if (!installed && dir.mkpath(exe + QStringLiteral("Captures")) && dir.mkpath(exe + QStringLiteral("Video")) &&
        CanWriteIn(exe + QStringLiteral("Video/")))
        return exe;
    const QString data = withSlash(dataFolder);
    dir.mkpath(data + QStringLiteral("Captures"));
    dir.mkpath(data + QStringLiteral("Video"));
    return data;
}

// ---------------------------------------------------------------- creation

void TMainForm::RunCommand(const std::function<void()>& command) {
    try {
        command();
    } catch (const EAbortSilently&) {
        // The user has already been told (the error report).
    } catch (const std::exception& e) {
        MessageDlg(QString::fromUtf8(e.what()), TMsgDlgType::Error, mbOK);
    }
}

TMainForm::TMainForm(QWidget* parent) : TD6MainForm(parent) {
    CreateControls();
    CreateMenus();
    SegmentsPanel = new TSegmentsPanel(*this);
    FormCreate();
    CreateTimeline();
    new TPlayback(*this);  // app/Playback: owned by the window
    QueueWindow = new TQueueWindow(*this);
}

void TMainForm::CreateControls() {
    setObjectName(QStringLiteral("MainForm"));
    resize(671, 518);

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    pBackground1 = new QWidget(central);
    pBackground1->setObjectName(QStringLiteral("pBackground1"));
    pBackground1->setAutoFillBackground(true);
    QPalette teal = pBackground1->palette();
    teal.setColor(QPalette::Window, QColor(0, 128, 128));
    pBackground1->setPalette(teal);
    imPreview = new QLabel(pBackground1);
    imPreview->setObjectName(QStringLiteral("imPreview"));
    imPreview->setAlignment(Qt::AlignCenter);
    // The picture must never dictate the area's size (the area dictates it).
    imPreview->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    auto* previewLayout = new QVBoxLayout(pBackground1);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    previewLayout->addWidget(imPreview);
    pBackground1->installEventFilter(this);
    column->addWidget(pBackground1, 1);

    auto* trackRow = new QWidget(central);
    trackRow->setFixedHeight(33);
    auto* trackLayout = new QHBoxLayout(trackRow);
    trackLayout->setContentsMargins(2, 0, 2, 0);
    trackLayout->setSpacing(2);
    sbLocStart = new QToolButton(trackRow);
    sbLocStart->setObjectName(QStringLiteral("sbLocStart"));
    sbLocStart->setText(QStringLiteral("|<"));
    sbLocStart->setToolTip(tr("Go to the start of the range (F2 sets it)"));
    tbPosition = new TTrackBar(trackRow);
    tbPosition->setObjectName(QStringLiteral("tbPosition"));
    tbPosition->setEnabled(false);
    sbLocEnd = new QToolButton(trackRow);
    sbLocEnd->setObjectName(QStringLiteral("sbLocEnd"));
    sbLocEnd->setText(QStringLiteral(">|"));
    sbLocEnd->setToolTip(tr("Go to the end of the range (F3 sets it)"));
    sbLocStart->setEnabled(false);
    sbLocEnd->setEnabled(false);
    trackLayout->addWidget(sbLocStart);
    trackLayout->addWidget(tbPosition, 1);
    trackLayout->addWidget(sbLocEnd);
    column->addWidget(trackRow);

    BottomPanel = new QWidget(central);
    BottomPanel->setObjectName(QStringLiteral("BottomPanel"));
    BottomPanel->setFixedHeight(41);
    auto* bottom = new QHBoxLayout(BottomPanel);
    bottom->setContentsMargins(4, 2, 4, 2);
    bottom->setSpacing(6);

    sbOpenMovie = new QToolButton(BottomPanel);
    sbOpenMovie->setObjectName(QStringLiteral("sbOpenMovie"));
    sbOpenMovie->setText(QStringLiteral("Open movie"));
    QFont bold = sbOpenMovie->font();
    bold.setBold(true);
    sbOpenMovie->setFont(bold);
    QPalette blue = sbOpenMovie->palette();
    blue.setColor(QPalette::ButtonText, Qt::blue);
    sbOpenMovie->setPalette(blue);
    sbOpenMovie->setMinimumWidth(100);

    IAnim = new QLabel(BottomPanel);
    IAnim->setObjectName(QStringLiteral("IAnim"));
    IAnim->setFixedSize(16, 16);

    lbBusy = new QLabel(QStringLiteral("Progress: "), BottomPanel);
    lbBusy->setObjectName(QStringLiteral("lbBusy"));
    lbBusy->setFont(bold);
    lbBusy->setVisible(false);
    lbTimeLeft = new QLabel(QStringLiteral("Time left "), BottomPanel);
    lbTimeLeft->setObjectName(QStringLiteral("lbTimeLeft"));
    lbTimeLeft->setFont(bold);
    lbTimeLeft->setVisible(false);

    lbFormat = new QLabel(QStringLiteral("Format:"), BottomPanel);
    lbFormat->setObjectName(QStringLiteral("lbFormat"));
    cbMode = new QComboBox(BottomPanel);
    cbMode->setObjectName(QStringLiteral("cbMode"));
    cbMode->addItems({QStringLiteral("Default WMV 320x240"), QStringLiteral("WMV video clip"),
                      QStringLiteral("AVI video clip"), QStringLiteral("Image captures"),
                      QStringLiteral("MP4 video clip"), QStringLiteral("WebM video clip"),
                      QStringLiteral("Same as source (no re-encoding)")});
    cbMode->addItems({QStringLiteral("Animated GIF"), QStringLiteral("Animated WebP")});
    lbFormat->setBuddy(cbMode);

    sbExecute = new QToolButton(BottomPanel);
    sbExecute->setObjectName(QStringLiteral("sbExecute"));
    sbExecute->setText(QStringLiteral("Start"));
    sbExecute->setFont(bold);
    QPalette red = sbExecute->palette();
    red.setColor(QPalette::ButtonText, Qt::red);
    sbExecute->setPalette(red);
    sbExecute->setMinimumWidth(80);
    sbExecute->setEnabled(false);

    bottom->addWidget(sbOpenMovie);
    bottom->addWidget(IAnim);
    bottom->addWidget(lbBusy);
    bottom->addWidget(lbTimeLeft);
    bottom->addStretch(1);
    bottom->addWidget(lbFormat);
    bottom->addWidget(cbMode);
    bottom->addWidget(sbExecute);
    column->addWidget(BottomPanel);

    // A notice about the last conversion (a copy that had to re-encode says
    // why); hidden while there is none. It wraps rather than widen the window.
    lbNotice = new QLabel(central);
    lbNotice->setObjectName(QStringLiteral("lbNotice"));
    lbNotice->setWordWrap(true);
    lbNotice->setContentsMargins(6, 0, 6, 2);
    // Its line is kept while hidden, so that the buttons above do not move
    // when a notice comes or goes.
    QSizePolicy noticePolicy = lbNotice->sizePolicy();
    noticePolicy.setRetainSizeWhenHidden(true);
    lbNotice->setSizePolicy(noticePolicy);
    lbNotice->setVisible(false);
    column->addWidget(lbNotice);
    setCentralWidget(central);

    SB1 = statusBar();
    SB1->setObjectName(QStringLiteral("SB1"));
    for (int i = 0; i < 3; ++i) {
        SB1Panels[i] = new QLabel(SB1);
        SB1Panels[i]->setObjectName(QStringLiteral("SB1Panel%1").arg(i));
        // 150 pixels as designed, wider when a font needs more for the text.
        // The file name panel takes the rest and never squeezes the others.
        if (i < 2) {
            SB1Panels[i]->setMinimumWidth(150);
            SB1Panels[i]->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
        } else {
            SB1Panels[i]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        }
        SB1->addWidget(SB1Panels[i], i < 2 ? 0 : 1);
    }

    TimerUpdate = new QTimer(this);
    TimerUpdate->setObjectName(QStringLiteral("TimerUpdate"));
    TimerUpdate->setInterval(5000);
    TimerUpdate->setSingleShot(true);
    tmAnimate = new QTimer(this);
    tmAnimate->setObjectName(QStringLiteral("tmAnimate"));
    tmAnimate->setInterval(200);
    ImAnimate = MakeAnimationFrames();

    odMovie.Title = QStringLiteral("Open movie");
    odMovie.Filter = kOpenMovieFilter;
    sdOutput.Save = true;

    connect(sbOpenMovie, &QToolButton::clicked, this, [this] { RunCommand([this] { Open1Click(); }); });
    connect(sbExecute, &QToolButton::clicked, this, [this] { RunCommand([this] { sbExecuteClick(); }); });
    connect(sbLocStart, &QToolButton::clicked, this, [this] { sbLocStartClick(); });
    connect(sbLocEnd, &QToolButton::clicked, this, [this] { sbLocEndClick(); });
    connect(tbPosition, &QSlider::valueChanged, this, [this] { QueuePreviewRefresh(); });
    // Once a format is chosen the keys belong to the track bar again, so that
    // Home, End and the arrows move the position, not the format.
    connect(cbMode, &QComboBox::activated, this, [this] {
        if (tbPosition->isEnabled())
            tbPosition->setFocus(Qt::OtherFocusReason);
    });
    connect(TimerUpdate, &QTimer::timeout, this, [this] { RunCommand([this] { TimerUpdateTimer(); }); });
    connect(tmAnimate, &QTimer::timeout, this, [this] { tmAnimateTimer(); });
}

void TMainForm::FormCreate() {
    Closing = false;
    cbMode->setCurrentIndex(0);
    OutputSettings.WMVSelected = QString::fromLatin1(kDefaultWmvProfile);
    PreviewBitmap = std::make_unique<media::TRgbPicture>();
    PreviewWorker = std::make_unique<TPreviewWorker>([this](TPreviewWorker::TResult&& result) {
        // On the worker's thread: the picture goes to the window's thread.
        QMetaObject::invokeMethod(
            this, [this, result = std::move(result)]() mutable { PreviewDelivered(std::move(result)); },
            Qt::QueuedConnection);
    });

    const QString base = ChooseDefaultFolderBase(QCoreApplication::applicationDirPath(), UserDataFolder());
    ImageFolder = base + QStringLiteral("Captures/");
    VideoFolder = base + QStringLiteral("Video/");
    SourceFolder = base + QStringLiteral("Video/");
    QDir().mkpath(ImageFolder);  // not reported when it fails
    QDir().mkpath(VideoFolder);

    CreateImageForm();

    FStore = std::make_unique<TMyRegistry>(QString::fromLatin1(kSettingsRootPath));
    SettingsStore = FStore.get();
    setWindowTitle(QString::fromLatin1(ProgramName));
    setAcceptDrops(true);
    SayDesktopFailures();

    LoadPreferences();

    InstallationId = SettingsStore->ReadString(QStringLiteral("Main"), QStringLiteral("GUID"), QString());
    if (InstallationId.isEmpty()) {
        InstallationId = NewGuidText();
        try {
            SettingsStore->WriteString(QStringLiteral("Main"), QStringLiteral("GUID"), InstallationId);
        } catch (const ERegistryException&) {
            // A settings folder that cannot be written must not stop the
            // program: the identifier serves this run and is made again next time.
        }
    }

    MostRecentFiles = std::make_unique<TMostRecentFiles>();
    MostRecentFiles->SetRegPath(SettingsStore->RootPath() + QStringLiteral("Recent files\\"));
    MostRecentFiles->SetShowFullPath(true);
    MostRecentFiles->SetMenuPosition(static_cast<uint32_t>(std::numeric_limits<int32_t>::max()));
    MostRecentFiles->SetOwnerMenuItem(Files1);
    MostRecentFiles->OnMenuClick = [this](QObject* sender, const QString& path) {
        RunCommand([&] { OpenRecentFile(sender, path); });
    };
}

TMainForm::~TMainForm() {
    // FormDestroy
    Closing = true;
    // Playback filters the events of this window's widgets and stops its
    // player's threads when it goes: it goes first, while this window is
    // still whole (the base class's destructor still sends events).
    std::unique_ptr<TPlayback>(findChild<TPlayback*>(QString(), Qt::FindDirectChildrenOnly)).reset();
    MostRecentFiles.reset();  // stores the list
    PreviewWorker.reset();    // ends its decoding; pictures still queued are dropped with the window
    PreviewBitmap.reset();
    DestroyImageForm();
    OutputSettings.VideoCompressor.reset();
    OutputSettings.AudioCompressor.reset();
    try {
        SavePreferences();
    } catch (const std::exception&) {
        // Nothing left to report to at this point.
    }
    SettingsStore = nullptr;
    FStore.reset();
}

// ---------------------------------------------------------------- window events

void TMainForm::showEvent(QShowEvent* event) {
    TD6MainForm::showEvent(event);
    // Only the first appearance: a restore from the task bar or a hide and
    // show neither moves the window nor arms the update check again (after
    // that the menu item "Automatic update check" arms it).
    if (FShownOnce)
        return;
    FShownOnce = true;
    if (QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
    RunCommand([this] { Checkupdateautomatically1->setChecked(ReadAutomaticUpdateCheck()); });
    ArmUpdateTimer(*TimerUpdate);
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    TD6MainForm::resizeEvent(event);
    // FormResize
    if (Closing)
        return;
    if (height() < 520)
        resize(width(), 520);
    if (width() < 620)
        resize(620, height());
}

void TMainForm::closeEvent(QCloseEvent* event) {
    TD6MainForm::closeEvent(event);  // a close from the frame closes the help windows first
    bool canClose = true;
    FormCloseQuery(canClose);
    if (canClose)
        event->accept();
    else
        event->ignore();
}

void TMainForm::FormCloseQuery(bool& canClose) {
    if (ConversionUnderWay()) {
        // A conversion is under way: ask it to stop; the window closes by
        // itself once the job has ended.
        if (FJobState == TJobState::Converting)
            SetJobState(TJobState::StoppingToClose);
        FCloseRequested = true;
        canClose = false;
    }
}

namespace {

// The first local file among dropped addresses, folders left out ("" : none).
QString FirstDroppedFile(const QMimeData* data) {
    if (!data || !data->hasUrls())
        return QString();
    for (const QUrl& url : data->urls()) {
        // Folders are no movies; a missing file still goes on to be reported.
        if (url.isLocalFile() && !url.toLocalFile().isEmpty() && !QFileInfo(url.toLocalFile()).isDir())
            return url.toLocalFile();
    }
    return QString();
}

}  // namespace

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
    if (!FirstDroppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TMainForm::dropEvent(QDropEvent* event) {
    const QString file = FirstDroppedFile(event->mimeData());
    if (file.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    OpenFromOutside(file);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == pBackground1 && event->type() == QEvent::Resize)
        RunCommand([this] { pBackground1Resize(); });
    return TD6MainForm::eventFilter(watched, event);
}

// ---------------------------------------------------------------- commands

void TMainForm::Open1Click() {
    // The running job works on the open movie: it is not replaced under it.
    if (FJobState != TJobState::Idle)
        return;
    LoadPreferences();
    if (odMovie.FileName.isEmpty())
        odMovie.InitialDir = SourceFolder;
    else
        odMovie.InitialDir.clear();  // where the current file lies
    TFileDialogRequest request = odMovie;
    if (!Prompts().ExecuteFileDialog(this, request))
        return;
    OpenMovie(request.FileName);
}

void TMainForm::OpenFromOutside(const QString& path) {
    if (FJobState != TJobState::Idle || path.isEmpty())
        return;
    LoadPreferences();  // as the Open command reads them before it opens
    // The recent-file path: a missing file is said so, a present one opens
    // through OpenMovie with its messages and the recent-files list.
    RunCommand([&] { OpenRecentFile(nullptr, path); });
}

void TMainForm::StartUp(const QString& file) {
    show();
    QTimer::singleShot(0, this, [this, file] {
        // A settings file found broken at start was kept aside: say so once.
        // The update check waits until the notice has been read.
        const QString notice = THive::TakeStartupNotice();
        if (!notice.isEmpty()) {
            const bool armed = TimerUpdate->isActive();
            TimerUpdate->stop();
            ShowMessage(notice);
            if (armed)
                TimerUpdate->start();
        }
        if (!file.isEmpty())
            OpenFromOutside(file);
    });
}

void TMainForm::MovieShown() {
    setWindowTitle(QString::fromLatin1(ProgramName) + QStringLiteral(" - ") + QFileInfo(MovieInfo.FileName).fileName());
    tbPosition->setFocus(Qt::OtherFocusReason);
}

void TMainForm::Browsesourcefolder1Click() { ExploreFolder(SourceFolder); }
void TMainForm::Browsevideofolder1Click() { ExploreFolder(VideoFolder); }
void TMainForm::BrowseImageFolder1Click() { ExploreFolder(ImageFolder); }

void TMainForm::Selectcapturedvideofolder1Click() {
    LoadPreferences();
    if (ChooseFolder(this, QStringLiteral("Select captured video folder"), VideoFolder))
        SavePreferences();
}

void TMainForm::SelectImageFolder1Click() {
    LoadPreferences();
    if (ChooseFolder(this, QStringLiteral("Select captured image folder"), ImageFolder))
        SavePreferences();
}

void TMainForm::Startclipping1Click() {
    if (MovieInfo.FrameRate == 0)
        return;
    cbMode->setCurrentIndex(0);
    sbExecuteClick();
}

void TMainForm::Startcapturingframes1Click() {
    if (MovieInfo.FrameRate == 0)
        return;
    cbMode->setCurrentIndex(3);  // "Image captures", as the caption says
    sbExecuteClick();
}

void TMainForm::Exit2Click() { close(); }

void TMainForm::ShowPreview1Click() { ShowPreview1->setChecked(!ShowPreview1->isChecked()); }

void TMainForm::Contents1Click() { ShowHelpContents(); }
void TMainForm::Index1Click() { ShowHelpIndex(); }

// ---------------------------------------------------------------- clip range

void TMainForm::actSelStartExecute() {
    if (MovieInfo.FrameRate == 0 || !tbPosition->isEnabled())
        return;
    const int pos = tbPosition->Position();
    tbPosition->SetSelStart(pos);
    if (tbPosition->SelEnd() < pos)
        tbPosition->SetSelEnd(pos);
}

void TMainForm::actSelEndExecute() {
    if (MovieInfo.FrameRate == 0 || !tbPosition->isEnabled())
        return;
    const int pos = tbPosition->Position();
    tbPosition->SetSelEnd(pos);
    if (tbPosition->SelStart() > pos)
        tbPosition->SetSelStart(pos);
}

void TMainForm::sbLocStartClick() { tbPosition->SetPosition(tbPosition->SelStart()); }
void TMainForm::sbLocEndClick() { tbPosition->SetPosition(tbPosition->SelEnd()); }

// ---------------------------------------------------------------- busy animation

void TMainForm::tmAnimateTimer() {
    tmAnimate->stop();
    if (tmAnimateTag == 0) {
        IAnim->clear();
        return;
    }
    if (ImAnimateTag >= 0 && ImAnimateTag < static_cast<int>(ImAnimate.size()))
        IAnim->setPixmap(ImAnimate[ImAnimateTag]);
    ++ImAnimateTag;
    if (ImAnimateTag > static_cast<int>(ImAnimate.size()) - 1)
        ImAnimateTag = 0;
    if (tmAnimateTag == 1)
        tmAnimate->start();
}
