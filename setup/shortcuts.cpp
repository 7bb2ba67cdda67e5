#include "setup/shortcuts.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"

namespace {

// A string value of a desktop entry: backslash, line breaks and tabs
// escaped.
std::string entryString(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out;
}

// One argument of an Exec line, quoted when it holds a reserved character
// (before the string escaping of entryString).
std::string execArgument(std::string_view arg) {
  static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string out;
  const bool quote = arg.empty() || arg.find_first_of(kReserved) != std::string_view::npos;
  if (quote) out += '"';
  for (char c : arg) {
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
    if (c == '%') out += '%';  // a literal percent is doubled
    out += c;
  }
  if (quote) out += '"';
  return out;
}

std::string shellWord(std::string_view s) {
  const bool plain = !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '.' ||
           c == '_' || c == '-' || c == '+';
  });
  if (plain) return std::string(s);
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

std::string trim(std::string_view s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  const size_t e = s.find_last_not_of(" \t");
  return std::string(s.substr(b, e - b + 1));
}

// xscreensaver's settings file as lines, with the "programs:" resource
// taken apart into its entries.
struct LockerConfig {
  std::vector<std::string> before, after;  // lines around the programs block
  std::vector<std::string> entries;
  bool hasPrograms = false;

  explicit LockerConfig(std::string_view text) {
    std::vector<std::string> lines;
    std::string cur;
    for (char c : text) {
      if (c == '\n') {
        lines.push_back(cur);
        cur.clear();
      } else {
        cur += c;
      }
    }
    if (!cur.empty()) lines.push_back(cur);
    size_t i = 0;
    for (; i < lines.size(); ++i) {
      if (lines[i].rfind("programs:", 0) == 0) break;
      before.push_back(lines[i]);
    }
    if (i < lines.size()) {
      hasPrograms = true;
      // The value runs on while a line ends with a backslash.
      std::string value = lines[i].substr(9);
      while (!value.empty() && value.back() == '\\' && i + 1 < lines.size()) {
        value.pop_back();
        value += lines[++i];
      }
      if (!value.empty() && value.back() == '\\') value.pop_back();
      ++i;
      // Entries are separated by the two characters "\n".
      size_t start = 0;
      while (start <= value.size()) {
        size_t sep = value.find("\\n", start);
        if (sep == std::string::npos) sep = value.size();
        std::string entry = trim(value.substr(start, sep - start));
        if (!entry.empty()) entries.push_back(entry);
        start = sep + 2;
      }
      for (; i < lines.size(); ++i) after.push_back(lines[i]);
    }
  }

  std::string text() const {
    std::string out;
    for (const std::string& l : before) out += l + "\n";
    if (hasPrograms) {
      out += "programs:\t\t\t\t\t\t\t\t      \\\n";
      for (const std::string& e : entries) out += "  " + e + "\t\t\t\t    \\n\\\n";
      out += "\n";
    }
    for (const std::string& l : after) out += l + "\n";
    return out;
  }

  // The value of a one-line resource, or none.
  std::string* resource(std::string_view name) {
    for (std::vector<std::string>* part : {&before, &after})
      for (std::string& l : *part)
        if (l.rfind(name, 0) == 0 && l.size() > name.size() && l[name.size()] == ':') return &l;
    return nullptr;
  }

  void setResource(std::string_view name, std::string_view value) {
    const std::string line = std::string(name) + ":\t\t" + std::string(value);
    if (std::string* l = resource(name))
      *l = line;
    else
      before.push_back(line);
  }

  int selected() {
    std::string* l = resource("selected");
    if (!l) return -1;
    return std::atoi(l->c_str() + 9);
  }
};

bool entryRuns(std::string_view entry, std::string_view scrPath) {
  return entry.find(scrPath) != std::string_view::npos;
}

bool readWhole(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  out = s.str();
  return true;
}

}  // namespace

bool usableLinkName(std::string_view name) { return usableTitle(name) && name.size() <= 200; }

