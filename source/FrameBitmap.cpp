#include "source/FrameBitmap.h"
// Placeholder until the frame fetch lands.
