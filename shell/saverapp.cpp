// The application object: start-up, the run modes, error reporting.
#include "shell/saverapp.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/desktop.h"

using namespace platform;

namespace {

SaverApp* current = nullptr;
volatile std::sig_atomic_t terminationFlag = 0;

// The window the desktop's screen locker hands a screen saver to draw in
// ("0x..." hexadecimal or decimal); 0 when none is given.
HWND hostWindowFromEnvironment() {
  const char* text = std::getenv("XSCREENSAVER_WINDOW");
  if (!text || !*text) return 0;
  char* end = nullptr;
  const unsigned long long id = std::strtoull(text, &end, 0);
  if (end == text || id == 0) return 0;
  while (*end == ' ' || *end == '\t' || *end == '\n') ++end;
  if (*end) return 0;
  return static_cast<HWND>(id);
}

bool isSaverMode(RunMode mode) { return mode == RunMode::preview || mode == RunMode::full || mode == RunMode::test; }

}  // namespace

SaverApp* currentApp() { return current; }
void publishApp(SaverApp* app) { current = app; }

void requestTermination(int signal) { terminationFlag = signal ? signal : SIGTERM; }
bool terminationRequested() { return terminationFlag != 0; }
int terminationSignal() { return terminationFlag; }
void clearTerminationRequest() { terminationFlag = 0; }

std::string platformReasonFor(HRESULT code) {
  if (code == errNoDirect3D) {
    const char* why = direct3DFailureReason();
    return std::string("here Direct3D is drawn with OpenGL 3.3 through SDL, which could not start: ") +
           (why && *why ? why : "no display");
  }
  if (code == errNoCompatibleDevices || code == errNoHardwareDevice)
    return "here every display is an OpenGL 3.3 device, and none offers what this screen saver needs "
           "(mixed vertex processing, vertex shaders 1.1); check that OpenGL 3.3 works on this display";
  return std::string();
}

LRESULT saverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (SaverApp* app = currentApp()) return app->saverProc(window, message, wParam, lParam);
  return DefWindowProcA(window, message, wParam, lParam);
}

void saveDisplaySettingsOfCurrentApp(const char* keyPath) {
  if (SaverApp* app = currentApp()) app->saveDisplaySettings(keyPath);
}

SaverApp::SaverApp() { publishApp(this); }

SaverApp::~SaverApp() {
  for (uint32_t i = 0; i < kMaxRenderUnits; ++i) {
    if (units[i].device) {
      units[i].device->Release();
      units[i].device = nullptr;
    }
  }
  if (d3d) {
    d3d->Release();
    d3d = nullptr;
  }
  if (passwordLibrary) systemLibraries().freeLibrary(passwordLibrary);
  if (current == this) publishApp(nullptr);
}

void SaverApp::setError(HRESULT code) {
  errorMode = true;
  errorCode = code;
}