std::string desktopEntryText(const Shortcut& s, std::string_view installDir) {
  std::string target = s.target;
  std::replace(target.begin(), target.end(), '\\', '/');
  const std::string program = platform::joinPath(installDir, target);
  std::string exec = execArgument(program);
  for (const std::string& a : splitArguments(s.arguments)) exec += " " + execArgument(a);
  std::string out = "[Desktop Entry]\n";
  out += "Type=Application\n";
  out += "Version=1.0\n";
  out += "Name=" + entryString(s.linkName) + "\n";
  if (!s.description.empty()) out += "Comment=" + entryString(s.description) + "\n";
  out += "Exec=" + entryString(exec) + "\n";
  out += "Path=" + entryString(installDir) + "\n";
  out += "Icon=preferences-desktop-screensaver\n";
  out += "Terminal=false\n";
  return out;
}

std::string lockerConfigWithSaver(std::string_view config, std::string_view name, std::string_view scrPath) {
  LockerConfig c(lockerConfigWithoutSaver(config, scrPath));
  c.hasPrograms = true;
  std::string entry = "\"" + std::string(name) + "\"  " + shellWord(scrPath) + " /s";
  c.entries.insert(c.entries.begin(), entry);
  c.setResource("mode", "one");
  c.setResource("selected", "0");
  return c.text();
}

std::string lockerConfigWithoutSaver(std::string_view config, std::string_view scrPath) {
  LockerConfig c(config);
  if (!c.hasPrograms) return std::string(config);
  int selected = c.selected();
  bool selectedGone = false;
  std::vector<std::string> kept;
  for (size_t i = 0; i < c.entries.size(); ++i) {
    const int index = static_cast<int>(i);
    if (!entryRuns(c.entries[i], scrPath)) {
      kept.push_back(c.entries[i]);
      continue;
    }
    if (index == selected) selectedGone = true;
  }
  if (kept.size() == c.entries.size()) return std::string(config);
  // Where the selection pointed past removed entries, it moves with its entry.
  if (!selectedGone && selected >= 0) {
    int shift = 0;
    for (int i = 0; i < selected && i < static_cast<int>(c.entries.size()); ++i)
      if (entryRuns(c.entries[static_cast<size_t>(i)], scrPath)) ++shift;
    selected -= shift;
  }
  c.entries = kept;
  if (selectedGone) {
    c.setResource("selected", "-1");
    if (std::string* mode = c.resource("mode"); mode && trim(mode->substr(5)) == "one") c.setResource("mode", "random");
  } else if (c.resource("selected")) {
    c.setResource("selected", std::to_string(selected));
  }
  return c.text();
}

bool makeDefaultScreensaver(std::string_view name, const std::string& scrPath, const std::string& lockerConfig) {
  bool any = false;
  HKEY key = 0;
  if (platform::RegCreateKeyExA(HKEY_CURRENT_USER, kDesktopKey, &key) == ERROR_SUCCESS) {
    any = platform::RegSetValueExA(key, kScreenSaverValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(scrPath.c_str()),
                                   static_cast<DWORD>(scrPath.size() + 1)) == ERROR_SUCCESS;
    platform::RegCloseKey(key);
  }
  std::string config;
  if (!lockerConfig.empty() && readWhole(lockerConfig, config)) {
    const std::string updated = lockerConfigWithSaver(config, name, scrPath);
    if (platform::writeFileAtomically(lockerConfig, updated.data(), updated.size())) any = true;
  }
  return any;
}

void forgetDefaultScreensaver(const std::string& scrPath, const std::string& lockerConfig) {
  HKEY key = 0;
  if (platform::RegOpenKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    char value[1024] = {};
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    if (platform::RegQueryValueExA(key, kScreenSaverValue, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ && scrPath == value)
      platform::RegDeleteValueA(key, kScreenSaverValue);
    platform::RegCloseKey(key);
  }
  std::string config;
  if (!lockerConfig.empty() && readWhole(lockerConfig, config)) {
    const std::string updated = lockerConfigWithoutSaver(config, scrPath);
    if (updated != config) platform::writeFileAtomically(lockerConfig, updated.data(), updated.size());
  }
}
