// Any bytes as a container file: the signature search, the directory, every
// member read (readRange, load, the pack-backed streams, extractMember) and
// tree extraction into a fresh directory.
//
// The work area is one temporary directory per process:
//   base/in.pck        the input
//   base/member.out    extractMember's target
//   base/sandbox/out/  extractTree's target, made anew for every input
// After extraction base and base/sandbox must hold nothing new: a name that
// led outside the target would show there.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "pack/pack.h"
#include "pack/packstream.h"

namespace fs = std::filesystem;

namespace {

// Inputs larger than this are skipped: nothing in the format needs more to
// be reached, and a directory of many entries over the same bytes would
// otherwise write hundreds of megabytes per run.
constexpr size_t kMaxInput = 256 * 1024;
// Extraction writes every member once; keep it quick.
constexpr size_t kMaxExtractInput = 64 * 1024;
// Members read whole; further ones are only sampled.
constexpr size_t kWholeReads = 64;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz_pack: %s\n", what);
  std::abort();
}

// Extraction makes and removes directories for every input: memory-backed
// /dev/shm runs it about twice as fast as a disk.  (A run that crashes
// leaves its directory behind there: lm-fuzz-pack.*.)
const char* temporaryRoot() {
  if (const char* own = std::getenv("LM_FUZZ_TMPDIR"); own && *own) return own;
  if (access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
  if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp) return tmp;
  return "/tmp";
}

struct WorkArea {
  std::string base, input, member, sandbox, out;

  WorkArea() {
    std::string pattern = std::string(temporaryRoot()) + "/lm-fuzz-pack.XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) fail("mkdtemp failed");
    std::error_code ec;
    base = fs::canonical(buf.data(), ec).string();
    if (ec) fail("canonical failed");
    input = base + "/in.pck";
    member = base + "/member.out";
    sandbox = base + "/sandbox";
    out = sandbox + "/out";
    if (mkdir(sandbox.c_str(), 0755) != 0) fail("mkdir sandbox failed");
  }
  ~WorkArea() {
    std::error_code ec;
    fs::remove_all(base, ec);
  }
};

WorkArea& area() {
  static WorkArea a;
  return a;
}

std::set<std::string> namesIn(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) names.insert(e.path().filename().string());
  return names;
}

