#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/product.h"

namespace platform {
namespace {

struct Value {
  std::string name;  // as written; "" is the default value
  DWORD type = REG_SZ;
  std::vector<BYTE> data;
};

struct Key {
  std::string path;  // full path as first written, e.g. HKEY_CURRENT_USER\Software
  std::vector<Value> values;
};

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The whole registry, keyed by the lower-cased full path.
using Tree = std::map<std::string, Key>;

const char* rootName(HKEY key) {
  if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  return nullptr;
}

std::mutex handlesMutex;
std::map<HKEY, std::string> openHandles;  // handle -> full path
HKEY nextHandle = 0x1000;

bool handlePath(HKEY key, std::string& path) {
  if (const char* root = rootName(key)) {
    path = root;
    return true;
  }
  std::lock_guard lock(handlesMutex);
  auto it = openHandles.find(key);
  if (it == openHandles.end()) return false;
  path = it->second;
  return true;
}

// Joins a sub-key to a key path, dropping empty components ("a\\b\" is a\b).
std::string childPath(const std::string& base, const char* subKey) {
  std::string out = base;
  if (!subKey) return out;
  std::string_view rest(subKey);
  while (!rest.empty()) {
    size_t cut = rest.find('\\');
    std::string_view part = rest.substr(0, cut);
    if (!part.empty()) {
      out += '\\';
      out += part;
    }
    if (cut == std::string_view::npos) break;
    rest.remove_prefix(cut + 1);
  }
  return out;
}

std::string parentPath(const std::string& path) {
  size_t cut = path.rfind('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

bool isRootPath(const std::string& lowerPath) {
  return lowerPath == "hkey_current_user" || lowerPath == "hkey_local_machine";
}

// ---- REGEDIT4 text -------------------------------------------------------

void appendQuoted(std::string& out, std::string_view s) {
  out += '"';
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

void appendHex(std::string& out, const std::vector<BYTE>& data) {
  char buf[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", data[i]);
    if (i) out += (i % 24 == 0) ? ",\\\n  " : ",";
    out += buf;
  }
}

bool printableString(const std::vector<BYTE>& data) {
  // A string value is written as text when it is one NUL-terminated run
  // without line breaks; anything else keeps its bytes as hex(1).
  if (data.empty() || data.back() != 0) return false;
  for (size_t i = 0; i + 1 < data.size(); ++i)
    if (data[i] == 0 || data[i] == '\n' || data[i] == '\r') return false;
  return true;
}

std::string format(const Tree& tree) {
  std::string out = "REGEDIT4\n";
  for (const auto& [lp, key] : tree) {
    out += "\n[";
    out += key.path;
    out += "]\n";
    for (const Value& v : key.values) {
      if (v.name.empty())
        out += '@';
      else
        appendQuoted(out, v.name);
      out += '=';
      if (v.type == REG_SZ && printableString(v.data)) {
        appendQuoted(out, std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1));
      } else if (v.type == REG_DWORD && v.data.size() == 4) {
        DWORD d = readLe32(v.data.data());
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", d);
        out += buf;
      } else {
        if (v.type == REG_BINARY) {
          out += "hex:";
        } else {
          char buf[24];
          std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
          out += buf;
        }
        appendHex(out, v.data);
      }
      out += '\n';
    }
  }
  return out;
}

// Reads a quoted text at s[pos] (which is '"'); leaves pos after the quote.
bool parseQuoted(const std::string& s, size_t& pos, std::string& out) {
  if (pos >= s.size() || s[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < s.size()) {
    char c = s[pos++];
    if (c == '"') return true;
    if (c == '\\' && pos < s.size()) c = s[pos++];
    out += c;
  }
  return false;
}

bool parseHexBytes(std::string_view s, std::vector<BYTE>& out) {
  out.clear();
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ',' || std::isspace(static_cast<unsigned char>(s[i])))) ++i;
    if (i >= s.size()) break;
    if (i + 1 >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i])) ||
        !std::isxdigit(static_cast<unsigned char>(s[i + 1])))
      return false;
    out.push_back(static_cast<BYTE>(std::strtoul(std::string(s.substr(i, 2)).c_str(), nullptr, 16)));
    i += 2;
  }
  return true;
}

