// Any bytes as a parameter file, as an install log and as a command line.
// Besides not crashing, what the parsers give must keep their promises:
// shortcut fields within their length, a title that names one directory,
// replay paths that are absolute and plain, in the order of the text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "setup/installlog.h"
#include "setup/installparams.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz_setup: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);

  InstallParams params;
  params.parse(text);
  if (params.title && !usableTitle(*params.title)) fail("unusable title accepted");
  if (params.version_number != numericVersion(params.version)) fail("numeric version differs");
  const std::string title = params.title.value_or("T");
  for (const char* key : {"workshortcut:", "startmenu:", "desktopicon:"}) {
    for (const Shortcut& s : shortcutsFor(text, key, title)) {
      for (const std::string* f : {&s.target, &s.linkName, &s.description, &s.arguments})
        if (f->size() > kMaxShortcutField) fail("shortcut field too long");
    }
  }

  size_t lastEnd = text.size() + 1;
  for (const LogAction& a : replayActions(text)) {
    if (!plainAbsolutePath(a.path)) fail("replay of a path that is not plain and absolute");
    // Last line first: each path stands before the one replayed before it.
    const size_t at = text.rfind(a.path, lastEnd - 1);
    if (at == std::string::npos) fail("replayed path not in the log");
    lastEnd = at;
  }

  InstallLog log("T", "1");
  for (size_t i = 0; i < 4; ++i) log.append(text);
  if (log.size() >= InstallLog::kCapacity) fail("log over capacity");

  (void)parseSetupCommandLine(text);
  return 0;
}
