// aqsettings: shows every field of a settings file (Lumenmere.ini), writes
// one with the defaults, or changes fields of one (for scripts and tests).
//   aqsettings dump FILE
//   aqsettings defaults FILE
//   aqsettings set FILE KEY=VALUE...
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/files.h"
#include "source/config.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: aqsettings dump FILE\n"
               "       aqsettings defaults FILE\n"
               "       aqsettings set FILE KEY=VALUE...\n"
               "  set starts from FILE when it exists (else the defaults) and takes the keys that\n"
               "  dump prints for single values (water.*, images.* and mp3.* numbers), plus\n"
               "  images.file=PATH, images.dir=PATH, mp3.file=PATH, mp3.dir=PATH, which add to a list,\n"
               "  and images.clear=1, mp3.clear=1, which empty both lists of one kind\n");
  return 2;
}

bool readFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream ss;
  ss << in.rdbuf();
  bytes = ss.str();
  return true;
}

// A whole number in decimal or 0x hex that fits 32 bits.
bool parseNumber(const std::string& text, int64_t& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || *end || v < INT32_MIN || v > UINT32_MAX) return false;
  value = v;
  return true;
}

bool setFileListField(ConfigFileList& l, const std::string& field, const std::string& value) {
  if (field == "file") {
    l.fileList.append(value);
    return true;
  }
  if (field == "dir") {
    l.dirList.append(value);
    return true;
  }
  if (field == "clear") {
    l.fileList.clear();
    l.dirList.clear();
    return true;
  }
  int64_t v;
  if (!parseNumber(value, v)) return false;
  if (field == "listEnabled")
    l.listEnabled = static_cast<int32_t>(v);
  else if (field == "maxFiles")
    l.maxFiles = static_cast<int32_t>(v);
  else if (field == "playMode")
    l.playMode = static_cast<int32_t>(v);
  else if (field == "randomizeOrder")
    l.randomizeOrder = static_cast<int32_t>(v);
  else if (field == "editDirectories")
    l.editDirectories = static_cast<int32_t>(v);
  else if (field == "showPlayButtons")
    l.showPlayButtons = static_cast<int32_t>(v);
  else
    return false;
  return true;
}

bool setField(Config& c, const std::string& key, const std::string& value) {
  const size_t dot = key.find('.');
  const std::string section = key.substr(0, dot), field = dot == std::string::npos ? "" : key.substr(dot + 1);
  if (section == "images") return setFileListField(c.images, field, value);
  if (section == "mp3") return setFileListField(c.mp3, field, value);
  int64_t v;
  if (section != "water" || !parseNumber(value, v)) return false;
  ConfigWater& w = c.water;
  if (field == "waterFlags")
    w.waterFlags = static_cast<uint32_t>(v);
  else if (field == "animationSpeed")
    w.animationSpeed = static_cast<int32_t>(v);
  else if (field == "surfaceSize")
    w.surfaceSize = static_cast<int32_t>(v);
  else if (field == "specularColor")
    w.specularColor = static_cast<uint32_t>(v);
  else if (field == "waterColor")
    w.waterColor = static_cast<uint32_t>(v);
  else if (field == "specularPower")
    w.specularPower = static_cast<int32_t>(v);
  else
    return false;
  return true;
}

void dumpList(const char* prefix, const char* name, const StringList& list) {
  std::printf("%s.%s.count=%zu\n", prefix, name, list.count());
  std::printf("%s.%s.kept=%u\n", prefix, name, list.kept);
  for (const std::string& s : list.strings()) std::printf("%s.%s=%s\n", prefix, name, s.c_str());
}

void dumpFileList(const char* prefix, const ConfigFileList& l) {
  std::printf("%s.listEnabled=%d\n", prefix, l.listEnabled);
  std::printf("%s.showPlayButtons=%d\n", prefix, l.showPlayButtons);
  std::printf("%s.maxFiles=%d\n", prefix, l.maxFiles);
  std::printf("%s.playMode=%d\n", prefix, l.playMode);
  std::printf("%s.randomizeOrder=%d\n", prefix, l.randomizeOrder);
  std::string dirs;
  for (int v : l.selectedDirs) {
    if (v < 0) break;
    if (!dirs.empty()) dirs += ',';
    dirs += std::to_string(v);
  }
  std::printf("%s.selectedDirs=%s\n", prefix, dirs.c_str());
  std::printf("%s.editDirectories=%d\n", prefix, l.editDirectories);
  std::printf("%s.extensions=%s,%s,%s\n", prefix, l.extensions[0], l.extensions[1], l.extensions[2]);
  dumpList(prefix, "fileList", l.fileList);
  dumpList(prefix, "dirList", l.dirList);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || (argc > 3 && std::strcmp(argv[1], "set") != 0)) return usage();
  const std::string command = argv[1], path = argv[2];
  if (command == "defaults") {
    Config c;
    const std::vector<uint8_t> bytes = c.serialize();
    if (!platform::writeFileAtomically(path, bytes.data(), bytes.size())) {
      std::fprintf(stderr, "aqsettings: cannot write %s\n", path.c_str());
      return 1;
    }
    return 0;
  }
  if (command == "set") {
    Config c;
    std::string bytes;
    if (readFile(path, bytes) && c.loadData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) == 0) {
      std::fprintf(stderr, "aqsettings: %s holds no settings blocks\n", path.c_str());
      return 1;
    }
    for (int i = 3; i < argc; ++i) {
      const std::string pair = argv[i];
      const size_t eq = pair.find('=');
      if (eq == std::string::npos || !setField(c, pair.substr(0, eq), pair.substr(eq + 1))) {
        std::fprintf(stderr, "aqsettings: cannot set '%s'\n", pair.c_str());
        return 2;
      }
    }
    const std::vector<uint8_t> out = c.serialize();
    if (!platform::writeFileAtomically(path, out.data(), out.size())) {
      std::fprintf(stderr, "aqsettings: cannot write %s\n", path.c_str());
      return 1;
    }
    return 0;
  }
  if (command != "dump") return usage();

  std::string bytes;
  if (!readFile(path, bytes)) {
    std::fprintf(stderr, "aqsettings: cannot read %s\n", path.c_str());
    return 1;
  }
  Config c;
  const int blocks = c.loadData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  if (blocks == 0) {
    std::fprintf(stderr, "aqsettings: %s holds no settings blocks\n", path.c_str());
    return 1;
  }
  if (blocks < 4)
    std::fprintf(stderr, "aqsettings: only %d of the 4 blocks could be read; the rest are defaults\n", blocks);

  std::printf("standaloneMarker=%d\n", c.standaloneMarker);
  const ConfigWater& w = c.water;
  std::printf("water.waterParam0=%d\n", w.waterParam0);
  std::printf("water.waterFlags=%u\n", w.waterFlags);
  std::printf("water.animationSpeed=%d\n", w.animationSpeed);
  std::printf("water.surfaceSize=%d\n", w.surfaceSize);
  std::printf("water.specularColor=0x%08x\n", w.specularColor);
  std::printf("water.waterColor=0x%08x\n", w.waterColor);
  std::printf("water.specularPower=%d\n", w.specularPower);
  std::printf("water.waterExtra=%u,%u,%u\n", w.waterExtra[0], w.waterExtra[1], w.waterExtra[2]);
  dumpFileList("images", c.images);
  dumpFileList("mp3", c.mp3);
  return 0;
}