Tree parse(const std::string& text) {
  Tree tree;
  // Join continuation lines (a trailing backslash outside quotes in hex data).
  std::vector<std::string> lines;
  std::string cur;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    bool cont = !line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos;
    if (!cur.empty()) {
      size_t first = line.find_first_not_of(" \t");
      line = first == std::string::npos ? std::string() : line.substr(first);
      cont = !line.empty() && line.back() == '\\';
    }
    if (cont) line.pop_back();
    cur += line;
    if (!cont) {
      lines.push_back(std::move(cur));
      cur.clear();
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }

  Key* key = nullptr;
  for (const std::string& line : lines) {
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      key = nullptr;
      if (close == std::string::npos || close < 2 || line[1] == '-') continue;
      std::string path = line.substr(1, close - 1);
      Key& k = tree[lower(path)];
      if (k.path.empty()) k.path = path;
      key = &k;
      continue;
    }
    if (!key) continue;
    Value v;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (!parseQuoted(line, pos, v.name)) {
      continue;
    }
    if (pos >= line.size() || line[pos] != '=') continue;
    ++pos;
    std::string_view rest(line);
    rest.remove_prefix(pos);
    if (!rest.empty() && rest[0] == '"') {
      std::string s;
      size_t p = pos;
      if (!parseQuoted(line, p, s)) continue;
      v.type = REG_SZ;
      v.data.assign(s.begin(), s.end());
      v.data.push_back(0);
    } else if (rest.substr(0, 6) == "dword:") {
      DWORD d = static_cast<DWORD>(std::strtoul(std::string(rest.substr(6)).c_str(), nullptr, 16));
      v.type = REG_DWORD;
      v.data.assign(4, 0);
      writeLe32(v.data.data(), d);
    } else if (rest.substr(0, 4) == "hex:") {
      v.type = REG_BINARY;
      if (!parseHexBytes(rest.substr(4), v.data)) continue;
    } else if (rest.substr(0, 4) == "hex(") {
      size_t close = rest.find("):");
      if (close == std::string_view::npos) continue;
      v.type = static_cast<DWORD>(std::strtoul(std::string(rest.substr(4, close - 4)).c_str(), nullptr, 16));
      if (!parseHexBytes(rest.substr(close + 2), v.data)) continue;
    } else {
      continue;
    }
    auto same = std::find_if(key->values.begin(), key->values.end(),
                             [&](const Value& o) { return lower(o.name) == lower(v.name); });
    if (same != key->values.end())
      *same = std::move(v);
    else
      key->values.push_back(std::move(v));
  }
  return tree;
}

// ---- the file under its lock ---------------------------------------------

// Holds the registry's lock file for one operation; the in-process mutex
// keeps threads of this process apart, flock keeps processes apart.
class FileLock {
 public:
  FileLock(const std::string& path, bool exclusive) : guard_(mutex()) {
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) makeDirectories(path.substr(0, slash));
    fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) flock(fd_, exclusive ? LOCK_EX : LOCK_SH);
  }
  ~FileLock() {
    if (fd_ >= 0) {
      flock(fd_, LOCK_UN);
      ::close(fd_);
    }
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  std::lock_guard<std::mutex> guard_;
  int fd_ = -1;
};

Tree loadTree(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[8192];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return parse(text);
}

bool storeTree(const std::string& path, const Tree& tree) {
  std::string text = format(tree);
  return writeFileAtomically(path, text.data(), text.size());
}

// Runs `op` on the registry; a change (op returns true in `changed`) is
// written back before the lock is released.
template <class Op>
LONG withTree(bool write, Op op) {
  std::string path = registryFilePath();
  FileLock lock(path, write);
  Tree tree = loadTree(path);
  bool changed = false;
  LONG result = op(tree, changed);
  if (write && changed && !storeTree(path, tree)) return ERROR_WRITE_FAULT;
  return result;
}

bool keyExists(const Tree& tree, const std::string& lowerPath) {
  return isRootPath(lowerPath) || tree.count(lowerPath) != 0;
}

HKEY newHandle(const std::string& path) {
  std::lock_guard lock(handlesMutex);
  HKEY h = nextHandle++;
  openHandles[h] = path;
  return h;
}

Value* findValue(Key& key, const char* name) {
  std::string want = lower(name ? name : "");
  for (Value& v : key.values)
    if (lower(v.name) == want) return &v;
  return nullptr;
}

std::vector<std::string> directChildren(const Tree& tree, const std::string& lowerPath) {
  std::vector<std::string> names;
  std::string prefix = lowerPath + "\\";
  for (auto it = tree.lower_bound(prefix); it != tree.end(); ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    if (it->first.find('\\', prefix.size()) != std::string::npos) continue;
    names.push_back(it->second.path.substr(prefix.size()));
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return lower(a) < lower(b); });
  return names;
}

}  // namespace

std::string registryFilePath() {
  const char* env = std::getenv("LUMENMERE_REGISTRY");
  if (env && *env) return env;
  return joinPath(joinPath(userConfigDirectory(), product::kMaker), "registry.reg");
}

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, DWORD, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = 0;
  std::string base;
  if (!handlePath(key, base)) return ERROR_INVALID_HANDLE;
  std::string path = childPath(base, subKey);
  return withTree(false, [&](Tree& tree, bool&) {
    if (!keyExists(tree, lower(path))) return ERROR_FILE_NOT_FOUND;
    *result = newHandle(path);
    return ERROR_SUCCESS;
  });
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, HKEY* result, DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = 0;
  std::string base;
  if (!handlePath(key, base)) return ERROR_INVALID_HANDLE;
  std::string path = childPath(base, subKey);
  return withTree(true, [&](Tree& tree, bool& changed) {
    std::string lp = lower(path);
    bool existed = keyExists(tree, lp);
    if (!existed) {
      // Create the key and every missing parent below the root.
      for (std::string p = path; !p.empty() && !isRootPath(lower(p)); p = parentPath(p)) {
        Key& k = tree[lower(p)];
        if (k.path.empty()) k.path = p;
      }
      changed = true;
    } else if (auto it = tree.find(lp); it != tree.end()) {
      path = it->second.path;
    }
    if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = newHandle(path);
    return ERROR_SUCCESS;
  });
}

