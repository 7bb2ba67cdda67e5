#include "platform/registry.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/product.h"

namespace platform {
namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool isRootPath(std::string_view lowerPath) {
  return lowerPath == "hkey_current_user" || lowerPath == "hkey_local_machine";
}

std::string_view parentPath(std::string_view path) {
  const size_t cut = path.rfind('\\');
  return cut == std::string_view::npos ? std::string_view() : path.substr(0, cut);
}

bool blank(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r'; });
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
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < data.size(); ++i) {
    if (i) out += (i % 24 == 0) ? ",\\\n  " : ",";
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
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

void appendValue(std::string& out, const RegistryValue& v) {
  if (v.name.empty())
    out += '@';
  else
    appendQuoted(out, v.name);
  out += '=';
  char buf[24];
  if (v.type == REG_SZ && printableString(v.data)) {
    appendQuoted(out, std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1));
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    std::snprintf(buf, sizeof buf, "dword:%08x", readLe32(v.data.data()));
    out += buf;
  } else {
    if (v.type == REG_BINARY) {
      out += "hex:";
    } else {
      std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
      out += buf;
    }
    appendHex(out, v.data);
  }
}

// Reads a quoted text at s[pos] (which is '"'); leaves pos after the quote.
bool parseQuoted(std::string_view s, size_t& pos, std::string& out) {
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

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parseHexBytes(std::string_view s, std::vector<BYTE>& out) {
  out.clear();
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ',' || std::isspace(static_cast<unsigned char>(s[i])))) ++i;
    if (i >= s.size()) break;
    if (i + 1 >= s.size()) return false;
    const int hi = hexDigit(s[i]), lo = hexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<BYTE>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

// A value line ("name"=data or @=data) with continuations already joined.
std::optional<RegistryValue> parseValueLine(std::string_view line) {
  RegistryValue v;
  size_t pos = 0;
  if (line[0] == '@') {
    pos = 1;
  } else if (!parseQuoted(line, pos, v.name)) {
    return std::nullopt;
  }
  if (pos >= line.size() || line[pos] != '=') return std::nullopt;
  ++pos;
  std::string_view rest = line.substr(pos);
  if (!rest.empty() && rest[0] == '"') {
    std::string s;
    size_t p = pos;
    if (!parseQuoted(line, p, s)) return std::nullopt;
    v.type = REG_SZ;
    v.data.assign(s.begin(), s.end());
    v.data.push_back(0);
  } else if (rest.substr(0, 6) == "dword:") {
    const DWORD d = static_cast<DWORD>(std::strtoul(std::string(rest.substr(6)).c_str(), nullptr, 16));
    v.type = REG_DWORD;
    v.data.assign(4, 0);
    writeLe32(v.data.data(), d);
  } else if (rest.substr(0, 4) == "hex:") {
    v.type = REG_BINARY;
    if (!parseHexBytes(rest.substr(4), v.data)) return std::nullopt;
  } else if (rest.substr(0, 4) == "hex(") {
    const size_t close = rest.find("):");
    if (close == std::string_view::npos) return std::nullopt;
    v.type = static_cast<DWORD>(std::strtoul(std::string(rest.substr(4, close - 4)).c_str(), nullptr, 16));
    if (!parseHexBytes(rest.substr(close + 2), v.data)) return std::nullopt;
  } else {
    return std::nullopt;
  }
  return v;
}

// Hex data written over several lines: a value line whose data is hex and
// that ends in '\'.
bool continuesOnNextLine(std::string_view line) {
  if (line.empty() || line.back() != '\\') return false;
  size_t pos = 0;
  std::string name;
  if (line[0] == '@') {
    pos = 1;
  } else if (!parseQuoted(line, pos, name)) {
    return false;
  }
  return line.substr(pos, 4) == "=hex";
}

}  // namespace

// ---- the document --------------------------------------------------------
//
// The text is kept as sections in file order: the lines before the first
// key, then each key header with the lines below it.  A line is either kept
// verbatim (blank lines, comments, anything not understood) or stands for a
// value; a value nobody changed is written back as its original text.

struct RegistryDocument::Impl {
  struct Value {
    RegistryValue v;
    std::string raw;  // the original text; empty once changed
    bool dead = false;
    bool shadowed = false;  // a later line of the same name wins
  };
  struct Line {
    std::string raw;  // when value is null
    Value* value = nullptr;
  };
  struct Section {
    std::string header;    // raw header line; "" before the first key
    std::string keyLower;  // "" when the header names no key
    bool fresh = false;    // made here: formatted, set off by a blank line
    bool dead = false;
    std::vector<Line> lines;
  };
  using SectionIt = std::list<Section>::iterator;
  struct Key {
    std::string path;  // as first written
    std::unordered_map<std::string, Value*> index;
    std::vector<SectionIt> sections;           // where its lines are; new values go to the first
    std::unordered_set<std::string> shadowed;  // lower names given more than once
  };

