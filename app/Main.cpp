#include "app/Main.h"

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
#include <QMenuBar>
#include <QPainter>
#include <QResizeEvent>
#include <QShowEvent>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QTemporaryFile>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>
#include <limits>

namespace {

// Runs a command; an error that escapes it is shown in a message box and
// the window keeps its state.
template <typename F>
void RunCommand(F&& command) {
    try {
        command();
    } catch (const EAbortSilently&) {
        // The user has already been told (the error report).
    } catch (const std::exception& e) {
        MessageDlg(QString::fromUtf8(e.what()), TMsgDlgType::Error, mbOK);
    }
}

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

TMainForm::TMainForm(QWidget* parent) : TD6MainForm(parent) {
    CreateControls();
    CreateMenus();
    FormCreate();
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
    Image3 = new QLabel(pBackground1);
    Image3->setObjectName(QStringLiteral("Image3"));
    Image3->setAlignment(Qt::AlignCenter);
    // The picture must never dictate the area's size (the area dictates it).
    Image3->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    auto* previewLayout = new QVBoxLayout(pBackground1);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    previewLayout->addWidget(Image3);
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
    TB1 = new TTrackBar(trackRow);
    TB1->setObjectName(QStringLiteral("TB1"));
    TB1->setEnabled(false);
    sbLocEnd = new QToolButton(trackRow);
    sbLocEnd->setObjectName(QStringLiteral("sbLocEnd"));
    sbLocEnd->setText(QStringLiteral(">|"));
    sbLocEnd->setToolTip(tr("Go to the end of the range (F3 sets it)"));
    sbLocStart->setEnabled(false);
    sbLocEnd->setEnabled(false);
    trackLayout->addWidget(sbLocStart);
    trackLayout->addWidget(TB1, 1);
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

    Label3 = new QLabel(QStringLiteral("Format:"), BottomPanel);
    Label3->setObjectName(QStringLiteral("Label3"));
    cbMode = new QComboBox(BottomPanel);
    cbMode->setObjectName(QStringLiteral("cbMode"));
    cbMode->addItems({QStringLiteral("Default WMV 320x240"), QStringLiteral("WMV video clip"),
                      QStringLiteral("AVI video clip"), QStringLiteral("Image captures"),
                      QStringLiteral("MP4 video clip"), QStringLiteral("WebM video clip"),
                      QStringLiteral("Same as source (no re-encoding)")});
    Label3->setBuddy(cbMode);

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
    bottom->addWidget(Label3);
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

    OpenDialog1.Title = QStringLiteral("Open movie");
    OpenDialog1.Filter = kOpenMovieFilter;
    SaveDialog1.Save = true;

    connect(sbOpenMovie, &QToolButton::clicked, this, [this] { RunCommand([this] { Open1Click(); }); });
    connect(sbExecute, &QToolButton::clicked, this, [this] { RunCommand([this] { sbExecuteClick(); }); });
    connect(sbLocStart, &QToolButton::clicked, this, [this] { sbLocStartClick(); });
    connect(sbLocEnd, &QToolButton::clicked, this, [this] { sbLocEndClick(); });
    connect(TB1, &QSlider::valueChanged, this, [this] { QueuePreviewRefresh(); });
    // Once a format is chosen the keys belong to the track bar again, so that
    // Home, End and the arrows move the position, not the format.
    connect(cbMode, &QComboBox::activated, this, [this] {
        if (TB1->isEnabled())
            TB1->setFocus(Qt::OtherFocusReason);
    });
    connect(TimerUpdate, &QTimer::timeout, this, [this] { RunCommand([this] { TimerUpdateTimer(); }); });
    connect(tmAnimate, &QTimer::timeout, this, [this] { tmAnimateTimer(); });
}

void TMainForm::CreateMenus() {
    auto item = [this](QMenu* menu, const char* name, const QString& caption, auto handler) {
        auto* a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, [this, handler] { RunCommand([this, handler] { (this->*handler)(); }); });
        return a;
    };
    auto separator = [](QMenu* menu, const char* name) {
        auto* a = menu->addSeparator();
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };

    Files1 = menuBar()->addMenu(QStringLiteral("&Files"));
    Files1->setObjectName(QStringLiteral("Files1"));
    Open1 = item(Files1, "Open1", QStringLiteral("Open movie"), &TMainForm::Open1Click);
    Browsesourcefolder1 = item(Files1, "Browsesourcefolder1", QStringLiteral("Browse last source folder"),
                               &TMainForm::Browsesourcefolder1Click);
    N1 = separator(Files1, "N1");
    Capturethisframe1 = item(Files1, "Capturethisframe1", QStringLiteral("Capture this frame"),
                             &TMainForm::Capturethisframe1Click);
    Capturethisframe1->setVisible(false);
    SetItemEnabled(Capturethisframe1, false);
    AddHiddenShortcut(Capturethisframe1, QKeySequence(Qt::Key_F8));
    Startclipping1 = item(Files1, "Startclipping1", QStringLiteral("Start converting"), &TMainForm::Startclipping1Click);
    Startclipping1->setShortcut(QKeySequence(Qt::Key_F9));
    SetItemEnabled(Startclipping1, false);
    Startcapturingframes1 = item(Files1, "Startcapturingframes1", QStringLiteral("Start capturing images"),
                                 &TMainForm::Startcapturingframes1Click);
    Startcapturingframes1->setVisible(false);
    SetItemEnabled(Startcapturingframes1, false);
    AddHiddenShortcut(Startcapturingframes1, QKeySequence(Qt::Key_F10));
    N6 = separator(Files1, "N6");
    Selectcapturedvideofolder1 = item(Files1, "Selectcapturedvideofolder1", QStringLiteral("Select captured video folder"),
                                      &TMainForm::Selectcapturedvideofolder1Click);
    Browsevideofolder1 = item(Files1, "Browsevideofolder1", QStringLiteral("Browse captured video folder"),
                              &TMainForm::Browsevideofolder1Click);
    Browsevideofolder1->setShortcut(QKeySequence(Qt::Key_F5));
    N5 = separator(Files1, "N5");
    N5->setVisible(false);
    SelectImageFolder1 = item(Files1, "SelectImageFolder1", QStringLiteral("Select captured image folder"),
                              &TMainForm::SelectImageFolder1Click);
    SelectImageFolder1->setVisible(false);
    BrowseImageFolder1 = item(Files1, "BrowseImageFolder1", QStringLiteral("Browse captured image folder"),
                              &TMainForm::BrowseImageFolder1Click);
    BrowseImageFolder1->setVisible(false);
    AddHiddenShortcut(BrowseImageFolder1, QKeySequence(Qt::Key_F6));
    N4 = separator(Files1, "N4");
    Exit2 = item(Files1, "Exit2", QStringLiteral("Exit"), &TMainForm::Exit2Click);

    Edit1 = menuBar()->addMenu(QStringLiteral("&Edit"));
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->menuAction()->setVisible(false);
    Positionunit1 = Edit1->addMenu(QStringLiteral("Position unit..."));
    Positionunit1->setObjectName(QStringLiteral("Positionunit1"));
    Positionunit1->menuAction()->setVisible(false);
    FrameNumber1 = Positionunit1->addAction(QStringLiteral("Frame number"));
    FrameNumber1->setObjectName(QStringLiteral("FrameNumber1"));
    Timecode1 = Positionunit1->addAction(QStringLiteral("Time code"));
    Timecode1->setObjectName(QStringLiteral("Timecode1"));
    for (QAction* unit : {FrameNumber1, Timecode1}) {
        unit->setCheckable(true);
        // The click handler decides the check marks itself: undo Qt's toggle first.
        connect(unit, &QAction::triggered, this, [this, unit](bool checked) {
            unit->setChecked(!checked);
            RunCommand([this, unit] { Timecode1Click(unit); });
        });
    }
    Timecode1->setChecked(true);
    ShowPreview1 = Edit1->addAction(QStringLiteral("Show preview when clipping"));
    ShowPreview1->setObjectName(QStringLiteral("ShowPreview1"));
    ShowPreview1->setCheckable(true);
    ShowPreview1->setChecked(true);
    connect(ShowPreview1, &QAction::triggered, this, [this](bool checked) {
        ShowPreview1->setChecked(!checked);
        ShowPreview1Click();
    });
    AddHiddenShortcut(ShowPreview1, QKeySequence(Qt::Key_F7));
    Showresultwhenready1 = Edit1->addAction(QStringLiteral("Show result when ready"));
    Showresultwhenready1->setObjectName(QStringLiteral("Showresultwhenready1"));
    Showresultwhenready1->setCheckable(true);
    Showresultwhenready1->setChecked(true);

