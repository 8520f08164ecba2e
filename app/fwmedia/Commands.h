// Sub-commands of fwmedia. Each takes the arguments after its name and
// returns the process exit code (0 success, 1 failure, 2 wrong usage).
#pragma once
#include <string>
#include <vector>

using TArgs = std::vector<std::string>;

int CmdProbe(const TArgs& args);         // probe FILE
int CmdGrab(const TArgs& args);          // grab FILE POSITION [WIDTH HEIGHT] OUT.bmp
int CmdRender(const TArgs& args);        // render SOURCE OUTPUT START END [...]
int CmdCompressors(const TArgs& args);   // compressors
int CmdCapture(const TArgs& args);       // capture SOURCE FOLDER START END COUNT --type ...
int CmdKeyFrames(const TArgs& args);      // keyframes FILE
int CmdPlay(const TArgs& args);          // play FILE START END [--speed N] [--no-sound]