bool writeInput(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

bool plainName(const char* name) {
  if (!*name) return false;
  for (const char* p = name; *p; ++p)
    if (*p == '/' || *p == '\\') return false;
  return true;
}

void checkReads(const Pack& pack) {
  const auto& entries = pack.entries();
  std::vector<uint8_t> buffer(4096);
  for (size_t i = 0; i < entries.size(); ++i) {
    const PackEntry& e = entries[i];
    const int index = static_cast<int>(i);
    if (i >= kWholeReads) {
      // Sampled: a short read from the start only.
      const size_t n = pack.readRange(index, buffer.data(), 64, 0);
      if (n > 64 || n > e.length) fail("sampled read longer than asked");
      continue;
    }
    const std::string whole = pack.readRange(index);
    if (whole.size() > e.length || whole.size() > pack.fileSize()) fail("member read longer than the member");
    // The NUL a fresh read keeps after the data.
    if (whole.c_str()[whole.size()] != '\0') fail("no NUL after a fresh read");

    // Partial reads agree with the whole one.
    const size_t starts[] = {0, 1, 10, whole.size() / 2, whole.size(), size_t(e.length), size_t(e.length) + 1};
    const size_t maxes[] = {0, 1, 7, 4096};
    for (size_t start : starts) {
      for (size_t max : maxes) {
        const std::string expected =
            start >= whole.size() ? std::string() : whole.substr(start, max ? max : std::string::npos);
        if (pack.readRange(index, start, max) != expected) fail("fresh partial read differs from the whole");
        if (max) {
          const size_t n = pack.readRange(index, buffer.data(), max, start);
          if (std::string(reinterpret_cast<const char*>(buffer.data()), n) != expected)
            fail("buffer read differs from the whole");
        }
      }
    }

    // Only names the container holds are loaded: anything else would go to
    // the disk.
    if (!plainName(e.name)) continue;
    const int found = pack.findEntry(e.name, true);
    if (found < 0) fail("an entry's own name is not found");
    std::string loaded;
    if (pack.load(e.name, loaded) != kPackLoadFromPack) fail("load of a held name not from the pack");
    if (loaded != pack.readRange(found)) fail("load differs from readRange");
    size_t length = 0;
    if (pack.load(e.name, buffer.data(), buffer.size(), length, 3) != kPackLoadFromPack)
      fail("buffer load not from the pack");
    const std::string first = pack.readRange(found, 3, buffer.size());
    if (std::string(reinterpret_cast<const char*>(buffer.data()), length) != first) fail("buffer load differs");

    // Pack-backed streams over files.
    uint32_t memberLength = 0;
    const int m = pack.findMember(e.name, &memberLength);
    if (m >= 0) {
      PackStream* s = PackStream::open(e.name, "rb", &pack);
      if (!s || s->source() != PackStream::kMember) fail("stream over a held member not from the pack");
      const std::string all = pack.readRange(m);
      std::string streamed;
      size_t n;
      while ((n = s->read(buffer.data(), 1, 1000)) > 0)
        streamed.append(reinterpret_cast<const char*>(buffer.data()), n);
      if (streamed != all) fail("stream read differs from readRange");
      if (s->seek(-1, SEEK_SET) == 0) fail("seek before the start accepted");
      if (s->seek(-5, SEEK_END) == 0 && memberLength >= 5) {
        n = s->read(buffer.data(), 1, 100);
        if (n > 5) fail("read past the member's end");
      }
      s->seek(1 << 30, SEEK_CUR);
      if (s->read(buffer.data(), 1, 100) != 0 && memberLength < (1u << 30)) fail("read beyond the end delivered bytes");
      PackStream::close(s);
    }

    // The installer's single-member copy, for the first few.
    if (i < 4) {
      pack.extractMember(e.name, area().member);
      struct stat st {};
      if (stat(area().member.c_str(), &st) == 0) {
        const int at = pack.findEntry(e.name, false);
        if (at < 0 || uint64_t(st.st_size) != entries[size_t(at)].length) fail("extractMember left a partial file");
        std::string copied(static_cast<size_t>(st.st_size), '\0');
        if (std::FILE* f = std::fopen(area().member.c_str(), "rb")) {
          copied.resize(std::fread(copied.data(), 1, copied.size(), f));
          std::fclose(f);
        }
        if (copied != pack.readRange(at)) fail("extractMember copied other bytes");
        std::remove(area().member.c_str());
      }
    }
  }
  // Indices out of range read nothing.
  if (!pack.readRange(-1).empty() || !pack.readRange(static_cast<int>(entries.size())).empty())
    fail("read of a missing index");
}

using Members = std::map<std::string, std::set<std::string>>;

// The extracted tree is walked relative to directory handles, as extraction
// writes it: its paths may be longer than any path the system accepts.
template <class Visit>
void forEachIn(int dirFd, Visit visit) {
  const int fd = dup(dirFd);
  DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (!dir) fail("can't list an extracted directory");
  rewinddir(dir);  // the duplicate shares the position of an earlier listing
  std::vector<std::string> names;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  for (const std::string& name : names) {
    struct stat st {};
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) fail("can't stat an extracted item");
    visit(name, st);
  }
}

