#pragma once
// The record of what an installation created, and its replay by the
// uninstaller.  The text is CR LF separated lines: "Title:<title>",
// "version:<version>", then one "Makedir:<absolute path>" per directory
// made and one "Copyfile:<absolute path>" per file or shortcut written, in
// the order the work was done.  It travels as the member "install.log" of
// the uninstaller.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class InstallLog {
 public:
  // 500,000 bytes, not 512 KiB.
  static constexpr size_t kCapacity = 500000;

  InstallLog(std::string_view title, std::string_view version);

  // Appends `line` and CR LF.  A line is dropped (false) when the used
  // length + its length + 3 would reach the capacity.
  bool append(std::string_view line);
  // "Makedir:" or "Copyfile:" with a path; a relative path is made absolute
  // against the current directory first.
  bool appendPath(std::string_view prefix, std::string_view path);

  const std::string& text() const { return text_; }
  size_t size() const { return text_.size(); }

 private:
  std::string text_;
};

// One step of the replay.
struct LogAction {
  enum Kind { removeDirectory, removeFile } kind;
  std::string path;
};

// The steps a log asks for, last line first: lines keyed "Makedir:" and
// "Copyfile:" (any case).  The first line is never acted on; lines with an
// empty key or value, and paths that are relative or hold a ".." component,
// are passed over.
std::vector<LogAction> replayActions(std::string_view logText);

// True when `path` is absolute and has no "." or ".." component, so that it
// names exactly the place it was logged for.
bool plainAbsolutePath(std::string_view path);
