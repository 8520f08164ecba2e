#include "app/TimelineView.h"

#include "common/JobSignals.h"
#include "media/Timeline.h"
#include "media/TimelineJob.h"

#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {
constexpr int kWaveHeight = 40;
constexpr int kTickHeight = 7;
constexpr int kGap = 2;
constexpr double kWheelZoom = 1.25;  // per notch
constexpr int kDragStart = 4;        // pixels before a press becomes a drag
}  // namespace

// A job with the relay it reports through; the relay outlive the job.
struct TTimelineView::TBuild {
    std::unique_ptr<TJobSignals> Signals;
    std::unique_ptr<media::TTimelineJob> Job;
    ~TBuild() { Job.reset(); }  // waits only for a job already told to stop
};

TTimelineView::TTimelineView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("tlView"));
    setFocusPolicy(Qt::ClickFocus);
    setMouseTracking(false);
    setToolTip(tr("Timeline: Ctrl+wheel or +/- zooms, the wheel or dragging moves along, a click goes there"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    Relayout();
}

TTimelineView::~TTimelineView() {
    if (FBuild) FBuild->Job->Cancel();
    for (auto& b : FEnding) b->Job->Cancel();
}

void TTimelineView::SetTrackBar(QSlider* bar) {
    FTrackBar = bar;
    update();
}

QSize TTimelineView::sizeHint() const {
    int h = kTickHeight + kGap;
    if (FStripShown) h += media::kThumbHeight + kGap;
    if (FWaveShown) h += kWaveHeight + kGap;
    return {200, h};
}

void TTimelineView::Relayout() {
    setFixedHeight(sizeHint().height());
    updateGeometry();
    update();
}

// ---- the movie and its build ---------------------------------------------

void TTimelineView::OpenMovie(const QString& path, qint64 frameCount, double rate, const QString& cacheFolder) {
    StopBuild();
    FPath = path;
    FCacheFolder = cacheFolder;
    FFrameCount = std::max<qint64>(0, frameCount);
    FRate = rate;
    FZoom = 1;
    FFirst = 0;
    FPosition = FSelStart = FSelEnd = 0;
    StartBuild();
    update();
}

void TTimelineView::CloseMovie() {
    StopBuild();
    FPath.clear();
    FFrameCount = 0;
    update();
}

void TTimelineView::StopBuild() {
    if (FBuild) {
        FBuild->Job->Cancel();
        // Deleted once its end has come (the relay must outlive the job).
        FEnding.push_back(std::move(FBuild));
    }
    FKeys.clear();
    FThumbFrames.clear();
    FThumbs.clear();
    FExact.clear();
    FWave = {};
    FHasSound = false;
    FComplete = false;
    FPending.clear();
    FThumbWidth = FThumbHeight = 0;
}

void TTimelineView::StartBuild() {
    if (FPath.isEmpty() || (!FStripShown && !FWaveShown)) return;
    auto build = std::make_unique<TBuild>();
    build->Signals = std::make_unique<TJobSignals>();
    TJobSignals* relay = build->Signals.get();
    connect(relay, &TJobSignals::plan, this, [this, relay] {
        if (FBuild && FBuild->Signals.get() == relay) TakePlan();
    }, Qt::QueuedConnection);
    connect(relay, &TJobSignals::picture, this, [this, relay](qint64 frame) {
        if (FBuild && FBuild->Signals.get() == relay) TakePicture(frame);
    }, Qt::QueuedConnection);
    connect(relay, &TJobSignals::progress, this, [this, relay] {
        if (FBuild && FBuild->Signals.get() == relay) TakeProgress();
    }, Qt::QueuedConnection);
    connect(relay, &TJobSignals::ended, this, [this, relay] {
        // A build that ended on its own (a movie it could not read) or after a cancel goes now.
        auto gone = [relay](const std::unique_ptr<TBuild>& b) { return b->Signals.get() == relay; };
        FEnding.erase(std::remove_if(FEnding.begin(), FEnding.end(), gone), FEnding.end());
        if (FBuild && gone(FBuild)) {
            FBuild.reset();
            emit Changed();
        }
    }, Qt::QueuedConnection);
    media::TTimelineSpec spec;
    spec.Path = QFile::encodeName(FPath).toStdString();
    spec.CacheFolder = QFile::encodeName(FCacheFolder).toStdString();
    spec.Thumbs = FStripShown;
    spec.Wave = FWaveShown;
    build->Job = media::TTimelineJob::Start(spec, relay->Events());
    FBuild = std::move(build);
    TellFocus();
}

bool TTimelineView::BuiltFromCache() const { return FBuild && FBuild->Job->Info().FromCache; }

void TTimelineView::TakePlan() {
    const media::TTimelineJob::TInfo info = FBuild->Job->Info();
    FKeys.assign(info.KeyFrames.begin(), info.KeyFrames.end());
    FThumbFrames.assign(info.ThumbFrames.begin(), info.ThumbFrames.end());
    FThumbWidth = info.ThumbWidth;
    FThumbHeight = info.ThumbHeight;
    if (info.FrameCount > 0 && FFrameCount <= 0) FFrameCount = info.FrameCount;
    if (info.Complete) TakeProgress();  // from the cache: everything is there
    TellFocus();
    update();
    emit Changed();
}

static QImage ToImage(const media::TRgbPicture& p) {
    if (p.Empty()) return {};
    return QImage(p.Rgb.data(), p.Width, p.Height, p.Width * 3, QImage::Format_RGB888).copy();
}

void TTimelineView::TakePicture(qint64 frame) {
    media::TRgbPicture picture;
    if (FBuild->Job->ExactThumb(frame, picture)) FExact[frame] = ToImage(picture);
    if (FBuild->Job->Thumb(frame, picture)) FThumbs[frame] = ToImage(picture);
    update();
    emit Changed();
}

void TTimelineView::TakeProgress() {
    const media::TTimelineJob::TInfo info = FBuild->Job->Info();
    FHasSound = info.HasSound;
    FBuild->Job->WaveSince(FWave.Peak.size(), FWave);
    if (info.Complete && !FComplete && FPending.empty()) {
        // Every thumbnail there is (from the cache they come all at once),
        // taken in a few at a time so that the window keeps answering.
        for (const int64_t f : info.ThumbFrames)
            if (!FThumbs.count(f)) FPending.push_back(f);
        TakePending();
        return;
    }
    update();
    emit Changed();
}

void TTimelineView::TakePending() {
    if (!FBuild) {
        FPending.clear();
        return;
    }
    constexpr std::size_t kPerTurn = 48;
    media::TRgbPicture picture;
    for (std::size_t n = 0; n < kPerTurn && !FPending.empty(); ++n) {
        const qint64 f = FPending.back();
        FPending.pop_back();
        if (FBuild->Job->Thumb(f, picture)) FThumbs[f] = ToImage(picture);
    }
    if (!FPending.empty()) {
        QTimer::singleShot(0, this, [this, build = FBuild.get()] {
            if (FBuild.get() == build) TakePending();
        });
    } else {
        FComplete = true;
    }
    update();
    emit Changed();
}

void TTimelineView::TellFocus() {
    if (!FBuild || FFrameCount <= 0) return;
    const auto first = qint64(std::floor(FFirst));
    const auto last = qint64(std::ceil(FFirst + VisibleFrames()));
    FBuild->Job->Focus(first, last, FStripShown && ExactZoom());
}

void TTimelineView::SetFilmstripShown(bool shown) {
    if (shown == FStripShown) return;
    FStripShown = shown;
    Relayout();
    if (!FPath.isEmpty()) {
        StopBuild();
        StartBuild();
    }
}

void TTimelineView::SetWaveformShown(bool shown) {
    if (shown == FWaveShown) return;
    FWaveShown = shown;
    Relayout();
    if (!FPath.isEmpty()) {
        StopBuild();
        StartBuild();
    }
}

void TTimelineView::SetPosition(int frame) {
    if (frame == FPosition) return;
    FPosition = frame;
    // A position that leaves a zoomed view brings the view along.
    if (FZoom > 1 && (frame < FFirst || frame > FFirst + VisibleFrames())) {
        FFirst = frame - VisibleFrames() / 2;
        Clamp();
        TellFocus();
    }
    update();
}

void TTimelineView::SetSelection(int selStart, int selEnd) {
    FSelStart = selStart;
    FSelEnd = selEnd;
    update();
}

// ---- the scale -------------------------------------------------------------

// The track bar's positions 0 and its maximum lie under these x (the handle's
// centre at either end of the groove), so the widest view matches the bar.
int TTimelineView::Left() const {
    if (FTrackBar && FTrackBar->isVisible()) {
        QStyleOptionSlider opt;
        opt.initFrom(FTrackBar);
        opt.orientation = FTrackBar->orientation();
        opt.minimum = FTrackBar->minimum();
        opt.maximum = FTrackBar->maximum();
        const QRect groove = FTrackBar->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, FTrackBar);
        const QRect handle = FTrackBar->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, FTrackBar);
        return mapFromGlobal(FTrackBar->mapToGlobal(QPoint(groove.x() + handle.width() / 2, 0))).x();
    }
    return 2;
}

