#include "setup/gtk/background.h"

#include <gtk/gtk.h>
#include <pango/pangocairo.h>

#include <algorithm>

namespace {
struct BackgroundState {
  GtkWidget* window = nullptr;
  std::string caption;
};
}  // namespace

struct BackgroundWindow::Impl : BackgroundState {};

void paintBackground(cairo_t* cr, int width, int height, const std::string& caption) {
  if (width <= 0 || height <= 0) return;
  // One band per pixel row: red = green = 55 - 55i/H, blue = 255 - 255i/H.
  for (int i = 0; i < height; ++i) {
    const int rg = 55 - 55 * i / height;
    const int b = 255 - 255 * i / height;
    cairo_set_source_rgb(cr, rg / 255.0, rg / 255.0, b / 255.0);
    cairo_rectangle(cr, 0, i, width, 1);
    cairo_fill(cr);
  }
  // The caption at (W/80, H/100) in Arial (or what the system has in its
  // place) of height H/10, bold, italic, white on the bands.
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string("Arial");
  pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
  pango_font_description_set_style(font, PANGO_STYLE_ITALIC);
  pango_font_description_set_absolute_size(font, static_cast<double>(height / 10) * PANGO_SCALE);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, caption.c_str(), -1);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_move_to(cr, width / 80, height / 100);
  pango_cairo_show_layout(cr, layout);
  pango_font_description_free(font);
  g_object_unref(layout);
}

namespace {

gboolean onDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
  const auto* impl = static_cast<const BackgroundState*>(data);
  // The bands follow the screen's height, not the window's.
  GdkRectangle screen{0, 0, gtk_widget_get_allocated_width(widget), gtk_widget_get_allocated_height(widget)};
  if (GdkDisplay* display = gtk_widget_get_display(widget)) {
    if (GdkMonitor* monitor = gdk_display_get_primary_monitor(display) ? gdk_display_get_primary_monitor(display)
                                                                       : gdk_display_get_monitor(display, 0))
      gdk_monitor_get_geometry(monitor, &screen);
  }
  paintBackground(cr, std::max(screen.width, gtk_widget_get_allocated_width(widget)), screen.height, impl->caption);
  return TRUE;
}

}  // namespace

BackgroundWindow::BackgroundWindow() : impl_(std::make_unique<Impl>()) {}

BackgroundWindow::~BackgroundWindow() {
  if (impl_->window) gtk_widget_destroy(impl_->window);
}

void BackgroundWindow::show(const std::string& caption) {
  impl_->caption = caption;
  if (!impl_->window) {
    impl_->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(impl_->window), caption.c_str());
    GtkWidget* area = gtk_drawing_area_new();
    gtk_container_add(GTK_CONTAINER(impl_->window), area);
    g_signal_connect(area, "draw", G_CALLBACK(onDraw), static_cast<BackgroundState*>(impl_.get()));
    // Closing the background does not end the installation: the pages do.
    g_signal_connect(impl_->window, "delete-event", G_CALLBACK(gtk_true), nullptr);
    GdkRectangle screen{0, 0, 1024, 768};
    if (GdkDisplay* display = gdk_display_get_default()) {
      GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
      if (!monitor) monitor = gdk_display_get_monitor(display, 0);
      if (monitor) gdk_monitor_get_geometry(monitor, &screen);
    }
    gtk_window_move(GTK_WINDOW(impl_->window), screen.x, screen.y);
    gtk_window_set_default_size(GTK_WINDOW(impl_->window), screen.width, screen.height);
    gtk_window_maximize(GTK_WINDOW(impl_->window));
  } else {
    gtk_window_set_title(GTK_WINDOW(impl_->window), caption.c_str());
  }
  gtk_widget_show_all(impl_->window);
  while (gtk_events_pending()) gtk_main_iteration();
}
