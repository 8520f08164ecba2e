#include "support/DialogText.h"

const TDialogText AutoUpdateCheckText{
    1,
    "AutoUpdateCheck",
    "Automatic update check will be activated.\n"
    "Uncheck menu Help\\Automatic update check to disable.\n"
    "This feature needs internet connection where\n"
    "no personal information will be sent out.\n"
    "Continue the automatic update check?",
};
