#include "common/MyCommonParams.h"
// Placeholder until the common services land.
TMyRegistry* SettingsStore = nullptr;
