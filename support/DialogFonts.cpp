#include "support/DialogFonts.h"

#include <QFontMetrics>
#include <QLabel>

namespace {

QFont FontOf(const QStringList& families, int pixels, bool bold) {
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

}  // namespace

QFont SansSerifFont(int pixels, bool bold) {
    return FontOf({"MS Sans Serif", "Microsoft Sans Serif", "DejaVu Sans Condensed", "Liberation Sans Narrow",
                   "Liberation Sans", "DejaVu Sans"},
                  pixels, bold);
}

QFont ArialFont(int pixels, bool bold) {
    return FontOf({"Arial", "Liberation Sans", "DejaVu Sans Condensed", "DejaVu Sans"}, pixels, bold);
}

QFont ComicFont(int pixels, bool bold) {
    return FontOf({"Comic Sans MS", "Comic Neue", "Comic Relief", "DejaVu Sans Condensed", "DejaVu Sans"}, pixels, bold);
}

void FitLabelWidth(QLabel& label, int width) {
    QFont font = label.font();
    while (font.pixelSize() > 8 && QFontMetrics(font).horizontalAdvance(label.text()) > width) {
        font.setPixelSize(font.pixelSize() - 1);
        label.setFont(font);
    }
    label.adjustSize();
}
