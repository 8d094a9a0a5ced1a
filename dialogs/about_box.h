#pragma once
// Until the main window includes dialogs/about_dialog.h itself.
#include "dialogs/about_dialog.h"
