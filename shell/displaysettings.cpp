// The display settings per monitor in the registry: under the product's
// key, "AllScreensSame" and one "Screen <n>" sub-key per monitor that has an
// adapter (n = monitor index + 1).
#include <cstdio>
#include <cstring>

#include "platform/bytes.h"
#include "shell/saverapp.h"

using namespace platform;

namespace {

void readDword(HKEY key, const char* name, DWORD* out) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
      size == sizeof(value))
    *out = value;
}

void writeDword(HKEY key, const char* name, DWORD value) {
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// The 16 bytes of a GUID as Windows stores it (fields little-endian).
void guidToBytes(const GUID& guid, BYTE out[16]) {
  platform::writeLe32(out, guid.Data1);
  platform::writeLe16(out + 4, guid.Data2);
  platform::writeLe16(out + 6, guid.Data3);
  std::memcpy(out + 8, guid.Data4, 8);
}

GUID guidFromBytes(const BYTE in[16]) {
  GUID guid;
  guid.Data1 = platform::readLe32(in);
  guid.Data2 = platform::readLe16(in + 4);
  guid.Data3 = platform::readLe16(in + 6);
  std::memcpy(guid.Data4, in + 8, 8);
  return guid;
}

}  // namespace

void SaverApp::loadDisplaySettings(HKEY key) {
  readDword(key, "AllScreensSame", &allScreensSame);
  for (uint32_t i = 0; i < monitorCount; ++i) {
    const int32_t a = monitors[i].adapterIndex;
    if (a < 0 || static_cast<uint32_t>(a) >= adapterCount || !adapters[a]) continue;
    AdapterInfo& adapter = *adapters[a];
    char name[32];
    std::snprintf(name, sizeof(name), "Screen %u", i + 1);
    HKEY screen = 0;
    if (RegCreateKeyExA(key, name, &screen) != ERROR_SUCCESS) continue;

    BYTE bytes[16] = {};
    DWORD size = sizeof(bytes);
    DWORD type = 0;
    GUID stored;
    // A value of another size is no identifier: it stays all zero.
    if (RegQueryValueExA(screen, "Adapter ID", nullptr, &type, bytes, &size) == ERROR_SUCCESS && size == sizeof(bytes))
      stored = guidFromBytes(bytes);

    readDword(screen, "Leave Black", &adapter.leaveBlack);
    // Mode and hardware choices belong to the card they were made for.
    if (stored == adapter.identifier.DeviceIdentifier || stored == GUID{}) {
      readDword(screen, "Disable Hardware", &adapter.disableHardware);
      readDword(screen, "Width", &adapter.modeWidth);
      readDword(screen, "Height", &adapter.modeHeight);
      readDword(screen, "Format", &adapter.modeFormat);
    }
    RegCloseKey(screen);
  }
}

void SaverApp::saveDisplaySettings(const char* keyPath) {
  HKEY key = 0;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath, &key) != ERROR_SUCCESS) return;
  writeDword(key, "AllScreensSame", allScreensSame);
  for (uint32_t i = 0; i < monitorCount; ++i) {
    const int32_t a = monitors[i].adapterIndex;
    if (a < 0 || static_cast<uint32_t>(a) >= adapterCount || !adapters[a]) continue;
    const AdapterInfo& adapter = *adapters[a];
    char name[32];
    std::snprintf(name, sizeof(name), "Screen %u", i + 1);
    HKEY screen = 0;
    if (RegCreateKeyExA(key, name, &screen) != ERROR_SUCCESS) continue;
    writeDword(screen, "Leave Black", adapter.leaveBlack);
    writeDword(screen, "Disable Hardware", adapter.disableHardware);
    writeDword(screen, "Width", adapter.modeWidth);
    writeDword(screen, "Height", adapter.modeHeight);
    writeDword(screen, "Format", adapter.modeFormat);
    BYTE bytes[16];
    guidToBytes(adapter.identifier.DeviceIdentifier, bytes);
    RegSetValueExA(screen, "Adapter ID", 0, REG_BINARY, bytes, sizeof(bytes));
    RegCloseKey(screen);
  }
  RegCloseKey(key);
}
