#include "app/fwmedia/Commands.h"
#include <cstdio>
// Placeholder until this command lands.
int CmdProbe(const TArgs&) { std::fprintf(stderr, "not available yet\n"); return 2; }
int CmdGrab(const TArgs&) { std::fprintf(stderr, "not available yet\n"); return 2; }