    Help1 = menuBar()->addMenu(QStringLiteral("&Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    Contents1 = item(Help1, "Contents1", QStringLiteral("Help contents"), &TMainForm::Contents1Click);
    Index1 = item(Help1, "Index1", QStringLiteral("Help index"), &TMainForm::Index1Click);
    Checkupdateautomatically1 = item(Help1, "Checkupdateautomatically1", QStringLiteral("Automatic update check"),
                                     &TMainForm::Checkupdateautomatically1Click);
    Checkupdateautomatically1->setCheckable(true);
    Checkupdate1 = item(Help1, "Checkupdate1", QStringLiteral("Check update"), &TMainForm::Checkupdate1Click);
    Emailsupport1 = item(Help1, "Emailsupport1", QStringLiteral("E-mail support"), &TMainForm::Emailsupport1Click);
    Website1 = item(Help1, "Website1", ::WebsiteCaption(), &TMainForm::Website1Click);
    N3 = separator(Help1, "N3");
    About1 = item(Help1, "About1", QStringLiteral("About"), &TMainForm::About1Click);

    actSelStart = new QAction(QStringLiteral("Range start"), this);
    actSelStart->setObjectName(QStringLiteral("actSelStart"));
    actSelStart->setShortcut(QKeySequence(Qt::Key_F2));
    connect(actSelStart, &QAction::triggered, this, [this] { actSelStartExecute(); });
    actSelEnd = new QAction(QStringLiteral("Range end"), this);
    actSelEnd->setObjectName(QStringLiteral("actSelEnd"));
    actSelEnd->setShortcut(QKeySequence(Qt::Key_F3));
    connect(actSelEnd, &QAction::triggered, this, [this] { actSelEndExecute(); });
    addAction(actSelStart);
    addAction(actSelEnd);
}

QShortcut* TMainForm::AddHiddenShortcut(QAction* action, const QKeySequence& key) {
    // Qt switches off the shortcut of a hidden action (and of one in a hidden
    // menu), while these commands must still answer their keys: the window
    // carries the key itself and runs the item when it is reachable. The
    // item shows the key but never matches it on its own.
    action->setShortcut(key);
    action->setShortcutContext(Qt::WidgetShortcut);
    auto* shortcut = new QShortcut(key, this);
    shortcut->setObjectName(action->objectName() + QStringLiteral("Key"));
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, action] {
        if (ShortcutReachable(action))
            action->trigger();
    });
    return shortcut;
}

namespace {
constexpr const char* kItemEnabledProperty = "fwItemEnabled";
}

void TMainForm::SetItemEnabled(QAction* item, bool enabled) {
    item->setProperty(kItemEnabledProperty, enabled);
    item->setEnabled(enabled);
}

bool TMainForm::ItemEnabled(const QAction* item) {
    if (item->isVisible())
        return item->isEnabled();
    const QVariant kept = item->property(kItemEnabledProperty);
    return kept.isValid() ? kept.toBool() : true;
}

bool TMainForm::ShortcutReachable(QAction* action) const {
    if (!action || !ItemEnabled(action))
        return false;
    // Climb through the menus above the item.
    for (QAction* a = action; a;) {
        QMenu* parentMenu = nullptr;
        for (QObject* o : a->associatedObjects()) {
            if (auto* m = qobject_cast<QMenu*>(o)) {
                parentMenu = m;
                break;
            }
        }
        if (!parentMenu)
            break;
        if (!ItemEnabled(parentMenu->menuAction()))
            return false;
        a = parentMenu->menuAction();
    }
    return true;
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
    MostRecentFiles.reset();  // stores the list
    PreviewWorker.reset();    // ends its decoding; pictures still queued are dropped with the window
    PreviewBitmap.reset();
    DestroyImageForm();
    MovieInfo.MediaDetector.reset();
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

// ---------------------------------------------------------------- command switch

void TMainForm::SetCommandsEnabled(QObject* component, bool enabled) {
    if (auto* menu = qobject_cast<QMenu*>(component)) {
        for (QAction* a : menu->actions()) {
            SetItemEnabled(a, enabled);
            if (a->menu())
                SetCommandsEnabled(a->menu(), enabled);
        }
        return;
    }
    if (!component)
        return;
    // Speed buttons, drop-down lists and track bars of the window; Qt's own
    // inner widgets (unnamed or "qt_") are not commands.
    auto ours = [](QObject* o) { return !o->objectName().isEmpty() && !o->objectName().startsWith(QLatin1String("qt_")); };
    for (auto* b : component->findChildren<QToolButton*>())
        if (ours(b)) b->setEnabled(enabled);
    for (auto* c : component->findChildren<QComboBox*>())
        if (ours(c)) c->setEnabled(enabled);
    for (auto* t : component->findChildren<QSlider*>())
        if (ours(t)) t->setEnabled(enabled);
}

// ---------------------------------------------------------------- commands

void TMainForm::Open1Click() {
    // The running job works on the open movie: it is not replaced under it.
    if (FJobState != TJobState::Idle)
        return;
    LoadPreferences();
    if (OpenDialog1.FileName.isEmpty())
        OpenDialog1.InitialDir = SourceFolder;
    else
        OpenDialog1.InitialDir.clear();  // where the current file lies
    TFileDialogRequest request = OpenDialog1;
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
    TB1->setFocus(Qt::OtherFocusReason);
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
    if (MovieInfo.FrameRate == 0 || !TB1->isEnabled())
        return;
    const int pos = TB1->Position();
    TB1->SetSelStart(pos);
    if (TB1->SelEnd() < pos)
        TB1->SetSelEnd(pos);
}

void TMainForm::actSelEndExecute() {
    if (MovieInfo.FrameRate == 0 || !TB1->isEnabled())
        return;
    const int pos = TB1->Position();
    TB1->SetSelEnd(pos);
    if (TB1->SelStart() > pos)
        TB1->SetSelStart(pos);
}

void TMainForm::sbLocStartClick() { TB1->SetPosition(TB1->SelStart()); }
void TMainForm::sbLocEndClick() { TB1->SetPosition(TB1->SelEnd()); }

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
