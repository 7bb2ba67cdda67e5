#pragma once
// setup with its pages on GTK 3: the dialog layer's GTK host shows pages
// 102, 103, 104 and 106, over the full-screen background.
#include "setup/setupflow.h"

// GTK, the background, then runSetup.  2 when there is no display.
int runSetupWithPages(const SetupOptions& options);