HRESULT SaverApp::create(HINSTANCE inst) {
  instance = inst;
  const CommandLine line = readCommandLine(commandLine.c_str(), moduleFileName);
  mode = line.mode;
  parentWindow = line.parentWindow;
  windowIdText = line.windowText;
  windowIdInvalid = line.windowInvalid;
  hackOptions = line.options;
  hostWindow = mode == RunMode::full ? hostWindowFromEnvironment() : 0;
  // A hack started with -root and no locker window draws on the desktop.
  if (line.root && !hostWindow) hostWindow = static_cast<HWND>(x11RootWindow());

  enumMonitors();

  if (isSaverMode(mode)) {
    const HRESULT hr = createSaverWindows();
    if (FAILED(hr)) setError(hr);
  }

  if (mode == RunMode::preview && mainWindow) {
    // Let the control panel settle before drawing: the window answers
    // WM_USER with a half-second timer whose message ends the wait.
    waitingForIdle = true;
    PostMessageA(mainWindow, WM_USER, 0, 0);
    MSG msg;
    while (waitingForIdle) {
      const BOOL got = GetMessageA(&msg, mainWindow, 0, 0);
      if (got == 0) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      if (got < 0) break;  // nothing can arrive: waiting longer would hang
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    waitingForIdle = false;
  }

  d3d = Direct3DCreate8(D3D_SDK_VERSION);
  if (!d3d) {
    setError(errNoDirect3D);
    return S_OK;
  }
  HRESULT hr = registerSoftwareDevice();
  if (FAILED(hr)) {
    setError(hr);
    return S_OK;
  }
  hr = buildDeviceList();
  if (FAILED(hr)) {
    setError(hr);
    return S_OK;
  }
  bool compatible = false;
  for (uint32_t a = 0; a < adapterCount; ++a)
    if (adapters[a] && (adapters[a]->hasCompatibleHal || adapters[a]->hasCompatibleSw)) compatible = true;
  if (!compatible) {
    setError(errNoCompatibleDevices);
    return S_OK;
  }
  readSettings();
  return S_OK;
}

int SaverApp::run() {
  int exitCode = 0;
  switch (mode) {
    case RunMode::configure:
      if (errorMode)
        showError(errorCode);
      else
        doConfig();
      break;
    case RunMode::preview:
    case RunMode::full:
    case RunMode::test:
      if (!mainWindow) {
        // Without a window the error has nowhere to appear and nothing could
        // ever end the loop: say what happened and end at once.
        const std::string text = textWithReason(errorMode ? errorCode : E_FAIL);
        RECT parentRect;
        if (mode == RunMode::preview && windowIdInvalid)
          std::fprintf(stderr, "aquaveil: invalid window id '%s'\n", windowIdText.c_str());
        else if (mode == RunMode::preview && !parentWindow)
          std::fprintf(stderr, "aquaveil: the preview window could not be created: no window id was given\n");
        else if (mode == RunMode::preview && !GetClientRect(parentWindow, &parentRect))
          std::fprintf(stderr, "aquaveil: no window %s\n", windowIdText.c_str());
        else if (mode == RunMode::preview)
          std::fprintf(stderr, "aquaveil: the preview window could not be created in window %s: %s\n",
                       windowIdText.c_str(), text.c_str());
        else if (hostWindow)
          std::fprintf(stderr, "aquaveil: the saver window could not be created in window 0x%lx: %s\n",
                       static_cast<unsigned long>(hostWindow), text.c_str());
        else
          std::fprintf(stderr, "aquaveil: the saver window could not be created: %s\n", text.c_str());
        exitCode = 1;
        break;
      }
      {
        const HRESULT hr = runSaver();
        if (FAILED(hr)) showError(hr);
      }
      break;
    case RunMode::passwordChange: changePassword(); break;
  }
  for (auto& adapter : adapters) adapter.reset();
  adapterCount = 0;
  if (d3d) {
    d3d->Release();
    d3d = nullptr;
  }
  return exitCode;
}

void SaverApp::changePassword() {
  SystemLibraries& libraries = systemLibraries();
  const HMODULE library = libraries.loadLibrary("MPR.DLL");
  if (!library) return;
  const auto change = reinterpret_cast<PwdChangePasswordProc>(libraries.getProcAddress(library, "PwdChangePasswordA"));
  if (change) change("SCRSAVE", parentWindow, 0, nullptr);
  libraries.freeLibrary(library);
}

HRESULT SaverApp::showError(HRESULT code) {
  MessageBoxA(mainWindow, textWithReason(code).c_str(), title.c_str(), MB_OK | MB_ICONERROR);
  return code;
}

std::string SaverApp::textWithReason(HRESULT code) {
  char text[512];
  getTextForError(code, text, sizeof(text));
  const std::string reason = platformReasonFor(code);
  return reason.empty() ? std::string(text) : std::string(text) + " (" + reason + ")";
}

bool SaverApp::getTextForError(HRESULT code, char* buffer, size_t size) {
  return ::getTextForError(code, buffer, size);
}
