// The installer's pages drawn directly with GTK 3 (used while no shared
// dialog layer exists): licence, target, progress and confirmation, with
// the texts and the behaviour of pages 102, 103, 104 and 106.
#include <gtk/gtk.h>

#include <chrono>
#include <optional>
#include <thread>

#include "setup/gtk/gtkpages.h"

namespace {

enum Response { kNext = 1009, kBack = 1010, kInstall = 1011, kFinish = 1015, kOk = 1, kCancel = 2 };

GtkWidget* newPage(const std::string& caption) {
  GtkWidget* d = gtk_dialog_new();
  gtk_window_set_title(GTK_WINDOW(d), caption.c_str());
  gtk_window_set_position(GTK_WINDOW(d), GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(d), TRUE);
  gtk_container_set_border_width(GTK_CONTAINER(d), 12);
  gtk_box_set_spacing(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(d))), 8);
  return d;
}

void pack(GtkWidget* page, GtkWidget* w, bool expand = false) {
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(page))), w, expand, expand, 0);
}

int runPage(GtkWidget* page, const std::function<void(GtkWidget*)>& onShown) {
  gtk_widget_show_all(page);
  if (onShown) {
    while (gtk_events_pending()) gtk_main_iteration();
    onShown(page);
  }
  const int r = gtk_dialog_run(GTK_DIALOG(page));
  return r == GTK_RESPONSE_DELETE_EVENT ? kCancel : r;
}

void toggleNext(GtkToggleButton* agree, gpointer page) {
  gtk_dialog_set_response_sensitive(GTK_DIALOG(page), kNext, gtk_toggle_button_get_active(agree));
}

struct BrowseData {
  GtkWidget* page;
  GtkWidget* entry;
};

void browse(GtkButton*, gpointer data) {
  auto* b = static_cast<BrowseData*>(data);
  GtkWidget* chooser =
      gtk_file_chooser_dialog_new("select directory", GTK_WINDOW(b->page), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER,
                                  "_Cancel", GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
  const char* current = gtk_entry_get_text(GTK_ENTRY(b->entry));
  if (current && *current) gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), current);
  if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
    if (gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser))) {
      gtk_entry_set_text(GTK_ENTRY(b->entry), name);
      g_free(name);
    }
  }
  gtk_widget_destroy(chooser);
}

struct ProgressData {
  GtkWidget* page;
  GtkWidget* bar;
  GtkWidget* label;
  GtkWidget* finish;
  ProgressValue* value;
  bool uninstall;
  std::chrono::milliseconds pause;
  std::optional<std::chrono::steady_clock::time_point> finishedAt;
};

gboolean tick(gpointer data) {
  auto* p = static_cast<ProgressData*>(data);
  const auto now = std::chrono::steady_clock::now();
  if (p->finishedAt) {
    if (now - *p->finishedAt < p->pause) return G_SOURCE_CONTINUE;
    gtk_widget_show(p->finish);
    gtk_widget_grab_focus(p->finish);
    return G_SOURCE_REMOVE;
  }
  const int v = p->value->read();
  if (v < 0) return G_SOURCE_CONTINUE;
  const int shown = shownPercent(v);
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(p->bar), shown / 100.0);
  gtk_label_set_text(GTK_LABEL(p->label), progressText(shown, p->uninstall).c_str());
  if (v >= kProgressFinished) p->finishedAt = now;
  return G_SOURCE_CONTINUE;
}

// Only Finish ends the progress page.
gboolean keepOpen(GtkWidget*, GdkEvent*, gpointer) { return TRUE; }

class GtkPagesUi : public SetupUi {
 public:
  GtkPagesUi(std::function<void(const std::string&)> background, std::chrono::milliseconds pause,
             std::function<void(const std::string&, GtkWidget*)> onShown)
      : background_(std::move(background)), pause_(pause), onShown_(std::move(onShown)) {}

  void showBackground(const std::string& caption) override {
    if (background_) background_(caption);
  }

  bool confirm(const std::string& caption, const std::string& text) override {
    GtkWidget* page = newPage(caption);
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    pack(page, label, true);
    gtk_dialog_add_button(GTK_DIALOG(page), "OK", kOk);
    gtk_dialog_add_button(GTK_DIALOG(page), "Cancel", kCancel);
    gtk_dialog_set_default_response(GTK_DIALOG(page), kOk);
    const int r = runPage(page, shown("page-106"));
    gtk_widget_destroy(page);
    return r == kOk;
  }

  bool chooseInstall(InstallParams& params, const std::string& licence, const std::string& proposedDir) override {
    std::string directory = proposedDir;
    for (;;) {
      if (licencePage(params, licence) != kNext) return false;
      const int r = targetPage(params, directory);
      if (r == kInstall) {
        params.installDir = directory;
        return true;
      }
      if (r != kBack) return false;
    }
  }

  void showProgress(const std::string& caption, bool uninstall, ProgressValue& value,
                    const std::function<void()>& work) override {
    GtkWidget* page = newPage(caption);
    gtk_window_set_default_size(GTK_WINDOW(page), 420, -1);
    GtkWidget* bar = gtk_progress_bar_new();
    GtkWidget* label = gtk_label_new("Instal Progress");
    gtk_widget_set_halign(label, GTK_ALIGN_START);
    pack(page, bar);
    pack(page, label);
    GtkWidget* finish = gtk_dialog_add_button(GTK_DIALOG(page), "Finish", kFinish);
    g_signal_connect(page, "delete-event", G_CALLBACK(keepOpen), nullptr);
    gtk_widget_show_all(page);
    gtk_widget_hide(finish);
    ProgressData data{page, bar, label, finish, &value, uninstall, pause_, std::nullopt};
    std::thread worker(work);
    const guint timer = g_timeout_add(20, tick, &data);
    if (onShown_) onShown_("page-104", page);
    int r;
    do r = gtk_dialog_run(GTK_DIALOG(page));
    while (r != kFinish);
    // Finish shows only once the timer has removed itself.
    (void)timer;
    worker.join();
    gtk_widget_destroy(page);
  }

