#include "setup/installlog.h"

#include <algorithm>
#include <cctype>

#include "platform/files.h"

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

InstallLog::InstallLog(std::string_view title, std::string_view version) {
  text_.reserve(4096);
  append(std::string("Title:").append(title));
  append(std::string("version:").append(version));
}

bool InstallLog::append(std::string_view line) {
  if (text_.size() + line.size() + 3 >= kCapacity) return false;
  text_.append(line);
  text_.append("\r\n");
  return true;
}

bool InstallLog::appendPath(std::string_view prefix, std::string_view path) {
  std::string line(prefix);
  if (!path.empty() && path[0] != '/') line += platform::currentDirectory() + "/";
  line.append(path);
  return append(line);
}

bool plainAbsolutePath(std::string_view path) {
  if (path.empty() || path[0] != '/') return false;
  size_t i = 1;
  while (i <= path.size()) {
    size_t end = path.find('/', i);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(i, end - i);
    if (part == "." || part == "..") return false;
    i = end + 1;
  }
  return true;
}

std::vector<LogAction> replayActions(std::string_view text) {
  std::vector<LogAction> out;
  // From the end towards the start: every CR at position 1 or more starts a
  // line two characters later (after its LF).  The first line has no CR
  // before it and is never acted on.
  for (size_t pos = text.size(); pos-- > 1;) {
    if (text[pos] != '\r') continue;
    const size_t begin = pos + 2;
    if (begin >= text.size()) continue;
    size_t end = text.find('\r', begin);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(begin, end - begin);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, colon + 1);
    const std::string_view value = line.substr(colon + 1);
    if (value.empty()) continue;
    LogAction::Kind kind;
    if (equalsNoCase(key, "Makedir:")) {
      kind = LogAction::removeDirectory;
    } else if (equalsNoCase(key, "Copyfile:")) {
      kind = LogAction::removeFile;
    } else {
      continue;
    }
    if (!plainAbsolutePath(value)) continue;
    out.push_back({kind, std::string(value)});
  }
  return out;
}
