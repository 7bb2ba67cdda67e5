#include "source/config.h"

#include <unistd.h>

#include <memory>
#include <mutex>

#include "pack/fileops.h"
#include "pack/pack.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace {

struct Directories {
  std::mutex lock;
  std::string program;
  std::string settings;
};

Directories& directories() {
  static Directories d;
  return d;
}

Config*& published() {
  static Config* c = nullptr;
  return c;
}

bool readWholeFile(const std::string& path, std::string& bytes) {
  std::optional<std::string> read = platform::readRegularFile(path);
  if (!read) return false;
  bytes = std::move(*read);
  return true;
}

// Makes the settings directory current, creating it when it is the user's
// own configuration directory that doesn't exist yet.
bool enterSettingsDirectory() {
  const std::string dir = Config::settingsDirectory();
  if (platform::setCurrentDirectory(dir)) return true;
  return platform::makeDirectories(dir) && platform::setCurrentDirectory(dir);
}

}  // namespace

Config::Config() : ConfigBase("config", kBodyLength) {
  images.setExtensions(".jpg", ".bmp", nullptr);
  mp3.setExtensions(".mp3", nullptr, nullptr);
}

void Config::saveBody(std::vector<uint8_t>& out, uint32_t* length) {
  appendLe32(out, 0);
  appendLe32(out, kBodyLength);
  appendLe32(out, 0);
  appendLe32(out, static_cast<uint32_t>(standaloneMarker));
  out.insert(out.end(), 16, 0);
  if (length) *length = kBodyLength;
}

bool Config::loadBody(const uint8_t* data, size_t available, uint32_t* length) {
  if (available < kBodyLength) return false;
  standaloneMarker = readLeInt(data + 12);
  // The stored body length is what the root reports as consumed.
  if (length) *length = readLe32(data + 4);
  return true;
}

int Config::loadData(const uint8_t* data, size_t size) {
  ConfigBase* sections[] = {this, &water, &images, &mp3};
  size_t pos = 0;
  int loaded = 0;
  for (ConfigBase* section : sections) {
    if (pos >= size) break;
    uint32_t declared = 0;
    const int r = section->load(data + pos, size - pos, &declared);
    if (r == kTruncated) break;
    if (r == kLoaded || r == kLengthDiffers) ++loaded;
    // The next block starts where this one says it ends; a length that
    // points past the end stops the chain at the next step.
    pos += declared;
  }
  return loaded;
}

std::vector<uint8_t> Config::serialize() {
  std::vector<uint8_t> out;
  out.reserve(4096);
  ConfigBase* sections[] = {this, &water, &images, &mp3};
  for (ConfigBase* section : sections) {
    uint32_t length = 0;
    section->save(out, &length);
  }
  return out;
}

bool Config::load() {
  const std::string installDir = readInstallDir();
  if (!installDir.empty()) setSettingsDirectory(installDir);
  const bool entered = enterSettingsDirectory();

  std::string bytes;
  const int from = processPack().load(kSettingsFileName, bytes);
  // Without the settings directory current, only a pack member is ours:
  // a file found relative to some other directory is not.
  bool found = from == kPackLoadFromPack || (entered && from != kPackLoadNothing);
  if (!found) bytes.clear();
  if (!found && entered) found = readWholeFile(kSettingsFileName, bytes);
  // A program resource holding the settings would come next; this platform
  // builds none into the program, so there is nothing more to try.
  if (!found) return false;

  loadData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  if (standaloneMarker == kStandaloneMarker) switchEngineFileOpsToPack();
  return true;
}

bool Config::save() {
  if (saveDisplaySettingsHook) saveDisplaySettingsHook(kProductKey);
  if (!enterSettingsDirectory()) return false;
  const std::vector<uint8_t> bytes = serialize();
  return platform::writeFileAtomically(platform::joinPath(settingsDirectory(), kSettingsFileName), bytes.data(),
                                       bytes.size());
}

Config* Config::instance() { return published(); }

void Config::publish(Config* config) { published() = config; }

Config& Config::ensureInstance() {
  if (!published()) {
    static std::unique_ptr<Config> own;
    own = std::make_unique<Config>();
    own->load();
    published() = own.get();
  }
  return *published();
}

std::string Config::programDirectory() {
  Directories& d = directories();
  std::lock_guard<std::mutex> g(d.lock);
  if (d.program.empty()) d.program = platform::programDirectory();
  return d.program;
}

void Config::setProgramDirectory(const std::string& dir) {
  Directories& d = directories();
  std::lock_guard<std::mutex> g(d.lock);
  d.program = dir;
}

std::string Config::settingsDirectory() {
  std::string program;
  {
    Directories& d = directories();
    std::lock_guard<std::mutex> g(d.lock);
    if (!d.settings.empty()) return d.settings;
  }
  program = programDirectory();
  // A system-wide install can't be written by its user: keep the settings
  // in the user's configuration directory instead.
  if (access(program.c_str(), W_OK) == 0) return program;
  return platform::joinPath(platform::userConfigDirectory(), kProductName);
}

void Config::setSettingsDirectory(const std::string& dir) {
  Directories& d = directories();
  std::lock_guard<std::mutex> g(d.lock);
  d.settings = dir;
}

void Config::resetDirectories() {
  Directories& d = directories();
  std::lock_guard<std::mutex> g(d.lock);
  d.program.clear();
  d.settings.clear();
}

std::string Config::readInstallDir() {
  HKEY key = 0;
  if (platform::RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  char buffer[kMaxInstallDir + 1] = {};
  DWORD size = kMaxInstallDir;
  DWORD type = 0;
  const LONG r = platform::RegQueryValueExA(key, "installdir", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  platform::RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_SZ) return {};
  buffer[size < kMaxInstallDir ? size : kMaxInstallDir] = 0;
  return std::string(buffer);
}
