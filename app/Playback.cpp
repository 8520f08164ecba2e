#include "app/Playback.h"

#include "app/Main.h"
#include "app/TrackBar.h"
#include "common/MyCommonParams.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolButton>
#include <algorithm>
#include <cmath>

namespace {
const QString kPlayback = QStringLiteral("Playback");

QPixmap ToPixmap(const media::TRgbPicture& p) {
    const QImage image(p.Rgb.data(), p.Width, p.Height, p.Width * 3, QImage::Format_RGB888);
    return QPixmap::fromImage(image.copy());
}
}  // namespace

TPlayback::TPlayback(TMainForm& form) : QObject(&form), F(form) {
    setObjectName(QStringLiteral("Playback"));
    CreateActions();
    F.imPreview->installEventFilter(this);
    F.pBackground1->installEventFilter(this);
    F.tbPosition->installEventFilter(this);
    connect(F.tbPosition, &QSlider::valueChanged, this, [this] {
        if (FMovingBar) return;
        if (!FPlaying) FBarMovedWhilePaused = true;
        FollowBar();
    });
    connect(F.tbPosition, &TTrackBar::SelectionChanged, this, [this] { UpdateRangeText(); });
    UpdateRangeText();
}

TPlayback::~TPlayback() {
    FPlayer.reset();
    if (FFullView) {
        // No events of the picture being destroyed come here.
        FFullView->removeEventFilter(this);
        delete FFullView.data();
    }
}

void TPlayback::CreateActions() {
    // Before Help, which stays the last menu.
    Menu = new QMenu(QStringLiteral("&Play"), F.menuBar());
    F.menuBar()->insertMenu(F.Help1->menuAction(), Menu);
    Menu->setObjectName(QStringLiteral("PlayMenu"));
    auto add = [this](const char* name, const QString& text, const QKeySequence& key, void (TPlayback::*slot)()) {
        QAction* a = Menu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(key);
        a->setShortcutContext(Qt::ApplicationShortcut);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    actPlayPause = add("actPlayPause", QStringLiteral("Play / pause"), QKeySequence(Qt::Key_Space), &TPlayback::PlayPause);
    actPause = add("actPause", QStringLiteral("Pause"), QKeySequence(Qt::Key_K), &TPlayback::Pause);
    actForward = add("actForward", QStringLiteral("Play forward (again: faster)"), QKeySequence(Qt::Key_L), &TPlayback::Forward);
    actBackward = add("actBackward", QStringLiteral("Play backward (again: faster)"), QKeySequence(Qt::Key_J), &TPlayback::Backward);
    Menu->addSeparator();
    actBackSecond = Menu->addAction(QStringLiteral("Back one second"));
    actBackSecond->setObjectName(QStringLiteral("actBackSecond"));
    actBackSecond->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_Left));
    connect(actBackSecond, &QAction::triggered, this, [this] { StepSeconds(-1); });
    actForwardSecond = Menu->addAction(QStringLiteral("Forward one second"));
    actForwardSecond->setObjectName(QStringLiteral("actForwardSecond"));
    actForwardSecond->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_Right));
    connect(actForwardSecond, &QAction::triggered, this, [this] { StepSeconds(1); });
    actPrevKey = Menu->addAction(QStringLiteral("Previous key frame"));
    actPrevKey->setObjectName(QStringLiteral("actPrevKey"));
    actPrevKey->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Left));
    connect(actPrevKey, &QAction::triggered, this, [this] { StepKeyFrame(-1); });
    actNextKey = Menu->addAction(QStringLiteral("Next key frame"));
    actNextKey->setObjectName(QStringLiteral("actNextKey"));
    actNextKey->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Right));
    connect(actNextKey, &QAction::triggered, this, [this] { StepKeyFrame(1); });
    Menu->addSeparator();
    actPlayRange = add("actPlayRange", QStringLiteral("Play the marked range"), QKeySequence(Qt::Key_P), &TPlayback::PlayRange);
    actLoop = Menu->addAction(QStringLiteral("Loop the marked range"));
    actLoop->setObjectName(QStringLiteral("actLoop"));
    actLoop->setCheckable(true);
    Menu->addSeparator();
    actMute = Menu->addAction(QStringLiteral("Mute"));
    actMute->setObjectName(QStringLiteral("actMute"));
    actMute->setCheckable(true);
    actMute->setShortcut(QKeySequence(Qt::Key_M));
    actFullScreen = add("actFullScreen", QStringLiteral("Full screen"), QKeySequence(Qt::Key_F11), &TPlayback::ToggleFullScreen);
    actLeaveFullScreen = new QAction(QStringLiteral("Leave full screen"), this);
    actLeaveFullScreen->setObjectName(QStringLiteral("actLeaveFullScreen"));
    actLeaveFullScreen->setShortcut(QKeySequence(Qt::Key_Escape));
    actLeaveFullScreen->setShortcutContext(Qt::ApplicationShortcut);
    actLeaveFullScreen->setEnabled(false);
    connect(actLeaveFullScreen, &QAction::triggered, this, &TPlayback::LeaveFullScreen);
    F.addAction(actLeaveFullScreen);
    for (QAction* a : Menu->actions()) a->setShortcutContext(Qt::ApplicationShortcut);

    sbMute = new QToolButton(F.SB1);
    sbMute->setObjectName(QStringLiteral("sbMute"));
    sbMute->setDefaultAction(actMute);
    sbMute->setFocusPolicy(Qt::NoFocus);
    sldVolume = new QSlider(Qt::Horizontal, F.SB1);
    sldVolume->setObjectName(QStringLiteral("sldVolume"));
    sldVolume->setRange(0, 100);
    sldVolume->setFixedWidth(90);
    sldVolume->setFocusPolicy(Qt::NoFocus);
    sldVolume->setToolTip(QStringLiteral("Volume"));
    lbRange = new QLabel(F.SB1);
    lbRange->setObjectName(QStringLiteral("lbRange"));
    // The range takes what the position and duration panels leave (they
    // never shrink for it); its whole text is also its tooltip.
    lbRange->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    F.SB1->addPermanentWidget(lbRange, 1);
    // A passing message (why the movie plays silently) gets the room the range had.
    connect(F.SB1, &QStatusBar::messageChanged, lbRange, [this](const QString& message) {
        lbRange->setVisible(message.isEmpty());
    });
    F.SB1->addPermanentWidget(sbMute);
    F.SB1->addPermanentWidget(sldVolume);
    if (SettingsStore) {
        sldVolume->setValue(std::clamp(SettingsStore->ReadInteger(kPlayback, QStringLiteral("Volume"), 100), 0, 100));
        actMute->setChecked(SettingsStore->ReadBool(kPlayback, QStringLiteral("Mute"), false));
        actLoop->setChecked(SettingsStore->ReadBool(kPlayback, QStringLiteral("Loop range"), false));
    } else {
        sldVolume->setValue(100);
    }
    connect(sldVolume, &QSlider::valueChanged, this, [this] { VolumeChanged(); });
    connect(actMute, &QAction::toggled, this, [this] { VolumeChanged(); });
    connect(actLoop, &QAction::toggled, this, [this](bool on) {
        if (FPlayer) FPlayer->SetLoop(on);
        if (SettingsStore) SettingsStore->WriteBool(kPlayback, QStringLiteral("Loop range"), on);
    });
}