int TTimelineView::Right() const {
    if (FTrackBar && FTrackBar->isVisible()) {
        QStyleOptionSlider opt;
        opt.initFrom(FTrackBar);
        opt.orientation = FTrackBar->orientation();
        const QRect groove = FTrackBar->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, FTrackBar);
        const QRect handle = FTrackBar->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, FTrackBar);
        const int x = groove.x() + handle.width() / 2 + groove.width() - handle.width();
        return std::max(Left() + 1, mapFromGlobal(FTrackBar->mapToGlobal(QPoint(x, 0))).x());
    }
    return std::max(3, width() - 3);
}

double TTimelineView::VisibleFrames() const { return FFrameCount > 0 ? double(FFrameCount) / FZoom : 1; }

// Closest: each frame as wide as a thumbnail.
double TTimelineView::MaxZoom() const {
    const double span = std::max(1, Right() - Left());
    const int tw = FThumbWidth > 0 ? FThumbWidth : media::kThumbHeight * 16 / 9;
    return std::max(1.0, double(tw) * double(std::max<qint64>(1, FFrameCount)) / span);
}

bool TTimelineView::ExactZoom() const { return FZoom >= MaxZoom() * 0.999; }

double TTimelineView::FrameAtX(double x) const {
    const double span = std::max(1, Right() - Left());
    return FFirst + (x - Left()) * VisibleFrames() / span;
}

