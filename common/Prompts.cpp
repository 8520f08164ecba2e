#include "common/Prompts.h"
// Placeholder until the prompts land.
