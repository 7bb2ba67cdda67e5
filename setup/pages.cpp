#include "setup/pages.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "setup/places.h"

namespace {

namespace Style = ControlStyle;

// ---- templates ------------------------------------------------------------------

DialogControl ctl(int id, ControlKind kind, const char* text, uint32_t style, const char* accessibleName = "",
                  int maxLength = 0) {
  DialogControl c;
  c.id = id;
  c.kind = kind;
  c.text = text;
  c.style = style;
  c.accessibleName = accessibleName;
  c.maxLength = maxLength;
  return c;
}

DialogTemplate makeLicencePage() {
  DialogTemplate t;
  t.id = kLicencePage;
  // Wide enough for the licence's own line length.
  t.width = 420;
  t.height = 260;
  t.controls = {
      ctl(kLicenceText, ControlKind::textBox, "", Style::kExpand),
      ctl(kAgreeBox, ControlKind::checkBox, "I agree", 0),
      ctl(kNextButton, ControlKind::pushButton, "Next", Style::kButtonRow | Style::kDefaultButton | Style::kDisabled),
      ctl(IDCANCEL, ControlKind::pushButton, "Cancel", Style::kButtonRow),
  };
  return t;
}

DialogTemplate makeTargetPage() {
  DialogTemplate t;
  t.id = kTargetPage;
  t.width = 300;
  t.controls = {
      ctl(kTargetTitle, ControlKind::text, "", Style::kNoWrap),
      ctl(kTargetEdit, ControlKind::edit, "", Style::kExpand, "Install directory", 260),
      ctl(kBrowseButton, ControlKind::pushButton, "Browse", Style::kSameRow),
      ctl(kDesktopBox, ControlKind::checkBox, "Place an icon on desktop", 0),
      ctl(kStartMenuBox, ControlKind::checkBox, "Add short cuts to start menu", Style::kHidden),
      ctl(kCustomBox, ControlKind::checkBox, "Custom", 0),
      ctl(kBackButton, ControlKind::pushButton, "Back", Style::kButtonRow),
      ctl(kInstallButton, ControlKind::pushButton, "Install", Style::kButtonRow | Style::kDefaultButton),
      ctl(IDCANCEL, ControlKind::pushButton, "Cancel", Style::kButtonRow),
  };
  return t;
}

DialogTemplate makeProgressPage() {
  DialogTemplate t;
  t.id = kProgressPage;
  t.width = 260;
  t.controls = {
      ctl(kProgressBar, ControlKind::progress, "", Style::kExpand, "Progress"),
      ctl(kProgressText, ControlKind::text, "Instal Progress", Style::kNoWrap),
      ctl(kFinishButton, ControlKind::pushButton, "Finish", Style::kButtonRow | Style::kDefaultButton),
  };
  return t;
}

DialogTemplate makeConfirmPage() {
  DialogTemplate t;
  t.id = kConfirmPage;
  t.width = 220;
  t.controls = {
      ctl(kConfirmText, ControlKind::text, "", 0),
      ctl(IDOK, ControlKind::pushButton, "OK", Style::kButtonRow | Style::kDefaultButton),
      ctl(IDCANCEL, ControlKind::pushButton, "Cancel", Style::kButtonRow),
  };
  return t;
}

template <typename T>
T* stateOf(HWND dialog) {
  return reinterpret_cast<T*>(platform::GetDialogUserData(dialog));
}

// ---- 102: licence -------------------------------------------------------------

struct LicenceState {
  std::string caption;
  std::string licence;
};

INT_PTR licenceProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  using namespace platform;
  switch (message) {
    case WM_INITDIALOG: {
      auto* s = reinterpret_cast<LicenceState*>(lParam);
      SetDialogUserData(dialog, lParam);
      SetDialogCaptionA(dialog, s->caption.c_str());
      SetDlgItemTextA(dialog, kLicenceText, s->licence.c_str());
      CheckDlgButton(dialog, kAgreeBox, BST_UNCHECKED);
      EnableDlgItem(dialog, kNextButton, FALSE);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kAgreeBox:
          EnableDlgItem(dialog, kNextButton, IsDlgButtonChecked(dialog, kAgreeBox) == BST_CHECKED);
          return TRUE;
        case kNextButton: EndDialog(dialog, kNextButton); return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
      }
      break;
  }
  return FALSE;
}

