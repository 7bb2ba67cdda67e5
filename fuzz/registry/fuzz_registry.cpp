// Any bytes as the registry file.  Written back unchanged the text must be
// itself again; after changes, what was set must be read back from the
// written text, and that text must in turn be written back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/registry.h"

using platform::RegistryDocument;
using platform::RegistryValue;

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz_registry: %s\n", what);
  std::abort();
}

// The keys of `doc` below `path`, depth first.
void collectKeys(const RegistryDocument& doc, const std::string& path, std::vector<std::string>& out, int depth) {
  if (depth > 64 || out.size() > 256) return;
  for (const std::string& name : doc.subKeys(path)) {
    // A copy: pushing below may move the vector's strings.
    const std::string key = path + "\\" + name;
    out.push_back(key);
    collectKeys(doc, key, out, depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  RegistryDocument doc(text);
  const std::string written = doc.text();
  if (size == 0) {
    if (written != "REGEDIT4\n") fail("an empty file is not written as a fresh registry");
  } else {
    std::string expected(text);
    if (expected.back() != '\n') expected += '\n';
    if (written != expected) fail("unchanged text not written back byte for byte");
  }

  // Changes on keys the text holds and on new ones.
  std::vector<std::string> keys;
  collectKeys(doc, "HKEY_CURRENT_USER", keys, 0);
  collectKeys(doc, "HKEY_LOCAL_MACHINE", keys, 0);
  const std::string fresh = "HKEY_CURRENT_USER\\Software\\Fuzz\\Made";
  doc.createKey(fresh);
  keys.push_back(fresh);
  RegistryValue s{"Text", REG_SZ, {'a', '\\', '"', 0}};
  RegistryValue d{"Number", REG_DWORD, {1, 2, 3, 4}};
  RegistryValue b{"", REG_BINARY, std::vector<BYTE>(60, 0xA5)};
  size_t at = 0;
  for (const std::string& key : keys) {
    const size_t kind = at++ % 4;
    if (!doc.hasKey(key)) continue;  // deleted with its parent
    switch (kind) {
      case 0: doc.setValue(key, s); break;
      case 1: doc.setValue(key, d); break;
      case 2: doc.setValue(key, b); break;
      case 3: doc.deleteKey(key, true); break;
    }
  }
  const std::string changed = doc.text();
  RegistryDocument reread(changed);
  if (reread.text() != changed) fail("changed text not written back byte for byte");
  at = 0;
  for (const std::string& key : keys) {
    const size_t kind = at++ % 4;
    if (!doc.hasKey(key)) {
      if (reread.hasKey(key)) fail("a deleted key is read back");
      continue;
    }
    if (!reread.hasKey(key)) fail("a key is not read back");
    const RegistryValue& want = kind == 0 ? s : kind == 1 ? d : b;
    if (kind == 3) continue;
    const RegistryValue* got = reread.value(key, want.name);
    if (!got || got->type != want.type || got->data != want.data) fail("a value set is not read back");
  }
  return 0;
}