  std::list<Section> sections;
  std::deque<Value> values;  // stable addresses for the lines and indexes
  std::map<std::string, Key> keys;

  Impl() = default;

  explicit Impl(std::string_view text) {
    sections.emplace_back();  // the lines before the first key
    SectionIt current = sections.begin();
    Key* key = nullptr;

    size_t start = 0;
    while (start < text.size()) {
      // One logical line: hex data may go on over lines ending in '\'.
      size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view physical = text.substr(start, end - start);
      std::string_view stripped = physical;
      if (!stripped.empty() && stripped.back() == '\r') stripped.remove_suffix(1);
      const size_t rawStart = start;
      size_t rawEnd = end;
      std::string joined;
      bool cont = continuesOnNextLine(stripped);
      if (cont) {
        joined.assign(stripped.substr(0, stripped.size() - 1));
        while (cont && rawEnd < text.size()) {
          const size_t nextStart = rawEnd + 1;
          size_t nextEnd = text.find('\n', nextStart);
          if (nextEnd == std::string_view::npos) nextEnd = text.size();
          if (nextStart >= text.size()) break;
          std::string_view next = text.substr(nextStart, nextEnd - nextStart);
          if (!next.empty() && next.back() == '\r') next.remove_suffix(1);
          const size_t first = next.find_first_not_of(" \t");
          next = first == std::string_view::npos ? std::string_view() : next.substr(first);
          cont = !next.empty() && next.back() == '\\';
          if (cont) next.remove_suffix(1);
          joined += next;
          rawEnd = nextEnd;
        }
        stripped = joined;
      }
      const std::string_view raw = text.substr(rawStart, rawEnd - rawStart);
      start = rawEnd + 1;

      if (!stripped.empty() && stripped[0] == '[') {
        const size_t close = stripped.rfind(']');
        sections.emplace_back();
        current = std::prev(sections.end());
        current->header.assign(raw);
        key = nullptr;
        if (close == std::string_view::npos || close < 2 || stripped[1] == '-') continue;
        const std::string_view path = stripped.substr(1, close - 1);
        current->keyLower = lower(path);
        Key& k = keys[current->keyLower];
        if (k.path.empty()) k.path.assign(path);
        k.sections.push_back(current);
        key = &k;
        continue;
      }
      std::optional<RegistryValue> parsed;
      if (key && !stripped.empty() && stripped[0] != ';') parsed = parseValueLine(stripped);
      if (!parsed) {
        current->lines.push_back(Line{std::string(raw), nullptr});
        continue;
      }
      Value& v = values.emplace_back();
      v.v = std::move(*parsed);
      v.raw.assign(raw);
      Value*& slot = key->index[lower(v.v.name)];
      if (slot) {
        slot->shadowed = true;
        key->shadowed.insert(lower(v.v.name));
      }
      slot = &v;
      current->lines.push_back(Line{std::string(), &v});
    }
  }

  Key* findKey(std::string_view path) {
    auto it = keys.find(lower(path));
    return it == keys.end() ? nullptr : &it->second;
  }
  const Key* findKey(std::string_view path) const {
    auto it = keys.find(lower(path));
    return it == keys.end() ? nullptr : &it->second;
  }

  // A new key's section goes after the key that sorts just before it, so
  // that a sorted file stays sorted and a new sub-key stands below its
  // parent.
  void addKey(const std::string& path) {
    const std::string lp = lower(path);
    auto previous = keys.lower_bound(lp);
    SectionIt at = sections.end();
    if (previous != keys.begin()) {
      at = std::next(std::prev(previous)->second.sections.back());
    } else if (!keys.empty()) {
      at = keys.begin()->second.sections.front();
    }
    Section s;
    s.header = "[" + path + "]";
    s.keyLower = lp;
    s.fresh = true;
    SectionIt it = sections.insert(at, std::move(s));
    Key& k = keys[lp];
    k.path = path;
    k.sections.push_back(it);
  }