double TTimelineView::XOfFrame(double frame) const {
    const double span = std::max(1, Right() - Left());
    return Left() + (frame - FFirst) * span / VisibleFrames();
}

void TTimelineView::Clamp() {
    FZoom = std::clamp(FZoom, 1.0, MaxZoom());
    FFirst = std::clamp(FFirst, 0.0, std::max(0.0, double(FFrameCount) - VisibleFrames()));
}

void TTimelineView::ZoomAround(int x, double factor) {
    if (FFrameCount <= 0) return;
    const double anchor = FrameAtX(x);
    FZoom *= factor;
    FZoom = std::clamp(FZoom, 1.0, MaxZoom());
    const double span = std::max(1, Right() - Left());
    FFirst = anchor - (x - Left()) * VisibleFrames() / span;
    Clamp();
    TellFocus();
    update();
}

// ---- drawing ---------------------------------------------------------------

QRect TTimelineView::StripRect() const {
    return FStripShown ? QRect(0, kGap, width(), media::kThumbHeight) : QRect(0, kGap, width(), 0);
}

QRect TTimelineView::WaveRect() const {
    const int top = StripRect().bottom() + 1 + (FStripShown ? kGap : 0);
    return QRect(0, top, width(), FWaveShown ? kWaveHeight : 0);
}

QRect TTimelineView::TickRect() const {
    const int top = WaveRect().bottom() + 1 + (FWaveShown ? kGap : 0);
    return QRect(0, top, width(), kTickHeight);
}

