#include "source/standalonedialog.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/files.h"
#include "platform/product.h"
#include "source/config.h"
#include "source/settingsdialogs.h"

using namespace platform;
using namespace ControlStyle;

namespace {

constexpr int kExplanation = 1037;
constexpr int kImageCount = 1033;
constexpr int kSongCount = 1034;
constexpr int kOutputPath = 1035;
constexpr int kProgressBar = 1050;
constexpr UINT kBuildProgress = WM_APP + 1;  // wParam: per mille done
constexpr UINT kBuildDone = WM_APP + 2;
constexpr size_t kMostImagesWithoutAsking = 50;
constexpr size_t kMostSongsWithoutAsking = 5;

const DialogTemplate& builderTemplate() {
  static const DialogTemplate t = [] {
    using K = ControlKind;
    DialogTemplate d;
    d.id = kStandaloneDialog;
    d.caption = "Create standalone executable or screensaver";
    d.width = 224;
    d.height = 152;
    d.controls = {
        {-30, K::group, "", 0, 0, "", 0},
        {kExplanation, K::text,
         "This feature lets you use the current settings to create a standalone file , you can distribute the file "
         "or send your friends or use it for any other purpose.",
         -30, 0, "", 0},
        {kImageCount, K::text, "0 image file(s)", 0, 0, "", 0},
        {kSongCount, K::text, "0 Mp3 file(s)", 0, 0, "", 0},
        {IDC_STATIC, K::text, "If you want to create a screensaver,please change the file extension to \".scr\"", 0, 0,
         "", 0},
        {IDC_STATIC, K::text, "Create standalone executable file as", 0, kLabelsNext, "", 0},
        {kOutputPath, K::edit, "", 0, 0, "", 0},
        {kProgressBar, K::progress, "", 0, 0, "Progress", 0},
        {IDOK, K::pushButton, "Create", 0, kButtonRow | kDefaultButton, "", 0},
        {IDCANCEL, K::pushButton, "Cancel", 0, kButtonRow, "", 0},
    };
    return d;
  }();
  return t;
}

struct BuilderState {
  HICON icon = 0;
  StandaloneSettings prepared;
  size_t images = 0;
  size_t songs = 0;
  bool building = false;
  std::atomic<bool> cancel{false};
  std::thread worker;
  StandaloneResult result;  // the worker's, read after it has been joined
};

void setBuilding(HWND dialog, BuilderState& state, bool building) {
  state.building = building;
  EnableDlgItem(dialog, IDOK, !building);
  EnableDlgItem(dialog, kOutputPath, !building);
}

void startBuild(HWND dialog, BuilderState& state) {
  const std::string output = GetDlgItemString(dialog, kOutputPath);
  if (output.empty()) {
    DialogMessageBoxA(dialog, "Please enter the name of the file to create.", product::kName, MB_OK | MB_ICONWARNING);
    return;
  }
  if (output.size() > kMaxListPath) {
    // A longer name would be cut and name another file.
    DialogMessageBoxA(dialog, "The file name is too long (at most 259 characters).", product::kName,
                      MB_OK | MB_ICONWARNING);
    return;
  }
  setBuilding(dialog, state, true);
  state.cancel = false;
  Progress_SetPos(dialog, kProgressBar, 0);
  state.worker = std::thread([dialog, &state, output] {
    int shown = -1;
    StandaloneProgress progress = [&](double fraction) {
      const int perMille = static_cast<int>(fraction * 1000.0);
      if (perMille != shown) {
        shown = perMille;
        PostDialogMessageA(dialog, kBuildProgress, static_cast<WPARAM>(perMille), 0);
      }
      return !state.cancel.load();
    };
    state.result = standaloneBuilder()(output, state.prepared, progress);
    PostDialogMessageA(dialog, kBuildDone, 0, 0);
  });
}

INT_PTR builderProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<BuilderState*>(message == WM_INITDIALOG ? lParam : GetDialogUserData(dialog));
  if (!state) return FALSE;
  switch (message) {
    case WM_INITDIALOG: {
      SetDialogUserData(dialog, lParam);
      SetDialogIcon(dialog, state->icon);
      // One drawing of each list gives the counts, the copy's settings and
      // its members alike.
      state->prepared = prepareStandalone();
      state->images = state->prepared.images.count();
      state->songs = state->prepared.songs.count();
      char text[64];
      std::snprintf(text, sizeof text, "%d image file(s)", static_cast<int>(state->images));
      SetDlgItemTextA(dialog, kImageCount, text);
      std::snprintf(text, sizeof text, "%d Mp3 file(s)", static_cast<int>(state->songs));
      SetDlgItemTextA(dialog, kSongCount, text);
      SetDlgItemTextA(dialog, kOutputPath, joinPath(Config::settingsDirectory(), "aquaveil.exe").c_str());
      Progress_SetRange(dialog, kProgressBar, 0, 1000);
      Progress_SetPos(dialog, kProgressBar, 0);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          if (state->building) return TRUE;
          if ((state->images > kMostImagesWithoutAsking || state->songs > kMostSongsWithoutAsking) &&
              DialogMessageBoxA(dialog, "Too many files added, you will create a big file, create it any way ?",
                                product::kName, MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
            return TRUE;
          startBuild(dialog, *state);
          return TRUE;
        case IDCANCEL:
          // While building, Cancel stops the build; the dialog ends when the
          // worker has cleaned up.
          if (state->building)
            state->cancel = true;
          else
            EndDialog(dialog, 0);
          return TRUE;
        default: return FALSE;
      }
      return FALSE;
    case kBuildProgress: Progress_SetPos(dialog, kProgressBar, static_cast<int>(wParam)); return TRUE;
    case kBuildDone: {
      if (state->worker.joinable()) state->worker.join();
      setBuilding(dialog, *state, false);
      const StandaloneResult& r = state->result;
      if (r.ok()) {
        Progress_SetPos(dialog, kProgressBar, 1000);
        DialogMessageBoxA(dialog, "Created successfully", product::kName, MB_OK);
        EndDialog(dialog, 1);
      } else if (r.failure == StandaloneFailure::stopped) {
        EndDialog(dialog, 0);
      } else {
        // The dialog stays, so that another name or place can be tried.
        Progress_SetPos(dialog, kProgressBar, 0);
        DialogMessageBoxA(dialog, standaloneFailureText(r).c_str(), product::kName, MB_OK | MB_ICONERROR);
      }
      return TRUE;
    }
    default: return FALSE;
  }
}

}  // namespace

void registerStandaloneDialog() { registerDialogTemplate(builderTemplate()); }

StandaloneBuilder& standaloneBuilder() {
  static StandaloneBuilder builder = [](const std::string& outputPath, const StandaloneSettings& prepared,
                                        const StandaloneProgress& progress) {
    StandaloneContents contents;
    contents.settings.assign(prepared.settings.begin(), prepared.settings.end());
    contents.images = prepared.images.paths();
    contents.songs = prepared.songs.paths();
    contents.builderName = builderName();
    return buildStandaloneReporting(outputPath, contents, progress);
  };
  return builder;
}

INT_PTR showStandaloneBuilder(HWND owner, HINSTANCE instance, HICON icon) {
  registerStandaloneDialog();
  BuilderState state;
  state.icon = icon;
  const INT_PTR result =
      DialogBoxParamA(instance, kStandaloneDialog, owner, builderProc, reinterpret_cast<LPARAM>(&state));
  if (state.worker.joinable()) {
    state.cancel = true;
    state.worker.join();
  }
  return result == 1 ? 1 : 0;
}

std::string standaloneFailureText(const StandaloneResult& r) {
  const std::string why = r.error ? std::string(" (") + std::strerror(r.error) + ")" : std::string();
  std::string text;
  switch (r.failure) {
    case StandaloneFailure::outputNotCreated: text = "The file could not be created: " + r.path + why + "."; break;
    case StandaloneFailure::diskFull:
      text = "The disk is full: " + r.path + " could not be written whole" + why + ".";
      break;
    case StandaloneFailure::temporaryFile: text = "A temporary file could not be made: " + r.path + why + "."; break;
    case StandaloneFailure::programUnreadable:
      text = "The program file could not be read: " + r.path + why + ".";
      break;
    case StandaloneFailure::stopped: text = "The copy was not built."; break;
    case StandaloneFailure::none: text = "Nothing was written."; return text;
  }
  return text + "\nNothing was written.";
}

std::string builderName() {
  if (const passwd* user = getpwuid(getuid())) {
    std::string full = user->pw_gecos ? user->pw_gecos : "";
    full = full.substr(0, full.find(','));
    if (!full.empty()) return full;
    if (user->pw_name && *user->pw_name) return user->pw_name;
  }
  const char* login = std::getenv("USER");
  return login ? login : "";
}
