#include "support/SupportPictures.h"

#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>

namespace {

// A rounded bubble filling the upper part of the picture with a tail at the
// lower left, and one bold glyph in it.
QPixmap Bubble(int width, int height, const QColor& fill, const QString& glyph) {
    QPixmap picture(width, height);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body(1.5, 1.5, width - 3.0, height * 0.78);
    QPainterPath bubble;
    bubble.addRoundedRect(body, width * 0.3, height * 0.3);
    QPainterPath tail;
    tail.moveTo(body.left() + body.width() * 0.22, body.bottom() - 2);
    tail.lineTo(body.left() + body.width() * 0.12, height - 1.5);
    tail.lineTo(body.left() + body.width() * 0.45, body.bottom() - 2);
    tail.closeSubpath();
    p.setPen(QPen(fill.darker(160), 1.5));
    p.setBrush(fill);
    p.drawPath(bubble.united(tail));
    QFont font("DejaVu Sans");
    font.setBold(true);
    font.setPixelSize(static_cast<int>(body.height() * 0.8));
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(body, Qt::AlignCenter, glyph);
    return picture;
}

}  // namespace

QPixmap QuestionPicture() {
    return Bubble(42, 38, QColor(40, 110, 200), "?");
}

QPixmap InformationPicture() {
    return Bubble(37, 37, QColor(30, 150, 90), "i");
}

QPixmap ProgramIconPicture() {
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        const QIcon icon = app->windowIcon();
        if (!icon.isNull())
            return icon.pixmap(32, 32);
    }
    // A film strip with a whisk-like sweep across it.
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 30, 30));
    p.drawRoundedRect(QRectF(2, 4, 28, 24), 3, 3);
    p.setBrush(Qt::white);
    for (int i = 0; i < 5; ++i) {
        p.drawRect(QRectF(4 + i * 5.3, 6, 3, 3));
        p.drawRect(QRectF(4 + i * 5.3, 23, 3, 3));
    }
    p.setBrush(QColor(255, 200, 40));
    p.drawRect(QRectF(4, 11, 24, 10));
    p.setPen(QPen(QColor(220, 40, 40), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(7, 8, 18, 16), 200 * 16, 140 * 16);
    return picture;
}