// ---- 103: target ----------------------------------------------------------------

struct TargetState {
  InstallParams* params;
  std::string caption;
  std::string directory;  // in: proposed; out: chosen
};

INT_PTR targetProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  using namespace platform;
  switch (message) {
    case WM_INITDIALOG: {
      auto* s = reinterpret_cast<TargetState*>(lParam);
      SetDialogUserData(dialog, lParam);
      SetDialogCaptionA(dialog, s->caption.c_str());
      const std::string heading = "Install " + s->params->title.value_or("") + " " + s->params->version;
      SetDlgItemTextA(dialog, kTargetTitle, heading.c_str());
      SetDlgItemTextA(dialog, kTargetEdit, s->directory.c_str());
      CheckDlgButton(dialog, kDesktopBox, BST_CHECKED);
      CheckDlgButton(dialog, kStartMenuBox, BST_CHECKED);
      if (s->params->screensaver) {
        SetDlgItemTextA(dialog, kCustomBox, "Set as defaut screensaver");
        CheckDlgButton(dialog, kCustomBox, s->params->noDefaultAsked ? BST_UNCHECKED : BST_CHECKED);
      } else {
        ShowDlgItem(dialog, kCustomBox, FALSE);
      }
      return TRUE;
    }
    case WM_COMMAND: {
      auto* s = stateOf<TargetState>(dialog);
      switch (LOWORD(wParam)) {
        case kBrowseButton: {
          const std::string current = GetDlgItemString(dialog, kTargetEdit);
          if (auto chosen = BrowseForFolderA(dialog, "select directory", current))
            SetDlgItemTextA(dialog, kTargetEdit, chosen->c_str());
          return TRUE;
        }
        case kBackButton: EndDialog(dialog, kBackButton); return TRUE;
        case kInstallButton: {
          char text[261] = {};
          GetDlgItemTextA(dialog, kTargetEdit, text, sizeof text);
          s->directory = text;
          s->params->desktopIcon = IsDlgButtonChecked(dialog, kDesktopBox) == BST_CHECKED;
          s->params->startMenu = IsDlgButtonChecked(dialog, kStartMenuBox) == BST_CHECKED;
          if (s->params->screensaver) s->params->makeDefault = IsDlgButtonChecked(dialog, kCustomBox) == BST_CHECKED;
          EndDialog(dialog, kInstallButton);
          return TRUE;
        }
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
      }
      break;
    }
  }
  return FALSE;
}

// ---- 104: progress --------------------------------------------------------------

struct ProgressState {
  std::string caption;
  bool uninstall = false;
  ProgressValue* value = nullptr;
  std::function<void()> work;
  std::thread worker;
  std::chrono::milliseconds finishPause{kFinishPauseMs};
  std::optional<std::chrono::steady_clock::time_point> finishedAt;
};

INT_PTR progressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  using namespace platform;
  switch (message) {
    case WM_INITDIALOG: {
      auto* s = reinterpret_cast<ProgressState*>(lParam);
      SetDialogUserData(dialog, lParam);
      SetDialogCaptionA(dialog, s->caption.c_str());
      Progress_SetRange(dialog, kProgressBar, 0, 100);
      ShowDlgItem(dialog, kFinishButton, FALSE);
      s->worker = std::thread(s->work);
      SetDialogTimer(dialog, kProgressTimer, 20);
      return TRUE;
    }
    case WM_TIMER: {
      if (wParam != kProgressTimer) break;
      auto* s = stateOf<ProgressState>(dialog);
      const auto now = std::chrono::steady_clock::now();
      if (s->finishedAt) {
        // The pause after the end lets the last figure be read; the page
        // stays responsive meanwhile.
        if (now - *s->finishedAt >= s->finishPause) {
          KillDialogTimer(dialog, kProgressTimer);
          ShowDlgItem(dialog, kFinishButton, TRUE);
          SetDlgItemFocus(dialog, kFinishButton);
        }
        return TRUE;
      }
      const int v = s->value->read();
      if (v < 0) return TRUE;  // no reading this time
      const int shown = shownPercent(v);
      Progress_SetPos(dialog, kProgressBar, shown);
      SetDlgItemTextA(dialog, kProgressText, progressText(shown, s->uninstall).c_str());
      if (v >= kProgressFinished) s->finishedAt = now;
      return TRUE;
    }
    case WM_COMMAND:
      // Only Finish ends the page, once shown; closing the window before
      // that would leave the worker half done.
      if (LOWORD(wParam) == kFinishButton && IsDlgItemVisible(dialog, kFinishButton)) {
        EndDialog(dialog, kFinishButton);
        return TRUE;
      }
      return TRUE;
  }
  return FALSE;
}

