#pragma once
// The registry: hierarchical keys under HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE holding REG_DWORD, REG_BINARY and REG_SZ values, with
// the Win32 calls and results the system is written against.
//
// Everything lives in one REGEDIT4 text file ($LUMENMERE_REGISTRY when set,
// else $XDG_CONFIG_HOME/Tessolar/registry.reg).  The file is parsed once per
// change (the parsed form is kept while its size, times and inode stay the
// same); every change applies itself to the current contents and writes the
// file anew through a temporary file renamed over the old one, all under a
// lock, so that the installer and the screen saver never lose each other's
// values.  Lines this parser does not understand (comments, other tools'
// syntax) and values nobody changed are written back exactly as they were.
// A file that exists but cannot be read is never replaced: writes are
// refused (ERROR_ACCESS_DENIED) and standard error says so once.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wintypes.h"

using HKEY = uintptr_t;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_WRITE_FAULT = 29;

inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

inline constexpr DWORD KEY_READ = 0x20019;
inline constexpr DWORD KEY_WRITE = 0x20006;
inline constexpr DWORD KEY_ALL_ACCESS = 0xF003F;

namespace platform {

// Path of the registry file in use.
std::string registryFilePath();

// Opens an existing key (ERROR_FILE_NOT_FOUND when it is missing).  An empty
// or null sub-key opens the key itself.
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD access, HKEY* result);
// Opens a key, creating it and its missing parents.  `disposition` (may be
// null) tells whether it was created or opened.
LONG RegCreateKeyExA(HKEY key, const char* subKey, HKEY* result, DWORD* disposition = nullptr);
LONG RegCloseKey(HKEY key);

// Reads a value.  `type`, `data` may be null.  On entry *size is the room
// in `data`; on return the value's size (REG_SZ includes its NUL).  A value
// larger than the room gives ERROR_MORE_DATA and copies nothing.  A null or
// empty name is the key's default value.
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
// Writes a value.  REG_SZ data is taken up to its first NUL.
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG RegDeleteValueA(HKEY key, const char* name);

// The index-th direct sub-key's name (ERROR_NO_MORE_ITEMS past the last).
// *nameSize is the room in `name` on entry and the name's length on return.
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize);
// Deletes a key that has no sub-keys (ERROR_ACCESS_DENIED when it has).
LONG RegDeleteKeyA(HKEY key, const char* subKey);
// Deletes a key with all its sub-keys and values.
LONG RegDeleteTreeA(HKEY key, const char* subKey);

// How many times this process has read and parsed the registry file (the
// parsed form is reused while the file is unchanged).
uint64_t registryParseCount();

// The registry file's text as a document: what the calls above work on,
// open to tests and the fuzz target.  Key paths are full paths
// ("HKEY_CURRENT_USER\Software\..."); key and value names are compared
// without regard to ASCII case.  Parsing and lookups take time linear in
// the text and constant per value.
struct RegistryValue {
  std::string name;  // as written; "" is the default value
  DWORD type = REG_SZ;
  std::vector<BYTE> data;
};

class RegistryDocument {
 public:
  // An empty registry; written out it is "REGEDIT4" and its keys.
  RegistryDocument();
  // The registry in `text`.  Written out unchanged it is `text` again, byte
  // for byte (a last line without its line break gets one).
  explicit RegistryDocument(std::string_view text);
  ~RegistryDocument();
  RegistryDocument(RegistryDocument&&) noexcept;
  RegistryDocument& operator=(RegistryDocument&&) noexcept;
  RegistryDocument(const RegistryDocument&) = delete;
  RegistryDocument& operator=(const RegistryDocument&) = delete;

  std::string text() const;

  bool hasKey(std::string_view path) const;
  // The key's path as first written (its case), when it exists.
  std::optional<std::string> keyPath(std::string_view path) const;
  // Creates the key and its missing parents below the root; true when it
  // was created.
  bool createKey(std::string_view path);
  // Deletes the key; with `withSubKeys` false a key that has sub-keys is left
  // alone.  False when nothing was deleted.
  bool deleteKey(std::string_view path, bool withSubKeys);
  bool hasSubKeys(std::string_view path) const;
  // Names of the direct sub-keys, ordered without regard to case.
  std::vector<std::string> subKeys(std::string_view path) const;

  const RegistryValue* value(std::string_view path, std::string_view name) const;
  // Sets a value of an existing key; false when the key is missing.
  bool setValue(std::string_view path, RegistryValue value);
  // False when the key or the value is missing.
  bool deleteValue(std::string_view path, std::string_view name);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
