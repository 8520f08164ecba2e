#include "app/TrackBar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>

TTrackBar::TTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setRange(0, 100);
    setValue(0);
    setSingleStep(1);
    setPageStep(2);
    setTickPosition(QSlider::TicksBelow);
    setTickInterval(1);
    setTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    UpdateToolTip();
}

void TTrackBar::SetSelStart(int position) {
    if (position == FSelStart)
        return;
    FSelStart = position;
    UpdateToolTip();
    update();
    emit SelectionChanged(FSelStart, FSelEnd);
}

void TTrackBar::SetSelEnd(int position) {
    if (position == FSelEnd)
        return;
    FSelEnd = position;
    UpdateToolTip();
    update();
    emit SelectionChanged(FSelStart, FSelEnd);
}

void TTrackBar::UpdateToolTip() {
    setToolTip(tr("Range: frame %1 to frame %2").arg(FSelStart).arg(FSelEnd));
}

void TTrackBar::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if (hasFocus()) {
        // The style draws a focus frame only after a Tab; the bar gets the
        // focus when a movie opens and shows it whichever way it came.
        QPainter p(this);
        QPen pen(palette().color(QPalette::Active, QPalette::Highlight));
        pen.setStyle(Qt::DotLine);
        p.setPen(pen);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    const int lo = std::clamp(std::min(FSelStart, FSelEnd), minimum(), maximum());
    const int hi = std::clamp(std::max(FSelStart, FSelEnd), minimum(), maximum());
    if (maximum() <= minimum() || hi <= lo)
        return;

    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    // The handle's centre travels over the groove less one handle width.
    const int span = groove.width() - handle.width();
    const int x0 = groove.x() + handle.width() / 2 +
                   QStyle::sliderPositionFromValue(minimum(), maximum(), lo, span, opt.upsideDown);
    const int x1 = groove.x() + handle.width() / 2 +
                   QStyle::sliderPositionFromValue(minimum(), maximum(), hi, span, opt.upsideDown);

    // A band just below the groove, so the handle never hides the range.
    QPainter p(this);
    QColor c = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Highlight);
    const int top = groove.bottom() + 2;
    p.fillRect(QRect(QPoint(std::min(x0, x1), top), QSize(std::abs(x1 - x0) + 1, 3)), c);
}
