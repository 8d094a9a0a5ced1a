#pragma once
// Until the main window includes dialogs/statistics_dialog.h itself.
#include "dialogs/statistics_dialog.h"
