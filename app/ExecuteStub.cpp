// Start/Stop until the conversion job (convert/ConversionJob.cpp) is linked
// into fw_app: Start does nothing. Drop this file from app/CMakeLists.txt
// when that one is added.
#include "app/Main.h"

void TMainForm::sbExecuteClick() {}
