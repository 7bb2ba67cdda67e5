#include "setup/installparams.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "pack/pack.h"

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// End of the line that starts at or before `pos`.  A parameter file is
// written with CR LF, but one saved with bare LF ends its lines there too:
// otherwise its first value would swallow the rest of the file.
size_t lineEnd(std::string_view text, size_t pos) {
  const size_t end = text.find_first_of("\r\n", pos);
  return end == std::string_view::npos ? text.size() : end;
}

bool startsWithFlag(const std::optional<std::string>& value) { return value && !value->empty() && (*value)[0] == '1'; }

}  // namespace

SetupMode parseSetupCommandLine(std::string_view commandLine) {
  const size_t slash = commandLine.find('/');
  if (slash == std::string_view::npos) return SetupMode::install;
  struct Keyword {
    std::string_view word;
    SetupMode mode;
  };
  static constexpr Keyword kKeywords[] = {
      {"install", SetupMode::install},
      {"pack", SetupMode::pack},
      {"packdat", SetupMode::packData},
      {"uninstall", SetupMode::uninstallFirst},
      {"uninstallsecond", SetupMode::uninstallSecond},
  };
  for (size_t i = slash + 1; i < commandLine.size(); ++i) {
    const char c = commandLine[i];
    if (c != 'i' && c != 'p' && c != 'u') continue;
    const std::string_view rest = commandLine.substr(i);
    for (const Keyword& k : kKeywords)
      if (equalsNoCase(rest, k.word)) return k.mode;
  }
  return SetupMode::install;
}

std::optional<std::string> findParameter(std::string_view text, std::string_view key) {
  const size_t at = text.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  const size_t colon = text.find(':', at);
  if (colon == std::string_view::npos) return std::nullopt;
  const size_t begin = colon + 1;
  return std::string(text.substr(begin, lineEnd(text, begin) - begin));
}

uint32_t numericVersion(std::string_view version) {
  // Unsigned arithmetic: an absurdly long run of digits wraps instead of
  // overflowing.
  uint32_t n = 0;
  for (char c : version)
    if (c >= '0' && c <= '9') n = n * 10u + static_cast<uint32_t>(c - '0');
  return n;
}

std::string expandShortcutField(std::string_view field, std::string_view title) {
  std::string out;
  size_t i = 0;
  while (i < field.size()) {
    const char c = field[i];
    if (c == '%') {
      const size_t close = field.find('%', i + 1);
      if (close == std::string_view::npos) {
        out.append(field.substr(i));  // no partner: copied as it stands
        break;
      }
      const std::string_view name = field.substr(i + 1, close - i - 1);
      if (equalsNoCase(name, "appexe")) {
        out.append(title);
        out.append(".exe");
      } else if (equalsNoCase(name, "app") || equalsNoCase(name, "title")) {
        out.append(title);
      }
      i = close + 1;
    } else {
      out.push_back(c);
      ++i;
    }
  }
  if (out.size() > kMaxShortcutField) out.resize(kMaxShortcutField);
  return out;
}

std::optional<Shortcut> parseShortcut(std::string_view text, size_t afterKey, std::string_view title) {
  // Only the key's own line counts: a short line must not borrow the '$'
  // of the lines after it.
  const std::string_view line = text.substr(afterKey, lineEnd(text, afterKey) - afterKey);
  size_t marks[5];
  size_t found = 0;
  for (size_t i = 0; i < line.size() && found < 5; ++i)
    if (line[i] == '$') marks[found++] = i;
  if (found < 4) return std::nullopt;
  if (found == 4) marks[4] = line.size();
  auto field = [&](int k) {
    return expandShortcutField(line.substr(marks[k] + 1, marks[k + 1] - marks[k] - 1), title);
  };
  return Shortcut{field(0), field(1), field(2), field(3)};
}

std::vector<Shortcut> shortcutsFor(std::string_view text, std::string_view key, std::string_view title) {
  std::vector<Shortcut> out;
  if (key.empty()) return out;
  for (size_t at = text.find(key); at != std::string_view::npos; at = text.find(key, at + key.size())) {
    if (auto s = parseShortcut(text, at + key.size(), title)) out.push_back(std::move(*s));
  }
  return out;
}

bool usableTitle(std::string_view title) {
  if (title.empty() || title == "." || title == ".." || title.size() > 63) return false;
  return std::none_of(title.begin(), title.end(),
                      [](char c) { return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20; });
}

std::string InstallParams::caption() const { return (title ? *title : std::string()) + " " + version; }

std::string InstallParams::screensaverFileName() const { return (title ? *title : std::string()) + ".scr"; }

std::string InstallParams::programFileName() const { return (title ? *title : std::string()) + ".exe"; }

void InstallParams::parse(std::string text) {
  parameterText = std::move(text);
  const std::string_view t = parameterText;
  title = findParameter(t, "Title:");
  if (title && !usableTitle(*title)) title.reset();
  version = findParameter(t, "version:").value_or(std::string());
  version_number = numericVersion(version);
  initCommand = findParameter(t, "Initcommand:");
  startCommand = findParameter(t, "startcommand:").value_or(std::string());
  requirements = findParameter(t, "requirements:");
  screensaver = startsWithFlag(findParameter(t, "screensaver:"));
  makeDefault = startsWithFlag(findParameter(t, "setscreensaver:"));
}

bool InstallParams::load(const Pack& pack) {
  std::string text;
  uninstaller = false;
  if (pack.isOpen() && pack.findMember("installparam.txt") >= 0) {
    pack.load("installparam.txt", text);
  } else if (pack.isOpen() && pack.findMember("install.log") >= 0) {
    pack.load("install.log", text);
    uninstaller = true;
  } else {
    parse(std::string());
    title.reset();
    return false;
  }
  parse(std::move(text));
  return true;
}

InstallParams& installParams() {
  static std::unique_ptr<InstallParams> params = std::make_unique<InstallParams>();
  return *params;
}

std::vector<std::string> splitArguments(std::string_view text) {
  std::vector<std::string> out;
  std::string cur;
  bool inQuotes = false, any = false;
  for (char c : text) {
    if (c == '"') {
      inQuotes = !inQuotes;
      any = true;
    } else if ((c == ' ' || c == '\t') && !inQuotes) {
      if (any) out.push_back(cur);
      cur.clear();
      any = false;
    } else {
      cur += c;
      any = true;
    }
  }
  if (any) out.push_back(cur);
  return out;
}
