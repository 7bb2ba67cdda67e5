#pragma once
// The program's one application: the shell with the water screen saver's
// hooks.  Devices must offer mixed vertex processing and vertex shader 1.1;
// the display settings come from the product's registry key.
//
// Until the water scene takes its place, a saver run shows black frames and
// the settings mode says that settings are not available yet.
#include "shell/saverapp.h"

class WaterSaverApp : public SaverApp {
 public:
  WaterSaverApp();

  void doConfig() override;
  void readSettings() override;
  HRESULT confirmDevice(const D3DCAPS8& caps, DWORD behaviourFlags, D3DFORMAT backBufferFormat) override;
  HRESULT frameMove() override;
  HRESULT render() override;

  // frameMove calls of this run (the window is shown on the second).
  uint32_t frameMoveCalls = 0;
};