  // Drops the lines of a value that was set again or deleted, and every
  // earlier line of the same name.
  void retire(Key& key, const std::string& lowerName) {
    auto it = key.index.find(lowerName);
    if (it != key.index.end()) {
      it->second->dead = true;
      key.index.erase(it);
    }
    if (!key.shadowed.erase(lowerName)) return;
    for (SectionIt s : key.sections)
      for (Line& line : s->lines)
        if (line.value && line.value->shadowed && !line.value->dead && lower(line.value->v.name) == lowerName)
          line.value->dead = true;
  }

  void set(Key& key, RegistryValue v) {
    const std::string ln = lower(v.name);
    auto it = key.index.find(ln);
    if (it != key.index.end() && !key.shadowed.count(ln)) {
      // Changed in place: the line keeps its position.
      it->second->v = std::move(v);
      it->second->raw.clear();
      return;
    }
    retire(key, ln);
    Value& fresh = values.emplace_back();
    fresh.v = std::move(v);
    key.index[ln] = &fresh;
    // After the key's last line that is not blank.
    std::vector<Line>& lines = key.sections.front()->lines;
    size_t at = lines.size();
    while (at > 0 && !lines[at - 1].value && blank(lines[at - 1].raw)) --at;
    lines.insert(lines.begin() + static_cast<ptrdiff_t>(at), Line{std::string(), &fresh});
  }

  static bool endsOpen(const std::string& out) {
    size_t n = out.size();
    if (n > 0 && out[n - 1] == '\n') --n;
    if (n > 0 && out[n - 1] == '\r') --n;
    return n > 0 && out[n - 1] == '\\';
  }

  std::string text() const {
    std::string out;
    bool separate = false;
    auto ensureBlankLine = [&out] {
      if (out.empty()) return;
      if (out.size() < 2 || out.compare(out.size() - 2, 2, "\n\n") != 0) out += '\n';
    };
    for (const Section& s : sections) {
      if (s.dead) continue;
      if (!s.header.empty()) {
        if (s.fresh || separate) ensureBlankLine();
        separate = s.fresh;
        out += s.header;
        out += '\n';
      }
      for (const Line& line : s.lines) {
        if (!line.value) {
          out += line.raw;
        } else if (line.value->dead) {
          continue;
        } else if (!line.value->raw.empty()) {
          out += line.value->raw;
        } else {
          // A line left open by a '\' at its end would take this one in.
          if (endsOpen(out)) out += '\n';
          appendValue(out, line.value->v);
        }
        out += '\n';
      }
    }
    return out;
  }
};

RegistryDocument::RegistryDocument() : impl_(std::make_unique<Impl>()) {
  impl_->sections.emplace_back();
  impl_->sections.front().lines.push_back(Impl::Line{"REGEDIT4", nullptr});
}

RegistryDocument::RegistryDocument(std::string_view text)
    : impl_(text.empty() ? std::make_unique<Impl>() : std::make_unique<Impl>(text)) {
  if (text.empty()) {
    impl_->sections.emplace_back();
    impl_->sections.front().lines.push_back(Impl::Line{"REGEDIT4", nullptr});
  }
}

RegistryDocument::~RegistryDocument() = default;
RegistryDocument::RegistryDocument(RegistryDocument&&) noexcept = default;
RegistryDocument& RegistryDocument::operator=(RegistryDocument&&) noexcept = default;

std::string RegistryDocument::text() const { return impl_->text(); }

bool RegistryDocument::hasKey(std::string_view path) const {
  return isRootPath(lower(path)) || impl_->findKey(path) != nullptr;
}

std::optional<std::string> RegistryDocument::keyPath(std::string_view path) const {
  if (const Impl::Key* k = impl_->findKey(path)) return k->path;
  if (isRootPath(lower(path))) return std::string(path);
  return std::nullopt;
}

bool RegistryDocument::createKey(std::string_view path) {
  if (hasKey(path)) return false;
  // The key and every missing parent below the root, parents first.
  std::vector<std::string_view> missing;
  for (std::string_view p = path; !p.empty() && !hasKey(p); p = parentPath(p)) missing.push_back(p);
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) impl_->addKey(std::string(*it));
  return true;
}

bool RegistryDocument::hasSubKeys(std::string_view path) const {
  const std::string prefix = lower(path) + "\\";
  auto first = impl_->keys.lower_bound(prefix);
  return first != impl_->keys.end() && first->first.compare(0, prefix.size(), prefix) == 0;
}

