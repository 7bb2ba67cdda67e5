#include "source/configwater.h"

ConfigWater::ConfigWater() : ConfigBase("configwater", kBodyLength) {}

void ConfigWater::saveBody(std::vector<uint8_t>& out, uint32_t* length) {
  appendLe32(out, 0);
  appendLe32(out, kBodyLength);
  appendLe32(out, 0);
  appendLe32(out, static_cast<uint32_t>(waterParam0));
  appendLe32(out, waterFlags);
  appendLe32(out, static_cast<uint32_t>(animationSpeed));
  appendLe32(out, static_cast<uint32_t>(surfaceSize));
  appendLe32(out, specularColor);
  appendLe32(out, waterColor);
  appendLe32(out, static_cast<uint32_t>(specularPower));
  for (uint32_t v : waterExtra) appendLe32(out, v);
  if (length) *length = kBodyLength;
}

bool ConfigWater::loadBody(const uint8_t* data, size_t available, uint32_t* length) {
  if (available < kBodyLength) return false;
  waterParam0 = readLeInt(data + 12);
  waterFlags = readLe32(data + 16);
  animationSpeed = readLeInt(data + 20);
  surfaceSize = readLeInt(data + 24);
  specularColor = readLe32(data + 28);
  waterColor = readLe32(data + 32);
  specularPower = readLeInt(data + 36);
  for (int i = 0; i < 3; ++i) waterExtra[i] = readLe32(data + 40 + 4 * i);
  // The body is 52 bytes whatever offset 4 says.
  if (length) *length = kBodyLength;
  return true;
}