void TPlayback::VolumeChanged() {
    if (FPlayer) {
        FPlayer->SetVolume(sldVolume->value() / 100.0);
        FPlayer->SetMuted(actMute->isChecked());
    }
    if (SettingsStore) {
        SettingsStore->WriteInteger(kPlayback, QStringLiteral("Volume"), sldVolume->value());
        SettingsStore->WriteBool(kPlayback, QStringLiteral("Mute"), actMute->isChecked());
    }
}

void TPlayback::MovieOpened() {
    FPlayer.reset();
    FPlaying = false;
    FSpeed = 1;
    FPlayerPosition = 0;
    FBarMovedWhilePaused = false;
    const uint64_t id = ++FPlayerId;
    media::TPlayerEvents events;
    // Called on the player's threads: everything goes to the window's thread.
    events.Frame = [this, id](const media::TPlayedFrame& f) {
        QMetaObject::invokeMethod(this, [this, id, f] { FrameArrived(id, f); }, Qt::QueuedConnection);
    };
    events.State = [this, id](const media::TPlayerState& s) {
        QMetaObject::invokeMethod(this, [this, id, s] { StateArrived(id, s); }, Qt::QueuedConnection);
    };
    FPlayer = std::make_unique<media::TPlayer>(QFile::encodeName(F.odMovie.FileName).toStdString(), std::move(events));
    FPlayer->SetVolume(sldVolume->value() / 100.0);
    FPlayer->SetMuted(actMute->isChecked());
    FPlayer->SetLoop(actLoop->isChecked());
    UpdatePictureSize();
    UpdateRangeText();
}

void TPlayback::Stop() {
    if (FPlayer && FPlaying) FPlayer->Pause();
}

bool TPlayback::FullScreen() const { return FFullView && FFullView->isVisible(); }