bool RegistryDocument::deleteKey(std::string_view path, bool withSubKeys) {
  const std::string lp = lower(path);
  if (isRootPath(lp)) return false;
  auto self = impl_->keys.find(lp);
  if (self == impl_->keys.end()) return false;
  if (!withSubKeys && hasSubKeys(path)) return false;
  auto drop = [this](std::map<std::string, Impl::Key>::iterator it) {
    for (Impl::SectionIt s : it->second.sections) s->dead = true;
    return impl_->keys.erase(it);
  };
  const std::string prefix = lp + "\\";
  for (auto it = impl_->keys.lower_bound(prefix);
       it != impl_->keys.end() && it->first.compare(0, prefix.size(), prefix) == 0;)
    it = drop(it);
  drop(impl_->keys.find(lp));
  return true;
}

std::vector<std::string> RegistryDocument::subKeys(std::string_view path) const {
  std::vector<std::string> names;
  const std::string prefix = lower(path) + "\\";
  for (auto it = impl_->keys.lower_bound(prefix); it != impl_->keys.end(); ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    if (it->first.find('\\', prefix.size()) != std::string::npos) continue;
    names.push_back(it->second.path.substr(prefix.size()));
  }
  // The map is already in lower-case order.
  return names;
}

const RegistryValue* RegistryDocument::value(std::string_view path, std::string_view name) const {
  const Impl::Key* k = impl_->findKey(path);
  if (!k) return nullptr;
  auto it = k->index.find(lower(name));
  return it == k->index.end() ? nullptr : &it->second->v;
}

bool RegistryDocument::setValue(std::string_view path, RegistryValue v) {
  Impl::Key* k = impl_->findKey(path);
  if (!k) return false;
  impl_->set(*k, std::move(v));
  return true;
}

bool RegistryDocument::deleteValue(std::string_view path, std::string_view name) {
  Impl::Key* k = impl_->findKey(path);
  if (!k) return false;
  const std::string ln = lower(name);
  if (!k->index.count(ln)) return false;
  impl_->retire(*k, ln);
  return true;
}

// ---- the file under its lock ---------------------------------------------

namespace {

std::atomic<uint64_t> parses{0};

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

HKEY newHandle(const std::string& path) {
  std::lock_guard lock(handlesMutex);
  HKEY h = nextHandle++;
  openHandles[h] = path;
  return h;
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

// Holds the registry's lock file for one operation; the in-process mutex
// keeps threads of this process apart (and guards the parsed copy), flock
// keeps processes apart.
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

// What tells one state of the file from the next: a write renames a new
// file into place, so its inode, size and times change.
struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  struct timespec modified {};
  struct timespec changed {};

  static FileStamp of(const struct stat& st) {
    return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
  }
  bool operator==(const FileStamp& o) const {
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && changed.tv_sec == o.changed.tv_sec &&
           changed.tv_nsec == o.changed.tv_nsec;
  }
};

enum class FileState { missing, readable, unreadable };

// The parsed file, kept between calls while the file stays the same.
struct Cache {
  std::string path;
  bool valid = false;
  FileStamp stamp;
  RegistryDocument document;
  FileState state = FileState::missing;
  std::string problem;  // why the file could not be read
};

Cache& cache() {
  static Cache c;
  return c;
}

// Brings the cache up to the file's current state.
void refresh(Cache& c, const std::string& path) {
  if (c.path != path) {
    c.valid = false;
    c.path = path;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    c.valid = false;
    c.document = RegistryDocument();
    if (error == ENOENT) {
      c.state = FileState::missing;
    } else {
      c.state = FileState::unreadable;
      c.problem = std::strerror(error);
    }
    return;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    c.valid = false;
    c.document = RegistryDocument();
    c.state = FileState::unreadable;
    c.problem = "not a regular file";
    return;
  }
  const FileStamp stamp = FileStamp::of(st);
  if (c.valid && c.stamp == stamp) {
    ::close(fd);
    return;
  }
  std::string text;
  text.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  int error = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  if (error != 0 || got != text.size()) {
    // A file read only in part must never be written back from that part.
    c.valid = false;
    c.document = RegistryDocument();
    c.state = FileState::unreadable;
    c.problem = error ? std::strerror(error) : "the read was cut short";
    return;
  }
  c.document = RegistryDocument(text);
  ++parses;
  c.stamp = stamp;
  c.valid = true;
  c.state = FileState::readable;
}

std::atomic<bool> refusalReported{false};

void reportRefusal(const Cache& c) {
  if (refusalReported.exchange(true)) return;
  std::fprintf(stderr, "%s: the registry file %s cannot be read (%s); it is left as it is and nothing is saved to it\n",
               program_invocation_short_name, c.path.c_str(), c.problem.c_str());
}

// Runs `op` on the registry; a change (op sets `changed`) is written back
// before the lock is released.  A file that exists but can't be read is
// never replaced.
template <class Op>
LONG withDocument(bool write, Op op) {
  const std::string path = registryFilePath();
  FileLock lock(path, write);
  Cache& c = cache();
  refresh(c, path);
  if (write && c.state == FileState::unreadable) {
    reportRefusal(c);
    return ERROR_ACCESS_DENIED;
  }
  bool changed = false;
  const LONG result = op(c.document, changed);
  if (write && changed) {
    const std::string text = c.document.text();
    struct stat st {};
    if (!writeFileAtomically(path, text.data(), text.size()) || stat(path.c_str(), &st) != 0) {
      c.valid = false;  // the copy in memory is not what the file holds
      return ERROR_WRITE_FAULT;
    }
    c.stamp = FileStamp::of(st);
    c.valid = true;
    c.state = FileState::readable;
  }
  return result;
}

// A line break in a name would end its line in the file.
bool storableName(const char* name) { return !name || !std::strpbrk(name, "\r\n"); }

LONG deleteKey(HKEY key, const char* subKey, bool withSubKeys) {
  std::string base;
  if (!handlePath(key, base)) return ERROR_INVALID_HANDLE;
  const std::string path = childPath(base, subKey);
  return withDocument(true, [&](RegistryDocument& doc, bool& changed) {
    if (isRootPath(lower(path))) return ERROR_ACCESS_DENIED;
    if (!doc.hasKey(path)) return ERROR_FILE_NOT_FOUND;
    if (!withSubKeys && doc.hasSubKeys(path)) return ERROR_ACCESS_DENIED;
    changed = doc.deleteKey(path, withSubKeys);
    return ERROR_SUCCESS;
  });
}

}  // namespace

