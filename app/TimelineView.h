// The timeline under the track bar: a filmstrip of thumbnails, the sound's
// waveform, key frame ticks, the marked range and the position, all on the
// track bar's scale (at the widest view, frame p lies under the track bar's
// position p). Ctrl+wheel and +/- zoom around the mouse down to one
// thumbnail per frame (decoded exactly there); the wheel and dragging pan; a
// click moves the position.
//
// What it shows is built by a timeline job (media/TimelineJob.h) off the
// window's thread, the part in view first; its events come in queued
// (common/JobSignals.h) and the view copies what they announce. The window
// thread never waits for the job: a job no longer wanted is cancelled and
// deleted once its end has come.
#pragma once

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <map>
#include <memory>
#include <vector>

#include "media/Waveform.h"

class QSlider;
class TJobSignals;
namespace media {
class TTimelineJob;
struct TJobProgress;
struct TJobEnd;
}  // namespace media

class TTimelineView : public QWidget {
    Q_OBJECT
public:
    explicit TTimelineView(QWidget* parent = nullptr);
    ~TTimelineView() override;

    // The track bar whose scale the view follows (its groove's ends).
    void SetTrackBar(QSlider* bar);

    // Shows the movie at path (frameCount frames at `rate` per second) and
    // starts building its timeline. cacheFolder "" keeps nothing.
    void OpenMovie(const QString& path, qint64 frameCount, double rate, const QString& cacheFolder);
    void CloseMovie();

    void SetPosition(int frame);
    void SetSelection(int selStart, int selEnd);

    // Either part can be switched off; the view shrinks to what is shown.
    void SetFilmstripShown(bool shown);
    void SetWaveformShown(bool shown);
    bool FilmstripShown() const { return FStripShown; }
    bool WaveformShown() const { return FWaveShown; }

    // The view: zoom 1 shows the whole movie; the first frame at the left.
    double Zoom() const { return FZoom; }
    double MaxZoom() const;
    double FirstFrame() const { return FFirst; }
    double VisibleFrames() const;
    // Zooms by `factor` keeping the frame under x where it is.
    void ZoomAround(int x, double factor);
    double FrameAtX(double x) const;
    double XOfFrame(double frame) const;

    // What has come from the job (for the tests).
    bool Complete() const { return FComplete; }
    int KeyThumbs() const { return int(FThumbs.size()); }
    int ExactThumbs() const { return int(FExact.size()); }
    const std::vector<qint64>& KeyFrames() const { return FKeys; }
    bool HasWaveform() const { return !FWave.Empty(); }
    bool BuiltFromCache() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void PositionRequested(int frame);
    // After each event of the build has been taken in.
    void Changed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct TBuild;
    void StartBuild();
    void StopBuild();
    void TakePlan();
    void TakePicture(qint64 frame);
    void TakeProgress();
    void TakePending();
    void TellFocus();
    void Clamp();
    void Relayout();
    int Left() const;
    int Right() const;
    QRect StripRect() const;
    QRect WaveRect() const;
    QRect TickRect() const;
    bool ExactZoom() const;

    QPointer<QSlider> FTrackBar;
    QString FPath, FCacheFolder;
    qint64 FFrameCount = 0;
    double FRate = 0;
    int FPosition = 0, FSelStart = 0, FSelEnd = 0;
    bool FStripShown = true, FWaveShown = true;

    double FZoom = 1, FFirst = 0;
    int FThumbWidth = 0, FThumbHeight = 0;
    std::vector<qint64> FKeys, FThumbFrames;
    std::map<qint64, QImage> FThumbs, FExact;
    media::TWaveform FWave;
    bool FHasSound = false, FComplete = false;
    std::vector<qint64> FPending;  // thumbnails announced but not taken in yet

    std::unique_ptr<TBuild> FBuild;                // the job building the movie in view
    std::vector<std::unique_ptr<TBuild>> FEnding;  // cancelled, waiting for their end

    QPoint FPressAt;
    double FPressFirst = 0;
    bool FPressed = false, FDragging = false;
};
