#pragma once
// The screen-saver application base: run modes, monitors and Direct3D
// devices, the saver windows and their message loop, the ending rules, the
// error box, display settings.  The water application (WaterSaverApp)
// derives from it and fills the hooks.
//
// One application object exists per process; its constructor publishes it
// as the current application, which the window class's procedure and the
// settings code reach through currentApp().
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/d3d8.h"
#include "platform/product.h"
#include "platform/registry.h"
#include "platform/window.h"
#include "shell/commandline.h"
#include "shell/strings.h"
#include "shell/systemlibraries.h"

// The program's fixed tables.
inline constexpr int kMaxMonitors = 9;
inline constexpr int kMaxAdapters = 9;
inline constexpr int kMaxDeviceKinds = 3;
inline constexpr int kMaxModes = 150;
inline constexpr int kMaxRenderUnits = 9;
// While a device list is built: distinct modes and formats per adapter.
inline constexpr int kMaxCollectedModes = 100;
inline constexpr int kMaxCollectedFormats = 20;
// `currentMode` / `currentDeviceKind` when there is none.
inline constexpr uint32_t kNone = 0xFFFF;

inline constexpr const char* kSaverWindowClass = "WaterSaverWndClass";

struct ModeInfo {
  uint32_t width = 0;
  uint32_t height = 0;
  D3DFORMAT format = D3DFMT_UNKNOWN;
  DWORD behaviourFlags = 0;                       // what confirmDevice accepted for this format
  D3DFORMAT depthStencilFormat = D3DFMT_UNKNOWN;  // no depth buffer is requested
};

struct DeviceKind {
  D3DDEVTYPE deviceType = D3DDEVTYPE_HAL;
  D3DCAPS8 caps;
  char name[8] = {};  // "HAL" or "SW"
  bool canWindowed = false;
  ModeInfo modes[kMaxModes];
  uint32_t modeCount = 0;
  uint32_t currentMode = 0;
};

struct AdapterInfo {
  int32_t monitorIndex = -1;
  D3DADAPTER_IDENTIFIER8 identifier;
  D3DDISPLAYMODE desktopMode;
  DeviceKind deviceKinds[kMaxDeviceKinds];
  uint32_t deviceKindCount = 0;
  bool hasHal = false;
  bool hasSw = false;
  bool hasCompatibleHal = false;
  bool hasCompatibleSw = false;
  // The user's display settings (0, 0, 0 is the Automatic mode).
  DWORD modeWidth = 0;
  DWORD modeHeight = 0;
  DWORD modeFormat = 0;
  DWORD leaveBlack = 0;
  DWORD disableHardware = 0;
  uint32_t currentDeviceKind = 0;
  HWND deviceWindow = 0;
};

struct MonitorInfo {
  char adapterName[128] = {};
  HMONITOR monitorHandle = 0;  // 0 when the adapter is not part of the desktop
  RECT screenRect;
  int32_t adapterIndex = -1;
  HWND window = 0;
  // The bouncing error box: position, size, velocity in pixels per second.
  float errorX = 0.0f;
  float errorY = 0.0f;
  float errorWidth = 0.0f;
  float errorHeight = 0.0f;
  float errorVelocityX = 0.0f;
  float errorVelocityY = 0.0f;
};

// One device being driven.
struct RenderUnit {
  uint32_t adapterIndex = 0;
  int32_t monitorIndex = -1;
  D3DDEVTYPE deviceType = D3DDEVTYPE_HAL;
  DWORD behaviourFlags = 0;
  Direct3DDevice8* device = nullptr;
  D3DPRESENT_PARAMETERS presentParams;
  bool objectsInitialized = false;
  bool objectsRestored = false;
};

class SaverApp {
 public:
  SaverApp();
  virtual ~SaverApp();
  SaverApp(const SaverApp&) = delete;
  SaverApp& operator=(const SaverApp&) = delete;

  // ---- hooks, in slot order -------------------------------------------------
  // Parses the command line, finds the monitors, makes the windows, the
  // Direct3D object and the device list, reads the display settings.  Always
  // succeeds; failures set errorMode / errorCode.
  virtual HRESULT create(HINSTANCE instance);
  // The mode's work; the exit code of the program.
  virtual int run();
  virtual void doConfig() {}
  virtual void readSettings() {}
  // Paints the error box (error mode, or a window without device).
  virtual void doPaint(HWND window, HDC dc);
  // The shell's window procedure.
  virtual LRESULT saverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  virtual bool getTextForError(HRESULT code, char* buffer, size_t size);
  virtual void enumMonitors();
  virtual void prepareUnitScene(uint32_t unit) { (void)unit; }
  virtual void selectUnitScene(uint32_t unit) { (void)unit; }
  virtual HRESULT registerSoftwareDevice() { return S_OK; }
  virtual HRESULT confirmDevice(const D3DCAPS8& caps, DWORD behaviourFlags, D3DFORMAT backBufferFormat) {
    (void)caps;
    (void)behaviourFlags;
    (void)backBufferFormat;
    return S_OK;
  }
  virtual HRESULT confirmMode(Direct3DDevice8* device) {
    (void)device;
    return S_OK;
  }
  virtual HRESULT oneTimeSceneInit() { return S_OK; }
  virtual HRESULT initDeviceObjects() { return S_OK; }
  virtual HRESULT restoreDeviceObjects() { return S_OK; }
  virtual HRESULT frameMove() { return S_OK; }
  virtual HRESULT render() { return S_OK; }
  virtual HRESULT invalidateDeviceObjects() { return S_OK; }
  virtual HRESULT deleteDeviceObjects() { return S_OK; }
  virtual HRESULT finalCleanup() { return S_OK; }