uint64_t registryParseCount() { return parses.load(); }

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
  const std::string path = childPath(base, subKey);
  return withDocument(false, [&](RegistryDocument& doc, bool&) {
    if (!doc.hasKey(path)) return ERROR_FILE_NOT_FOUND;
    *result = newHandle(path);
    return ERROR_SUCCESS;
  });
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, HKEY* result, DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = 0;
  std::string base;
  if (!handlePath(key, base)) return ERROR_INVALID_HANDLE;
  if (!storableName(subKey)) return ERROR_INVALID_PARAMETER;
  std::string path = childPath(base, subKey);
  return withDocument(true, [&](RegistryDocument& doc, bool& changed) {
    const bool existed = doc.hasKey(path);
    if (existed) {
      path = doc.keyPath(path).value_or(path);
    } else {
      changed = doc.createKey(path);
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
  return withDocument(false, [&](RegistryDocument& doc, bool&) {
    const RegistryValue* v = doc.value(path, name ? name : "");
    if (!v) return ERROR_FILE_NOT_FOUND;
    if (type) *type = v->type;
    const DWORD need = static_cast<DWORD>(v->data.size());
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
  if (!storableName(name)) return ERROR_INVALID_PARAMETER;
  if (rootName(key)) return ERROR_ACCESS_DENIED;
  RegistryValue v;
  v.name = name ? name : "";
  v.type = type;
  if (type == REG_SZ) {
    const char* s = reinterpret_cast<const char*>(data);
    const size_t len = data ? strnlen(s, size) : 0;
    v.data.assign(data, data + len);
    v.data.push_back(0);
  } else if (data) {
    v.data.assign(data, data + size);
  }
  return withDocument(true, [&](RegistryDocument& doc, bool& changed) {
    if (!doc.hasKey(path) || isRootPath(lower(path))) return ERROR_FILE_NOT_FOUND;
    changed = doc.setValue(path, std::move(v));
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteValueA(HKEY key, const char* name) {
  std::string path;
  if (!handlePath(key, path)) return ERROR_INVALID_HANDLE;
  return withDocument(true, [&](RegistryDocument& doc, bool& changed) {
    if (!doc.value(path, name ? name : "")) return ERROR_FILE_NOT_FOUND;
    changed = doc.deleteValue(path, name ? name : "");
    return ERROR_SUCCESS;
  });
}

LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize) {
  std::string path;
  if (!handlePath(key, path)) return ERROR_INVALID_HANDLE;
  if (!name || !nameSize) return ERROR_INVALID_PARAMETER;
  return withDocument(false, [&](RegistryDocument& doc, bool&) {
    const std::vector<std::string> names = doc.subKeys(path);
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

LONG RegDeleteKeyA(HKEY key, const char* subKey) { return deleteKey(key, subKey, false); }
LONG RegDeleteTreeA(HKEY key, const char* subKey) { return deleteKey(key, subKey, true); }

}  // namespace platform
