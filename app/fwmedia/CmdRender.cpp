#include "app/fwmedia/Commands.h"
#include <cstdio>
// Placeholder until this command lands.
int CmdRender(const TArgs&) { std::fprintf(stderr, "not available yet\n"); return 2; }
int CmdCompressors(const TArgs&) { std::fprintf(stderr, "not available yet\n"); return 2; }
