// Fonts of the support windows. The windows are laid out in pixels for the
// fonts they name ("MS Sans Serif", "Arial", "Comic Sans MS"); where those are
// missing, narrow look-alikes stand in, and a label that still runs past its
// room is set a little smaller.
#pragma once

#include <QFont>

class QLabel;

QFont SansSerifFont(int pixels, bool bold = false);  // "MS Sans Serif"
QFont ArialFont(int pixels, bool bold = false);
QFont ComicFont(int pixels, bool bold = false);

// Shrinks the label's font (not below 8 pixels) until its text fits in
// `width` pixels, then sizes the label to its text.
void FitLabelWidth(QLabel& label, int width);
