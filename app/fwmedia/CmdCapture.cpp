#include "app/fwmedia/Commands.h"
#include <cstdio>
// Placeholder until this command lands.
int CmdCapture(const TArgs&) { std::fprintf(stderr, "not available yet\n"); return 2; }