void TPlayback::UpdatePictureSize() {
    if (!FPlayer) return;
    if (FullScreen()) {
        const QSize area = FFullView->size();
        const TPreviewSize s = ::FitPreviewSize(uint16_t(std::min(area.width(), 65535)), uint16_t(std::min(area.height(), 65535)),
                                                F.MovieInfo.FrameWidth, F.MovieInfo.FrameHeight);
        // Full screen fills the screen on the tight side, enlarged where the movie is smaller.
        const double scale = std::min(double(area.width()) / std::max(1, F.MovieInfo.FrameWidth),
                                      double(area.height()) / std::max(1, F.MovieInfo.FrameHeight));
        const int w = std::max<int>(s.Width, int(std::lround(F.MovieInfo.FrameWidth * scale))) & ~1;
        const int h = std::max<int>(s.Height, int(std::lround(F.MovieInfo.FrameHeight * scale))) & ~1;
        FPlayer->SetPictureSize(w, h);
        return;
    }
    const TPreviewSize s = F.FitPreviewSize(uint16_t(std::min(F.pBackground1->width(), 65535)),
                                            uint16_t(std::min(F.pBackground1->height(), 65535)));
    FPlayer->SetPictureSize(s.Width, s.Height);
}

void TPlayback::FollowBar() {
    if (!FPlayer) return;
    if (F.tbPosition->Position() != FPlayerPosition && FPlaying) {
        FPlayerPosition = F.tbPosition->Position();
        FPlayer->Seek(FPlayerPosition);
    }
}

void TPlayback::Play(int speed) {
    if (!FPlayer || F.JobState() != TJobState::Idle || F.MovieInfo.FrameRate == 0) return;
    UpdatePictureSize();
    if (F.tbPosition->Position() != FPlayerPosition) {
        FPlayerPosition = F.tbPosition->Position();
        FPlayer->Seek(FPlayerPosition);
    }
    FSpeed = speed;
    FPlaying = true;
    FBarMovedWhilePaused = false;
    FPlayer->Play(speed);
}

void TPlayback::PlayPause() {
    if (FPlaying) Pause();
    else Play(1);
}

void TPlayback::Pause() {
    if (!FPlayer) return;
    FPlaying = false;
    FBarMovedWhilePaused = false;
    FPlayer->Pause();
}

void TPlayback::Forward() {
    Play(FPlaying && FSpeed > 0 ? std::min(FSpeed * 2, 4) : 1);
}

void TPlayback::Backward() {
    Play(FPlaying && FSpeed < 0 ? std::max(FSpeed * 2, -4) : -1);
}

void TPlayback::StepSeconds(int seconds) {
    if (F.MovieInfo.FrameRate <= 0) return;
    const int step = std::max(1, int(std::lround(F.MovieInfo.FrameRate)));
    F.tbPosition->SetPosition(std::clamp(F.tbPosition->Position() + seconds * step, 0, F.tbPosition->maximum()));
}

void TPlayback::StepKeyFrame(int direction) {
    if (!FPlayer) return;
    FBarMovedWhilePaused = false;
    FPlayer->StepKeyFrame(direction, F.tbPosition->Position());  // the player's frame comes back and moves the bar
}

void TPlayback::PlayRange() {
    if (!FPlayer || F.JobState() != TJobState::Idle) return;
    const int first = F.tbPosition->SelStart(), end = F.tbPosition->SelEnd();
    if (end <= first) return;
    UpdatePictureSize();
    FSpeed = 1;
    FPlaying = true;
    FPlayerPosition = first;
    FBarMovedWhilePaused = false;
    FPlayer->PlayRange(first, end, actLoop->isChecked());
}

void TPlayback::ToggleFullScreen() {
    if (FullScreen()) {
        LeaveFullScreen();
        return;
    }
    if (!FFullView) {
        FFullView = new QLabel();
        FFullView->setObjectName(QStringLiteral("FullView"));
        FFullView->setAlignment(Qt::AlignCenter);
        FFullView->setStyleSheet(QStringLiteral("background: black"));
        FFullView->setAttribute(Qt::WA_DeleteOnClose, false);
        FFullView->installEventFilter(this);
    }
    if (QScreen* s = F.screen()) FFullView->setGeometry(s->geometry());
    if (!F.imPreview->pixmap().isNull()) FFullView->setPixmap(F.imPreview->pixmap());
    FFullView->showFullScreen();
    actLeaveFullScreen->setEnabled(true);
    UpdatePictureSize();
    if (!FPlaying && FPlayer) FPlayer->Seek(F.tbPosition->Position());  // the exact frame at the new size
}