LONG RegCloseKey(HKEY key) {
  if (rootName(key)) return ERROR_SUCCESS;
  std::lock_guard lock(handlesMutex);
  return openHandles.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
  std::string path;
  if (!handlePath(key, path)) return ERROR_INVALID_HANDLE;
  if (data && !size) return ERROR_INVALID_PARAMETER;
  return withTree(false, [&](Tree& tree, bool&) {
    auto it = tree.find(lower(path));
    if (it == tree.end()) return ERROR_FILE_NOT_FOUND;
    Value* v = findValue(it->second, name);
    if (!v) return ERROR_FILE_NOT_FOUND;
    if (type) *type = v->type;
    DWORD need = static_cast<DWORD>(v->data.size());
    if (data) {
      if (*size < need) {
        *size = need;
        return ERROR_MORE_DATA;
      }
      std::copy(v->data.begin(), v->data.end(), data);
    }
    if (size) *size = need;
    return ERROR_SUCCESS;
  });
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  std::string path;
  if (!handlePath(key, path)) return ERROR_INVALID_HANDLE;
  if (!data && size) return ERROR_INVALID_PARAMETER;
  if (rootName(key)) return ERROR_ACCESS_DENIED;
  return withTree(true, [&](Tree& tree, bool& changed) {
    auto it = tree.find(lower(path));
    if (it == tree.end()) return ERROR_FILE_NOT_FOUND;
    Value v;
    v.name = name ? name : "";
    v.type = type;
    if (type == REG_SZ) {
      const char* s = reinterpret_cast<const char*>(data);
      size_t len = data ? strnlen(s, size) : 0;
      v.data.assign(data, data + len);
      v.data.push_back(0);
    } else if (data) {
      v.data.assign(data, data + size);
    }
    if (Value* old = findValue(it->second, name))
      *old = std::move(v);
    else
      it->second.values.push_back(std::move(v));
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteValueA(HKEY key, const char* name) {
  std::string path;
  if (!handlePath(key, path)) return ERROR_INVALID_HANDLE;
  return withTree(true, [&](Tree& tree, bool& changed) {
    auto it = tree.find(lower(path));
    if (it == tree.end()) return ERROR_FILE_NOT_FOUND;
    Value* v = findValue(it->second, name);
    if (!v) return ERROR_FILE_NOT_FOUND;
    it->second.values.erase(it->second.values.begin() + (v - it->second.values.data()));
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize) {
  std::string path;
  if (!handlePath(key, path)) return ERROR_INVALID_HANDLE;
  if (!name || !nameSize) return ERROR_INVALID_PARAMETER;
  return withTree(false, [&](Tree& tree, bool&) {
    std::vector<std::string> names = directChildren(tree, lower(path));
    if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
    const std::string& n = names[index];
    if (*nameSize < n.size() + 1) {
      *nameSize = static_cast<DWORD>(n.size() + 1);
      return ERROR_MORE_DATA;
    }
    std::memcpy(name, n.c_str(), n.size() + 1);
    *nameSize = static_cast<DWORD>(n.size());
    return ERROR_SUCCESS;
  });
}

static LONG deleteKey(HKEY key, const char* subKey, bool tree_) {
  std::string base;
  if (!handlePath(key, base)) return ERROR_INVALID_HANDLE;
  std::string path = childPath(base, subKey);
  return withTree(true, [&](Tree& tree, bool& changed) {
    std::string lp = lower(path);
    if (isRootPath(lp)) return ERROR_ACCESS_DENIED;
    if (!tree.count(lp)) return ERROR_FILE_NOT_FOUND;
    std::string prefix = lp + "\\";
    auto first = tree.lower_bound(prefix);
    bool hasChildren = first != tree.end() && first->first.compare(0, prefix.size(), prefix) == 0;
    if (hasChildren && !tree_) return ERROR_ACCESS_DENIED;
    while (first != tree.end() && first->first.compare(0, prefix.size(), prefix) == 0) first = tree.erase(first);
    tree.erase(lp);
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteKeyA(HKEY key, const char* subKey) { return deleteKey(key, subKey, false); }
LONG RegDeleteTreeA(HKEY key, const char* subKey) { return deleteKey(key, subKey, true); }

}  // namespace platform
