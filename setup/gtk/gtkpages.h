#pragma once
// The installer's pages on GTK 3, and setup's run with them.
#include <gtk/gtk.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "setup/setupflow.h"

// After the worker's end the progress page waits this long before it shows
// "Finish".
inline constexpr std::chrono::milliseconds kFinishPause{5000};

// `background` shows the full-screen background; `onShown` (may be empty)
// is called with each page once it is drawn ("page-102" ...).
std::unique_ptr<SetupUi> makeGtkPagesUi(std::function<void(const std::string&)> background,
                                        std::chrono::milliseconds finishPause,
                                        std::function<void(const std::string& name, GtkWidget* page)> onShown);

// setup with its pages: GTK, the background, then runSetup.  2 when there
// is no display.
int runSetupWithPages(const SetupOptions& options);
