// aqplaylist: draws one list's play list from a settings file with a given
// state of the random generator and prints one path per line.
//   aqplaylist SETTINGS images|mp3 SEED
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/crtrand.h"
#include "platform/files.h"
#include "source/config.h"

int main(int argc, char** argv) {
  if (argc != 4 || (std::string(argv[2]) != "images" && std::string(argv[2]) != "mp3")) {
    std::fprintf(stderr, "usage: aqplaylist SETTINGS images|mp3 SEED\n");
    return 2;
  }
  const std::optional<std::string> read = platform::readRegularFile(argv[1]);
  if (!read) {
    std::fprintf(stderr, "aqplaylist: cannot read %s (not a readable regular file)\n", argv[1]);
    return 1;
  }
  const std::string& bytes = *read;
  Config c;
  if (c.loadData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) == 0) {
    std::fprintf(stderr, "aqplaylist: %s holds no settings blocks\n", argv[1]);
    return 1;
  }
  char* end = nullptr;
  const unsigned long seed = std::strtoul(argv[3], &end, 0);
  if (!end || *end) {
    std::fprintf(stderr, "aqplaylist: SEED must be a number\n");
    return 2;
  }
  platform::srand(uint32_t(seed));
  ConfigFileList& list = std::string(argv[2]) == "images" ? c.images : c.mp3;
  const PlayList play = list.drawPlayList();
  if (!play) {
    std::fprintf(stderr, "aqplaylist: no play list (the list is disabled or its play mode is unknown)\n");
    return 1;
  }
  for (const std::string& p : play.paths()) std::printf("%s\n", p.c_str());
  return 0;
}
