// Playback in the main window: the Play menu and its keys (Space, K, L, J,
// Shift+arrows a second, Ctrl+arrows a key frame, P the marked range, F11 and
// a double-click full screen, Esc back), volume and mute in the status bar
// (stored in the settings), the range as text, a click on the track bar
// jumping there, and the player (media/TPlayer) of the open movie.
//
// The player runs on threads of its own; its pictures and states come to the
// window's thread as queued calls, each marked with the player it came from,
// so that one of a movie closed since is dropped. The window never waits for
// it. While it plays, the track bar and the position text follow the frame on
// screen (so F2 and F3 mark that frame); a move of the bar by the user jumps
// there and goes on playing; on pause the preview shows the exact frame, as
// the scrub preview does. A conversion or capture job stops it.
#pragma once

#include "media/Player.h"

#include <QObject>
#include <QPointer>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QSlider;
class QToolButton;
class TMainForm;

class TPlayback : public QObject {
    Q_OBJECT
public:
    explicit TPlayback(TMainForm& form);
    ~TPlayback() override;

    // The window opened a movie (odMovie.FileName): a player for it.
    void MovieOpened();
    // A job starts: playing stops (the position stays).
    void Stop();

    bool Playing() const { return FPlaying; }
    int Speed() const { return FSpeed; }
    bool FullScreen() const;

    // Commands, as the keys give them.
    void PlayPause();   // Space
    void Pause();       // K
    void Forward();     // L: 1x, then 2x, then 4x
    void Backward();    // J: backward 1x, then 2x, then 4x
    void StepSeconds(int seconds);   // Shift+Left / Shift+Right
    void StepKeyFrame(int direction);  // Ctrl+Left / Ctrl+Right
    void PlayRange();   // P
    void ToggleFullScreen();  // F11, a double-click on the picture
    void LeaveFullScreen();   // Esc

    QMenu* Menu = nullptr;
    QAction *actPlayPause = nullptr, *actPause = nullptr, *actForward = nullptr, *actBackward = nullptr,
            *actBackSecond = nullptr, *actForwardSecond = nullptr, *actPrevKey = nullptr, *actNextKey = nullptr,
            *actPlayRange = nullptr, *actLoop = nullptr, *actMute = nullptr, *actFullScreen = nullptr,
            *actLeaveFullScreen = nullptr;
    QSlider* sldVolume = nullptr;     // 0..100, in the status bar
    QToolButton* sbMute = nullptr;
    QLabel* lbRange = nullptr;        // "Range: start .. end (last frame kept), length"

signals:
    // For tests: a frame the player showed (exact: paused on it).
    void FrameShown(int frame, bool exact);
    void StateChanged(bool playing, int speed);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    void Play(int speed);
    void FrameArrived(uint64_t player, const media::TPlayedFrame& frame);
    void StateArrived(uint64_t player, const media::TPlayerState& state);
    void UpdatePictureSize();
    void UpdateRangeText();
    void VolumeChanged();
    // The frame the player is on differs from the bar's (the user moved it): the player goes there.
    void FollowBar();

    TMainForm& F;
    std::unique_ptr<media::TPlayer> FPlayer;
    uint64_t FPlayerId = 0;
    bool FPlaying = false;
    int FSpeed = 1;
    int FPlayerPosition = 0;     // the frame the player last showed
    bool FMovingBar = false;     // the bar is moved by the player, not the user
    bool FBarMovedWhilePaused = false;  // a late exact frame of the player does not move it back
    QPointer<QLabel> FFullView;  // the full-screen picture
};
