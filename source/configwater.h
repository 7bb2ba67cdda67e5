#pragma once
// The water surface's appearance: which effects are on, two colours, the
// animation speed, the surface size and the specular power.
#include <cstdint>

#include "coms/configbase.h"

class ConfigWater : public ConfigBase {
 public:
  static constexpr uint32_t kBodyLength = 52;

  // waterFlags bits.
  static constexpr uint32_t ripple = 1;
  static constexpr uint32_t boat = 2;
  static constexpr uint32_t specular = 4;
  static constexpr uint32_t waterRandomColor = 8;
  static constexpr uint32_t specularRandomColor = 16;
  static constexpr uint32_t waterDrop = 32;

  ConfigWater();

  void saveBody(std::vector<uint8_t>& out, uint32_t* length) override;
  bool loadBody(const uint8_t* data, size_t available, uint32_t* length) override;
  // The "Water Surface Settings" dialog (146).
  intptr_t dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

  int32_t waterParam0 = 1;
  uint32_t waterFlags = ripple;
  int32_t animationSpeed = 26;
  int32_t surfaceSize = 120;
  uint32_t specularColor = 0xFF80FFFF;  // COLORREF; the defaults keep 0xFF on top
  uint32_t waterColor = 0xFFFFFFFF;
  int32_t specularPower = 35;
  uint32_t waterExtra[3] = {0, 0, 0};
};