  void warn(const std::string& caption, const std::string& text) override { message(caption, text); }

  void reportProblems(const std::string& caption, const std::vector<std::string>& problems) override {
    std::string text;
    for (const std::string& p : problems) text += p + "\n";
    message(caption, text);
  }

 private:
  std::function<void(GtkWidget*)> shown(const std::string& name) {
    if (!onShown_) return nullptr;
    return [this, name](GtkWidget* w) { onShown_(name, w); };
  }

  void message(const std::string& caption, const std::string& text) {
    GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING, GTK_BUTTONS_OK, "%s",
                                            text.c_str());
    gtk_window_set_title(GTK_WINDOW(box), caption.c_str());
    gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
  }

  int licencePage(const InstallParams& params, const std::string& licence) {
    GtkWidget* page = newPage(params.caption());
    gtk_window_set_default_size(GTK_WINDOW(page), 680, 480);
    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
    GtkWidget* text = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(text), FALSE);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(text), GTK_WRAP_WORD);
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(text)), licence.c_str(),
                             static_cast<gint>(licence.size()));
    gtk_container_add(GTK_CONTAINER(scroll), text);
    pack(page, scroll, true);
    GtkWidget* agree = gtk_check_button_new_with_label("I agree");
    pack(page, agree);
    gtk_dialog_add_button(GTK_DIALOG(page), "Next", kNext);
    gtk_dialog_add_button(GTK_DIALOG(page), "Cancel", kCancel);
    gtk_dialog_set_response_sensitive(GTK_DIALOG(page), kNext, FALSE);
    g_signal_connect(agree, "toggled", G_CALLBACK(toggleNext), page);
    const int r = runPage(page, shown("page-102"));
    gtk_widget_destroy(page);
    return r;
  }

  int targetPage(InstallParams& params, std::string& directory) {
    GtkWidget* page = newPage(params.caption());
    gtk_window_set_default_size(GTK_WINDOW(page), 520, -1);
    GtkWidget* heading = gtk_label_new(("Install " + params.title.value_or("") + " " + params.version).c_str());
    gtk_widget_set_halign(heading, GTK_ALIGN_START);
    pack(page, heading);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_max_length(GTK_ENTRY(entry), 260);
    gtk_entry_set_text(GTK_ENTRY(entry), directory.c_str());
    atk_object_set_name(gtk_widget_get_accessible(entry), "Install directory");
    GtkWidget* browseButton = gtk_button_new_with_label("Browse");
    gtk_box_pack_start(GTK_BOX(row), entry, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(row), browseButton, FALSE, FALSE, 0);
    pack(page, row);
    BrowseData browseData{page, entry};
    g_signal_connect(browseButton, "clicked", G_CALLBACK(browse), &browseData);
    GtkWidget* desktop = gtk_check_button_new_with_label("Place an icon on desktop");
    GtkWidget* startMenu = gtk_check_button_new_with_label("Add short cuts to start menu");
    GtkWidget* custom = gtk_check_button_new_with_label("Custom");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(desktop), TRUE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(startMenu), TRUE);
    pack(page, desktop);
    pack(page, startMenu);
    pack(page, custom);
    gtk_dialog_add_button(GTK_DIALOG(page), "Back", kBack);
    gtk_dialog_add_button(GTK_DIALOG(page), "Install", kInstall);
    gtk_dialog_add_button(GTK_DIALOG(page), "Cancel", kCancel);
    gtk_dialog_set_default_response(GTK_DIALOG(page), kInstall);
    gtk_widget_show_all(page);
    gtk_widget_hide(startMenu);  // made hidden, as the page always was
    if (params.screensaver) {
      gtk_button_set_label(GTK_BUTTON(custom), "Set as defaut screensaver");
      gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(custom), !params.noDefaultAsked);
    } else {
      gtk_widget_hide(custom);
    }
    if (onShown_) {
      while (gtk_events_pending()) gtk_main_iteration();
      onShown_("page-103", page);
    }
    int r = gtk_dialog_run(GTK_DIALOG(page));
    if (r == GTK_RESPONSE_DELETE_EVENT) r = kCancel;
    if (r == kInstall) {
      directory = gtk_entry_get_text(GTK_ENTRY(entry));
      if (directory.size() > 260) directory.resize(260);
      params.desktopIcon = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(desktop));
      params.startMenu = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(startMenu));
      if (params.screensaver) params.makeDefault = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(custom));
    }
    gtk_widget_destroy(page);
    return r;
  }

  std::function<void(const std::string&)> background_;
  std::chrono::milliseconds pause_;
  std::function<void(const std::string&, GtkWidget*)> onShown_;
};

}  // namespace

std::unique_ptr<SetupUi> makeGtkPagesUi(std::function<void(const std::string&)> background,
                                        std::chrono::milliseconds finishPause,
                                        std::function<void(const std::string& name, GtkWidget* page)> onShown) {
  return std::make_unique<GtkPagesUi>(std::move(background), finishPause, std::move(onShown));
}