  // ---- run modes --------------------------------------------------------------
  void changePassword();
  HRESULT showError(HRESULT code);

  // ---- monitors, adapters, devices ----------------------------------------------
  [[nodiscard]] HRESULT buildDeviceList();
  bool findBestAdapter(uint32_t* adapter);
  [[nodiscard]] HRESULT createFullscreenDevice(RenderUnit& unit);
  [[nodiscard]] HRESULT createWindowedDevice(RenderUnit& unit);
  // `flags` receives the behaviour flags chosen for the format.
  [[nodiscard]] HRESULT confirmWindowedFormat(uint32_t adapter, D3DFORMAT format, DWORD* flags);
  static bool stepDownMode(DeviceKind& kind);

  // ---- windows and the loop -------------------------------------------------------
  [[nodiscard]] HRESULT createSaverWindows();
  HRESULT runSaver();
  void requestStop();
  void stopSaver();
  HRESULT startDevices();
  void releaseDevices();
  void releaseUnitDevices();
  void selectUnit(uint32_t index);
  void renderFrame();
  void animateErrorBox();

  // ---- display settings ---------------------------------------------------------
  void loadDisplaySettings(HKEY key);
  void saveDisplaySettings(const char* keyPath);

  // ---- what the entry point sets before create ----------------------------------
  // The process command line (program name first) and the program's own
  // file, whose extension decides the mode when the line has no switch.
  std::string commandLine;
  std::string moduleFileName;

  // ---- state (public so that the settings dialogs and tests can see it) ---------
  HINSTANCE instance = 0;
  RunMode mode = RunMode::configure;
  HWND parentWindow = 0;
  // The window id as the command line wrote it, and whether it was no
  // usable number (for the messages that name it).
  std::string windowIdText;
  bool windowIdInvalid = false;
  // The screen locker's options for this run (see readSettings).
  HackOptions hackOptions;
  HWND mainWindow = 0;
  bool errorMode = false;
  HRESULT errorCode = S_OK;
  std::string errorText;  // at most 400 characters, filled on first use
  std::string title = product::kName;
  Direct3D8* d3d = nullptr;

  MonitorInfo monitors[kMaxMonitors];
  uint32_t monitorCount = 0;
  std::unique_ptr<AdapterInfo> adapters[kMaxAdapters];
  uint32_t adapterCount = 0;
  DWORD allScreensSame = 0;

  RenderUnit units[kMaxRenderUnits];
  uint32_t unitCount = 0;
  bool windowed = false;
  RECT renderRect;
  Direct3DDevice8* currentDevice = nullptr;
  int mouseMoveCount = 0;
  bool waitingForIdle = false;
  bool checkingPassword = false;
  bool isWin9x = false;
  HMODULE passwordLibrary = 0;
  VerifyScreenSavePwdProc verifyPassword = nullptr;

  // `full` mode drawing into a window the desktop's screen locker gave
  // (XSCREENSAVER_WINDOW): the window, 0 when the saver makes its own.
  HWND hostWindow = 0;

  // What is process-wide in the loop; held here because there is one
  // application per process.
  POINT lastMousePosition{-1, -1};
  bool errorWindowShown = false;
  bool stopped = false;
  uint32_t pacedFrames = 0;
  uint32_t baseRenderMs = 0;
  int32_t sleepMs = 0;
  bool active = true;  // kept by the application (inactive frames sleep longer)
  DWORD lastErrorBoxTime = 0;
  bool errorBoxClockStarted = false;
  // Renders done since the run started (every unit's render counts).
  uint64_t framesRendered = 0;

 protected:
  // The behaviour flags chosen for a format on a device kind (0: none
  // accepted): pure hardware, hardware, mixed, then software vertex
  // processing, each asked of confirmDevice.
  DWORD chooseBehaviour(const D3DCAPS8& caps, D3DFORMAT format);
  // Sets error mode with a code (the first error stays the one shown).
  void setError(HRESULT code);
  // Starts the objects of every unit (init, then restore).
  void initAndRestoreUnits();
  // Selects one unit and starts its objects; false (and error mode) when
  // either step failed.
  bool initAndRestoreUnit(uint32_t index);
  void framePacing(uint32_t renderMicroseconds);
  // Fills errorText from errorCode when it is still empty.
  void ensureErrorText();
  // The code's message (getTextForError) with the platform's reason beside
  // it where the message gives Windows advice.
  std::string textWithReason(HRESULT code);
};

// The current application (nullptr when none).
SaverApp* currentApp();
void publishApp(SaverApp* app);

// The window procedure of the saver window class: forwards to the current
// application's saverProc.
LRESULT saverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Writes the current application's display settings under
// HKEY_CURRENT_USER\keyPath; nothing without an application.  This is what
// the settings save calls (Config::saveDisplaySettingsHook).
void saveDisplaySettingsOfCurrentApp(const char* keyPath);

// Asks the running saver loop to end as on a stop request that cannot be
// refused (SIGTERM, SIGINT); safe to call from a signal handler.  `signal`
// is the signal that asked (0 when none).
void requestTermination(int signal = SIGTERM);
bool terminationRequested();
int terminationSignal();
void clearTerminationRequest();

// What this platform says about a failure whose message gives Windows
// advice (install DirectX, a display driver); "" for other codes.
std::string platformReasonFor(HRESULT code);