void TPlayback::LeaveFullScreen() {
    if (!FullScreen()) return;
    FFullView->hide();
    actLeaveFullScreen->setEnabled(false);
    UpdatePictureSize();
    F.activateWindow();
}

void TPlayback::FrameArrived(uint64_t player, const media::TPlayedFrame& f) {
    if (player != FPlayerId || f.Frame < 0) return;
    FPlayerPosition = int(f.Frame);
    // Paused, and the user has moved the bar since: the preview's own path shows that frame.
    if (!FPlaying && FBarMovedWhilePaused) return;
    if (f.Picture && !f.Picture->Empty()) {
        const QPixmap pixmap = ToPixmap(*f.Picture);
        if (FullScreen()) FFullView->setPixmap(pixmap);
        else F.imPreview->setPixmap(pixmap);
    }
    if (f.Exact && !FPlaying) {
        // Paused: the bar goes to the frame and the preview's own path takes
        // over (the exact frame kept for captures), unless the user has moved
        // the bar since.
        FMovingBar = true;
        F.tbPosition->SetPosition(int(f.Frame));
        FMovingBar = false;
    } else if (F.tbPosition->Position() != f.Frame) {
        FMovingBar = true;
        {
            const QSignalBlocker block(F.tbPosition);
            F.tbPosition->SetPosition(int(f.Frame));
        }
        F.tbPosition->update();
        FMovingBar = false;
    }
    F.ShowPositionText(int(f.Frame));
    emit FrameShown(int(f.Frame), f.Exact);
}

void TPlayback::StateArrived(uint64_t player, const media::TPlayerState& s) {
    if (player != FPlayerId) return;
    if (!s.Error.empty()) F.SB1->showMessage(QString::fromStdString(s.Error), 8000);
    else if (s.Open && !s.SoundNote.empty() && F.MovieInfo.HasAudio) F.SB1->showMessage(QString::fromStdString(s.SoundNote), 8000);
    FPlaying = s.Playing;
    if (s.Playing) FSpeed = s.Speed;
    emit StateChanged(FPlaying, FSpeed);
}

void TPlayback::UpdateRangeText() {
    const int first = F.tbPosition->SelStart(), end = F.tbPosition->SelEnd();
    if (F.MovieInfo.FrameRate <= 0 || end <= first) {
        lbRange->setText(QStringLiteral("Range: none"));
        return;
    }
    const auto& times = F.MovieInfo.FrameTimes;
    auto timeOf = [&](int n) {
        if (!times.empty()) return n >= 0 && size_t(n) < times.size() ? times[size_t(n)] : F.MovieInfo.StreamLength;
        return n / F.MovieInfo.FrameRate;
    };
    lbRange->setText(QStringLiteral("Range: %1 to %2, %3 frames (%4)")
                         .arg(TimecodeText(timeOf(first)), TimecodeText(timeOf(end - 1)))
                         .arg(end - first)
                         .arg(TimecodeText(timeOf(end) - timeOf(first))));
    lbRange->setToolTip(lbRange->text() +
                        QStringLiteral("\nFrames %1 to %2 (the last frame kept)").arg(first).arg(end - 1));
}

bool TPlayback::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == F.imPreview || watched == FFullView.data()) && event->type() == QEvent::MouseButtonDblClick) {
        ToggleFullScreen();
        return true;
    }
    if (watched == F.pBackground1 && event->type() == QEvent::Resize) UpdatePictureSize();
    if (watched == FFullView.data() && event->type() == QEvent::KeyPress) {
        // Keys pressed on the full-screen picture act as on the window.
        QApplication::sendEvent(&F, event);
        return true;
    }
    if (watched == F.tbPosition && event->type() == QEvent::MouseButtonPress) {
        // A click beside the handle jumps there (instead of a page step), and the handle follows the drag.
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::LeftButton && F.tbPosition->isEnabled()) {
            QStyleOptionSlider opt;
            opt.initFrom(F.tbPosition);
            opt.orientation = F.tbPosition->orientation();
            opt.minimum = F.tbPosition->minimum();
            opt.maximum = F.tbPosition->maximum();
            opt.sliderPosition = F.tbPosition->value();
            const QRect handle = F.tbPosition->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, F.tbPosition);
            if (!handle.contains(e->position().toPoint())) {
                const int span = F.tbPosition->width() - handle.width();
                const int x = int(e->position().x()) - handle.width() / 2;
                F.tbPosition->SetPosition(QStyle::sliderValueFromPosition(F.tbPosition->minimum(), F.tbPosition->maximum(),
                                                                          x, std::max(1, span)));
            }
        }
    }
    return QObject::eventFilter(watched, event);
}
