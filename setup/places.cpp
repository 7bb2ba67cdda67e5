#include "setup/places.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

#include "platform/files.h"

namespace {

std::string homeDirectory() {
  const char* home = std::getenv("HOME");
  return home && *home ? home : "/";
}

// One line of user-dirs.dirs: XDG_DESKTOP_DIR="$HOME/Desktop".  Only the
// forms xdg-user-dirs writes are understood: "$HOME/..." or an absolute path.
std::string userDirsValue(const std::string& line) {
  const size_t eq = line.find('=');
  if (eq == std::string::npos) return {};
  std::string v = line.substr(eq + 1);
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  if (v.rfind("$HOME", 0) == 0) v = homeDirectory() + v.substr(5);
  if (v.empty() || v[0] != '/') return {};
  return v;
}

}  // namespace

std::string desktopDirectory() {
  std::ifstream in(platform::joinPath(platform::userConfigDirectory(), "user-dirs.dirs"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("XDG_DESKTOP_DIR=", 0) == 0) {
      std::string v = userDirsValue(line);
      while (v.size() > 1 && v.back() == '/') v.pop_back();
      if (!v.empty()) return v;
    }
  }
  return platform::joinPath(homeDirectory(), "Desktop");
}

Places currentPlaces() {
  Places p;
  p.systemWide = geteuid() == 0;
  // Overrides for tests and packagers: the scope ("user" or "system"), and
  // a directory the system-wide places are put under.
  if (const char* scope = std::getenv("LUMENMERE_INSTALL_SCOPE")) {
    if (std::string_view(scope) == "user") p.systemWide = false;
    if (std::string_view(scope) == "system") p.systemWide = true;
  }
  const char* rootEnv = std::getenv("LUMENMERE_SYSTEM_ROOT");
  const std::string root = rootEnv && *rootEnv == '/' ? rootEnv : "";
  const std::string home = homeDirectory();
  if (p.systemWide) {
    p.installBase = root + "/opt/Tessolar";
    p.screensaverDirectory = root + "/usr/local/lib/screensavers";
    p.startMenuPrograms = root + "/usr/local/share/applications";
  } else {
    p.installBase = platform::joinPath(platform::userDataDirectory(), "Tessolar");
    p.screensaverDirectory = platform::joinPath(home, ".local/lib/screensavers");
    p.startMenuPrograms = platform::joinPath(platform::userDataDirectory(), "applications");
  }
  p.desktopDirectory = desktopDirectory();
  const char* tmp = std::getenv("TMPDIR");
  p.temporaryBase = tmp && *tmp == '/' ? tmp : "/tmp";
  p.lockerConfiguration = platform::joinPath(home, ".xscreensaver");
  return p;
}
