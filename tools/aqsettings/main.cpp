// aqsettings: shows every field of a settings file (Lumenmere.ini), or
// writes one with the defaults.
//   aqsettings dump FILE
//   aqsettings defaults FILE
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/files.h"
#include "source/config.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: aqsettings dump FILE\n       aqsettings defaults FILE\n");
  return 2;
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
  if (argc != 3) return usage();
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
  if (command != "dump") return usage();

  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "aqsettings: cannot read %s\n", path.c_str());
    return 1;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string bytes = ss.str();
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
