#include "shellrig.h"

namespace shelltest {

using platform::ScriptedDirect3D8;

std::string RecordingApp::deviceName() const {
  if (!currentDevice || !d3dDouble) return "none";
  for (size_t i = 0; i < d3dDouble->devices.size(); ++i)
    if (d3dDouble->devices[i].get() == currentDevice) return "d" + std::to_string(i);
  return "other";
}

Rig::Rig() {
  platform::setClock(&clock);
  frameClock().start();
  // Every test starts without display settings in the registry.
  platform::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Tessolar\\Lumenmere");
  clearTerminationRequest();
}

Rig::~Rig() { platform::setClock(nullptr); }

void Rig::setMonitors(int count, int width, int height) {
  std::vector<RECT> rects;
  for (int i = 0; i < count; ++i) rects.push_back(RECT{i * width, 0, (i + 1) * width, height});
  ws.setMonitors(rects);
}

std::vector<D3DDISPLAYMODE> Rig::commonModes() {
  std::vector<D3DDISPLAYMODE> modes;
  for (auto [w, h] : {std::pair{640u, 480u}, {800u, 600u}, {1024u, 768u}})
    for (D3DFORMAT f : {D3DFMT_R5G6B5, D3DFMT_X8R8G8B8}) modes.push_back(ScriptedDirect3D8::mode(w, h, f));
  return modes;
}

platform::ScriptedAdapter& Rig::addAdapter(int monitor, BYTE guidByte, std::vector<D3DDISPLAYMODE> modes) {
  if (modes.empty()) modes = commonModes();
  d3d.adapters.push_back(ScriptedDirect3D8::standardAdapter("Adapter " + std::to_string(d3d.adapters.size()), guidByte,
                                                            ScriptedDirect3D8::mode(1024, 768, D3DFMT_X8R8G8B8), modes,
                                                            monitor < 0 ? 0 : monitorHandle(monitor)));
  return d3d.adapters.back();
}

std::unique_ptr<RecordingApp> Rig::makeApp(const std::string& switches, bool plain) {
  auto app = std::make_unique<RecordingApp>();
  app->plain = plain;
  app->commandLine = "aquaveil " + switches;
  app->moduleFileName = "/usr/lib/aquaveil/aquaveil";
  app->clock = &clock;
  app->d3dDouble = &d3d;
  return app;
}

std::string modeText(const ModeInfo& mode) {
  return std::to_string(mode.width) + "x" + std::to_string(mode.height) + "/" + std::to_string(mode.format);
}

std::string modesText(const DeviceKind& kind) {
  std::string out;
  for (uint32_t i = 0; i < kind.modeCount; ++i) {
    if (i) out += " ";
    out += modeText(kind.modes[i]);
  }
  return out;
}

}  // namespace shelltest