// ---- 106: confirmation ----------------------------------------------------------

struct ConfirmState {
  std::string caption;
  std::string text;
};

INT_PTR confirmProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  using namespace platform;
  switch (message) {
    case WM_INITDIALOG: {
      auto* s = reinterpret_cast<ConfirmState*>(lParam);
      SetDialogCaptionA(dialog, s->caption.c_str());
      SetDlgItemTextA(dialog, kConfirmText, s->text.c_str());
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
      }
      break;
  }
  return FALSE;
}

class DialogUi : public SetupUi {
 public:
  explicit DialogUi(std::function<void(const std::string&)> background) : background_(std::move(background)) {
    registerSetupPages();
  }

  void showBackground(const std::string& caption) override {
    if (background_) background_(caption);
  }

  bool confirm(const std::string& caption, const std::string& text) override {
    ConfirmState s{caption, text};
    return platform::DialogBoxParamA(0, kConfirmPage, 0, confirmProc, reinterpret_cast<LPARAM>(&s)) == IDOK;
  }

  bool chooseInstall(InstallParams& params, const std::string& licence, const std::string& proposedDir) override {
    LicenceState lic{params.caption(), licence};
    TargetState target{&params, params.caption(), proposedDir};
    // The two pages loop until Install or a cancel.
    for (;;) {
      if (platform::DialogBoxParamA(0, kLicencePage, 0, licenceProc, reinterpret_cast<LPARAM>(&lic)) != kNextButton)
        return false;
      const INT_PTR r = platform::DialogBoxParamA(0, kTargetPage, 0, targetProc, reinterpret_cast<LPARAM>(&target));
      if (r == kInstallButton) {
        params.installDir = target.directory;
        return true;
      }
      if (r != kBackButton) return false;
    }
  }

  void showProgress(const std::string& caption, bool uninstall, ProgressValue& value,
                    const std::function<void()>& work) override {
    ProgressState s;
    s.caption = caption;
    s.uninstall = uninstall;
    s.value = &value;
    s.work = work;
    s.finishPause = finishPause;
    const INT_PTR r = platform::DialogBoxParamA(0, kProgressPage, 0, progressProc, reinterpret_cast<LPARAM>(&s));
    // A page that could not be shown still does the work.
    if (r == -1 && !s.worker.joinable()) s.worker = std::thread(work);
    if (s.worker.joinable()) s.worker.join();
  }

  void warn(const std::string& caption, const std::string& text) override {
    platform::DialogMessageBoxA(0, text.c_str(), caption.c_str(), MB_OK | MB_ICONWARNING);
  }

  void reportProblems(const std::string& caption, const std::vector<std::string>& problems) override {
    std::string text;
    for (const std::string& p : problems) text += p + "\n";
    platform::DialogMessageBoxA(0, text.c_str(), caption.c_str(), MB_OK | MB_ICONWARNING);
  }

  std::chrono::milliseconds finishPause{kFinishPauseMs};

 private:
  std::function<void(const std::string&)> background_;
};

}  // namespace

void registerSetupPages() {
  static const DialogTemplate licence = makeLicencePage();
  static const DialogTemplate target = makeTargetPage();
  static const DialogTemplate progress = makeProgressPage();
  static const DialogTemplate confirmation = makeConfirmPage();
  for (const DialogTemplate* t : {&licence, &target, &progress, &confirmation}) platform::registerDialogTemplate(*t);
}

std::unique_ptr<SetupUi> makeDialogUi(std::function<void(const std::string&)> showBackground,
                                      std::chrono::milliseconds finishPause) {
  auto ui = std::make_unique<DialogUi>(std::move(showBackground));
  ui->finishPause = finishPause;
  return ui;
}
