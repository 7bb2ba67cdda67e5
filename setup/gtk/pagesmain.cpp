#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>

#include "platform/gtk/gtkdialoghost.h"
#include "setup/gtk/background.h"
#include "setup/gtk/gtkpages.h"
#include "setup/pages.h"

int runSetupWithPages(const SetupOptions& options) {
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "setup: no display to show the pages on; run it with --unattended\n");
    return 2;
  }
  platform::GtkDialogHost host;
  platform::ScopedDialogHost guard(host);
  // LUMENMERE_SETUP_SCREENSHOTS=DIR keeps a picture of each page as it
  // opens (page-102.png ...), for looking at them.
  if (const char* dir = std::getenv("LUMENMERE_SETUP_SCREENSHOTS"); dir && *dir) {
    const std::string base = dir;
    host.onShown = [&host, base](HWND dialog, const DialogTemplate& t) {
      host.screenshot(dialog, base + "/page-" + std::to_string(t.id) + ".png");
    };
  }
  BackgroundWindow background;
  std::unique_ptr<SetupUi> ui = makeDialogUi([&background](const std::string& caption) { background.show(caption); });
  return runSetup(options, *ui);
}
