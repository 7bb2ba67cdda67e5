#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>

#include "setup/gtk/background.h"
#include "setup/gtk/gtkpages.h"

namespace {

// A picture of a window as it is on the screen.
void savePicture(GtkWidget* window, const std::string& path) {
  GdkWindow* w = gtk_widget_get_window(window);
  if (!w) return;
  GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(w, 0, 0, gdk_window_get_width(w), gdk_window_get_height(w));
  if (!pixbuf) return;
  gdk_pixbuf_save(pixbuf, path.c_str(), "png", nullptr, nullptr);
  g_object_unref(pixbuf);
}

}  // namespace

int runSetupWithPages(const SetupOptions& options) {
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "setup: no display to show the pages on; run it with --unattended\n");
    return 2;
  }
  // LUMENMERE_SETUP_SCREENSHOTS=DIR keeps a picture of each page as it
  // opens (page-102.png ...), for looking at them.
  std::function<void(const std::string&, GtkWidget*)> onShown;
  if (const char* dir = std::getenv("LUMENMERE_SETUP_SCREENSHOTS"); dir && *dir) {
    const std::string base = dir;
    onShown = [base](const std::string& name, GtkWidget* page) { savePicture(page, base + "/" + name + ".png"); };
  }
  BackgroundWindow background;
  std::unique_ptr<SetupUi> ui = makeGtkPagesUi(
      [&background](const std::string& caption) { background.show(caption); }, kFinishPause, onShown);
  return runSetup(options, *ui);
}