void TTimelineView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(30, 30, 30));
    if (FFrameCount <= 0) return;
    const int left = Left(), right = Right();
    p.setClipRect(QRect(left, 0, right - left + 1, height()));
    const double first = FFirst, last = FFirst + VisibleFrames();

    if (FStripShown && FThumbWidth > 0) {
        const QRect strip = StripRect();
        if (ExactZoom()) {
            // One thumbnail per frame: the exact one, else the key frame's until it comes.
            for (qint64 f = std::max<qint64>(0, qint64(first)); f <= qint64(last) && f < FFrameCount; ++f) {
                const int x = int(std::lround(XOfFrame(double(f))));
                auto it = FExact.find(f);
                const QImage* img = it != FExact.end() && !it->second.isNull() ? &it->second : nullptr;
                if (!img && !FThumbs.empty()) {
                    auto k = FThumbs.upper_bound(f);
                    if (k != FThumbs.begin()) img = &std::prev(k)->second;
                }
                if (img && !img->isNull()) p.drawImage(QPoint(x, strip.top()), *img);
            }
        } else if (!FThumbs.empty()) {
            // Slots of the thumbnail width from frame 0 on; each shows the
            // nearest thumbnail at or before the frame at its left edge.
            const double x0 = XOfFrame(0);
            const int firstSlot = int(std::floor((left - x0) / FThumbWidth));
            for (int s = std::max(0, firstSlot);; ++s) {
                const double x = x0 + double(s) * FThumbWidth;
                if (x > right) break;
                const double frame = FrameAtX(x);
                if (frame >= double(FFrameCount)) break;
                auto k = FThumbs.upper_bound(qint64(std::floor(frame)));
                const QImage& img = k == FThumbs.begin() ? k->second : std::prev(k)->second;
                if (!img.isNull()) p.drawImage(QPoint(int(std::lround(x)), strip.top()), img);
            }
        }
    }

    if (FWaveShown && !FWave.Empty() && FRate > 0) {
        const QRect wave = WaveRect();
        const int columns = right - left + 1;
        const auto cols = media::WaveColumns(FWave, FrameAtX(left) / FRate, FrameAtX(right + 1) / FRate, columns);
        const int mid = wave.center().y(), half = wave.height() / 2;
        for (int i = 0; i < columns; ++i) {
            const int peak = int(std::lround(cols[size_t(i)].Peak * half));
            const int rms = int(std::lround(cols[size_t(i)].Rms * half));
            if (peak > 0) {
                p.setPen(QColor(90, 200, 250));
                p.drawLine(left + i, mid - peak, left + i, mid + peak);
            }
            if (rms > 0) {
                p.setPen(QColor(40, 150, 230));
                p.drawLine(left + i, mid - rms, left + i, mid + rms);
            }
        }
    }

    // Key frame ticks.
    const QRect ticks = TickRect();
    p.setPen(QColor(230, 200, 60));
    for (auto it = std::lower_bound(FKeys.begin(), FKeys.end(), qint64(first)); it != FKeys.end() && *it <= last; ++it) {
        const int x = int(std::lround(XOfFrame(double(*it))));
        p.drawLine(x, ticks.top(), x, ticks.bottom());
    }

    // The marked range over everything, and the position.
    const int lo = std::min(FSelStart, FSelEnd), hi = std::max(FSelStart, FSelEnd);
    if (hi > lo) {
        QColor band = palette().color(QPalette::Highlight);
        band.setAlpha(60);
        const int x0 = int(std::lround(XOfFrame(lo))), x1 = int(std::lround(XOfFrame(hi)));
        p.fillRect(QRect(QPoint(x0, 0), QPoint(x1, height() - 1)), band);
        p.setPen(palette().color(QPalette::Highlight));
        p.drawLine(x0, 0, x0, height() - 1);
        p.drawLine(x1, 0, x1, height() - 1);
    }
    p.setPen(QPen(QColor(255, 60, 60), 2));
    const int px = int(std::lround(XOfFrame(FPosition)));
    p.drawLine(px, 0, px, height() - 1);
}

// ---- input -----------------------------------------------------------------

void TTimelineView::wheelEvent(QWheelEvent* event) {
    const QPoint angle = event->angleDelta();
    const int x = int(event->position().x());
    if (event->modifiers() & Qt::ControlModifier) {
        ZoomAround(x, std::pow(kWheelZoom, angle.y() / 120.0));
    } else {
        // Along the movie: a notch moves a tenth of the view.
        const int delta = angle.x() != 0 ? angle.x() : angle.y();
        FFirst -= delta / 120.0 * VisibleFrames() / 10;
        Clamp();
        TellFocus();
        update();
    }
    event->accept();
}

void TTimelineView::keyPressEvent(QKeyEvent* event) {
    const QPoint mouse = mapFromGlobal(QCursor::pos());
    const int x = rect().contains(mouse) ? mouse.x() : int(std::lround(XOfFrame(FPosition)));
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        ZoomAround(x, 2);
        break;
    case Qt::Key_Minus:
        ZoomAround(x, 0.5);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TTimelineView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    FPressed = true;
    FDragging = false;
    FPressAt = event->position().toPoint();
    FPressFirst = FFirst;
}

void TTimelineView::mouseMoveEvent(QMouseEvent* event) {
    if (!FPressed) return;
    const int dx = event->position().toPoint().x() - FPressAt.x();
    if (!FDragging && std::abs(dx) < kDragStart) return;
    FDragging = true;
    const double span = std::max(1, Right() - Left());
    FFirst = FPressFirst - dx * VisibleFrames() / span;
    Clamp();
    TellFocus();
    update();
}

void TTimelineView::mouseReleaseEvent(QMouseEvent* event) {
    if (!FPressed || event->button() != Qt::LeftButton) return;
    FPressed = false;
    if (FDragging || FFrameCount <= 0) return;
    // A click goes to the frame under it (at the closest zoom, the thumbnail's frame).
    const double f = FrameAtX(event->position().x());
    const qint64 frame = ExactZoom() ? qint64(std::floor(f)) : qint64(std::lround(f));
    emit PositionRequested(int(std::clamp<qint64>(frame, 0, std::max<qint64>(0, FFrameCount - 1))));
}

void TTimelineView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Clamp();
    TellFocus();
}