void inspectTree(int dirFd, const Members& members, uint64_t containerSize, uint64_t& onDisk) {
  forEachIn(dirFd, [&](const std::string& name, const struct stat& st) {
    if (S_ISDIR(st.st_mode)) {
      const int sub = openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) fail("can't open an extracted directory");
      inspectTree(sub, members, containerSize, onDisk);
      close(sub);
      return;
    }
    if (!S_ISREG(st.st_mode)) fail("extraction made something other than a file or directory");
    const uint64_t n = static_cast<uint64_t>(st.st_size);
    if (n > containerSize) fail("extracted file larger than the container");
    onDisk += n;
    std::string bytes(n, '\0');
    const int fd = openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || pread(fd, bytes.data(), n, 0) != static_cast<ssize_t>(n)) fail("can't read an extracted file");
    close(fd);
    const auto m = members.find(name);
    if (m == members.end() || !m->second.count(bytes)) fail("extracted file differs from every member of its name");
  });
}

void removeBelow(int dirFd) {
  forEachIn(dirFd, [dirFd](const std::string& name, const struct stat& st) {
    if (S_ISDIR(st.st_mode)) {
      const int sub = openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) fail("can't open an extracted directory");
      removeBelow(sub);
      close(sub);
    }
    if (unlinkat(dirFd, name.c_str(), S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) != 0) fail("cleanup failed");
  });
}

void checkExtraction(const Pack& pack) {
  WorkArea& a = area();
  const std::set<std::string> baseBefore = namesIn(a.base);
  if (mkdir(a.out.c_str(), 0755) != 0) fail("mkdir out failed");

  std::vector<std::string> lines;
  packHooks().log = [&lines](std::string_view line) { lines.emplace_back(line); };
  packHooks().progress = [](double f) {
    if (!std::isfinite(f) || f < 0) fail("bad progress fraction");
  };
  const uint64_t written = pack.extractTree(a.out);
  packHooks().log = nullptr;
  packHooks().progress = nullptr;

  if (namesIn(a.base) != baseBefore) fail("extraction wrote beside the sandbox");
  if (namesIn(a.sandbox) != std::set<std::string>{"out"}) fail("extraction wrote beside its target");
  const std::string prefix = a.out + "/";
  for (const std::string& line : lines) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) fail("log line without a prefix");
    const std::string head = line.substr(0, colon + 1);
    if (head != "Makedir:" && head != "Copyfile:") fail("unknown log line");
    const std::string path = line.substr(colon + 1);
    if (path.compare(0, prefix.size(), prefix) != 0) fail("logged path outside the target");
    if (path.find("/../") != std::string::npos || path.find("/./") != std::string::npos) fail("logged path with dots");
  }
  // Everything below the target is a directory or a regular file holding
  // the bytes of an entry of its name.
  Members members;
  for (size_t i = 0; i < pack.entries().size(); ++i)
    if (pack.entries()[i].kind != packformat::kKindDirectory)  // any other kind is copied as a file
      members[pack.entries()[i].name].insert(pack.readRange(static_cast<int>(i)));
  const int outFd = open(a.out.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (outFd < 0) fail("can't open the target");
  uint64_t onDisk = 0;
  inspectTree(outFd, members, pack.fileSize(), onDisk);
  if (onDisk > written) fail("more bytes on disk than extraction reported");
  removeBelow(outFd);
  close(outFd);
  if (rmdir(a.out.c_str()) != 0) fail("target not empty after cleanup");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  WorkArea& a = area();
  if (!writeInput(a.input, data, size)) fail("could not write the input");

  Pack pack;
  const int count = pack.open(a.input);
  if (count < 0 || static_cast<size_t>(count) != pack.entries().size()) fail("count differs from the entries");
  if (count == 0) {
    if (pack.isOpen()) fail("open with no entries");
    return 0;
  }
  if (pack.fileSize() != size) fail("file size differs");
  if (pack.signatureOffset() + packformat::kHeaderSize > size) fail("header beyond the end");
  if (static_cast<uint32_t>(count) > pack.declaredCount()) fail("more entries than declared");
  for (const PackEntry& e : pack.entries())
    if (std::char_traits<char>::length(e.name) > packformat::kMaxNameLength) fail("name not terminated");

  checkReads(pack);
  if (size <= kMaxExtractInput) checkExtraction(pack);
  return 0;
}
