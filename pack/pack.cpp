#include "pack/pack.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/files.h"

namespace packformat {

// The six words are kept apart and masked so that the program file never
// holds the signature as one run; the mask goes through a volatile so that
// the compiler can't fold the words back into a constant.
namespace {
volatile uint32_t gSignatureMask = 0x5A3C96E1u;
}

void signatureBytes(uint8_t out[kSignatureSize]) {
  const uint32_t mask = gSignatureMask;
  uint32_t w = 0x15678ADCu ^ 0x5A3C96E1u;
  writeLe32(out + 0, w ^ mask);
  w = 0x22567855u ^ 0x5A3C96E1u;
  writeLe32(out + 4, w ^ mask);
  w = 0xF3356DAAu ^ 0x5A3C96E1u;
  writeLe32(out + 8, w ^ mask);
  w = 0xEEA23459u ^ 0x5A3C96E1u;
  writeLe32(out + 12, w ^ mask);
  w = 0x41453B0Cu ^ 0x5A3C96E1u;
  writeLe32(out + 16, w ^ mask);
  w = 0x166CA81Au ^ 0x5A3C96E1u;
  writeLe32(out + 20, w ^ mask);
}

}  // namespace packformat

using namespace packformat;

namespace {

bool sameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// pread until `size` bytes or the end of the file.
size_t preadFully(int fd, void* buffer, size_t size, uint64_t offset) {
  size_t done = 0;
  auto* out = static_cast<uint8_t*>(buffer);
  while (done < size) {
    ssize_t n = pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace

// ---------------------------------------------------------------------------
// Entries

void PackEntry::setName(std::string_view text) {
  if (text.size() > kMaxNameLength) text = text.substr(text.size() - kMaxNameLength);
  std::memset(name, 0, sizeof name);
  std::memcpy(name, text.data(), text.size());
}

void PackEntry::encode(uint8_t out[kEntrySize]) const {
  std::memset(out, 0, kEntrySize);
  std::memcpy(out, name, strnlen(name, kMaxNameLength));
  writeLe32(out + 64, checksum);
  writeLe32(out + 68, kind);
  writeLe32(out + 72, offset);
  writeLe32(out + 76, length);
  writeLe32(out + 80, nextSibling);
  writeLe32(out + 84, previousSibling);
  writeLe32(out + 88, parent);
  writeLe32(out + 92, firstChild);
}

PackEntry PackEntry::decode(const uint8_t in[kEntrySize]) {
  PackEntry e;
  // A name without its NUL is cut at 63 characters so that it always ends.
  std::memcpy(e.name, in, kMaxNameLength);
  e.name[kMaxNameLength] = '\0';
  e.checksum = readLe32(in + 64);
  e.kind = readLe32(in + 68);
  e.offset = readLe32(in + 72);
  e.length = readLe32(in + 76);
  e.nextSibling = readLe32(in + 80);
  e.previousSibling = readLe32(in + 84);
  e.parent = readLe32(in + 88);
  e.firstChild = readLe32(in + 92);
  return e;
}

// ---------------------------------------------------------------------------
// Process-wide slots

PackFallbackLoader& packFallbackLoader() {
  static PackFallbackLoader slot;
  return slot;
}

PackHooks& packHooks() {
  static PackHooks hooks;
  return hooks;
}

namespace {
std::atomic<Pack*> gPublished{nullptr};
}

Pack& processPack() {
  static Pack builtin;
  Pack* p = gPublished.load(std::memory_order_acquire);
  return p ? *p : builtin;
}

void publishProcessPack(Pack* pack) { gPublished.store(pack, std::memory_order_release); }

int openStartupPack(Pack& pack) {
  int n = pack.open(std::string());
  if (n == 0) n = pack.open("pack.dat");
  return n;
}

// ---------------------------------------------------------------------------
// Reader

Pack::Pack() = default;

Pack::~Pack() { close(); }

void Pack::close() {
  if (file_ >= 0) ::close(file_);
  file_ = -1;
  path_.clear();
  entries_.clear();
  start_ = fileSize_ = dataOffset_ = 0;
  total_ = declaredCount_ = reserved24_ = reserved36_ = reserved40_ = 0;
}

int Pack::open(const std::string& pathIn) {
  const std::string path = pathIn.empty() ? platform::programPath() : pathIn;
  if (path.empty()) return 0;
  const int fd = platform::openRegularFile(path);
  if (fd < 0) return 0;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    ::close(fd);
    return 0;
  }

  uint8_t signature[kSignatureSize];
  signatureBytes(signature);

  // Search windows of 1 MiB + 24 bytes; each later window starts with the
  // last 24 bytes of the one before, so a signature that straddles two reads
  // is still seen whole.  The first position wins.
  std::vector<uint8_t> window(kWindow + kSignatureSize);
  bool found = false;
  uint64_t sigOffset = 0;
  uint64_t windowStart = 0;  // file offset of window[0]
  size_t have = preadFully(fd, window.data(), window.size(), 0);
  bool more = have == window.size();
  for (;;) {
    if (have >= kSignatureSize) {
      const uint8_t* base = window.data();
      const uint8_t* p = base;
      const uint8_t* last = base + (have - kSignatureSize);
      while (p <= last) {
        p = static_cast<const uint8_t*>(std::memchr(p, signature[0], static_cast<size_t>(last - p) + 1));
        if (!p) break;
        if (std::memcmp(p, signature, kSignatureSize) == 0) {
          found = true;
          sigOffset = windowStart + static_cast<uint64_t>(p - base);
          break;
        }
        ++p;
      }
    }
    if (found || !more) break;
    std::memmove(window.data(), window.data() + have - kSignatureSize, kSignatureSize);
    windowStart += have - kSignatureSize;
    size_t got = preadFully(fd, window.data() + kSignatureSize, kWindow, windowStart + kSignatureSize);
    have = kSignatureSize + got;
    more = got == kWindow;
  }
  if (!found) {
    ::close(fd);
    return 0;
  }

  // The header and the directory come from one read of up to 1 MiB.
  std::vector<uint8_t> head(kWindow);
  size_t got = preadFully(fd, head.data(), head.size(), sigOffset);
  if (got < kHeaderSize) {
    ::close(fd);
    return 0;
  }
  const uint32_t declared = readLe32(head.data() + 32);
  // A count that reaches past what was read (past the end of the file or
  // past the 1 MiB the directory may take) keeps only the whole entries that
  // are there.
  const uint64_t present = (got - kHeaderSize) / kEntrySize;
  const size_t count = static_cast<size_t>(std::min<uint64_t>(declared, present));
  if (count == 0) {
    ::close(fd);
    return 0;
  }

  close();
  file_ = fd;
  path_ = path;
  fileSize_ = static_cast<uint64_t>(st.st_size);
  start_ = sigOffset;
  reserved24_ = readLe32(head.data() + 24);
  total_ = readLe32(head.data() + 28);
  declaredCount_ = declared;
  reserved36_ = readLe32(head.data() + 36);
  reserved40_ = readLe32(head.data() + 40);
  dataOffset_ = sigOffset + kHeaderSize + static_cast<uint64_t>(kEntrySize) * declared;
  entries_.reserve(count);
  for (size_t i = 0; i < count; ++i) entries_.push_back(PackEntry::decode(head.data() + kHeaderSize + i * kEntrySize));
  return static_cast<int>(count);
}

int Pack::findMember(std::string_view path, uint32_t* length) const {
  if (!isOpen()) return -1;
  const std::string_view name = platform::fileNamePart(path);
  for (size_t i = 0; i < entries_.size(); ++i) {
    const PackEntry& e = entries_[i];
    if (e.kind == kKindFile && sameNameIgnoringCase(e.name, name)) {
      if (length) *length = e.length;
      return static_cast<int>(i);
    }
  }
  return -1;
}

int Pack::findEntry(std::string_view name, bool fileNamePartOnly) const {
  if (!isOpen()) return -1;
  if (fileNamePartOnly) name = platform::fileNamePart(name);
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (sameNameIgnoringCase(entries_[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

size_t Pack::readAt(uint64_t fileOffset, void* buffer, size_t size) const {
  if (fileOffset >= fileSize_) return 0;
  size = static_cast<size_t>(std::min<uint64_t>(size, fileSize_ - fileOffset));
  // One positioned read: no seek that another thread's read could split.
  return preadFully(file_, buffer, size, fileOffset);
}

// The count a member read may deliver: the member's length from `start`,
// limited by `capacity` and by what the file really holds.
static size_t memberCount(const PackEntry& e, uint64_t dataOffset, uint64_t fileSize, size_t capacity, size_t start) {
  if (start >= e.length) return 0;
  uint64_t count = e.length - start;
  count = std::min<uint64_t>(count, capacity);
  const uint64_t at = dataOffset + e.offset + start;
  if (at >= fileSize) return 0;
  return static_cast<size_t>(std::min<uint64_t>(count, fileSize - at));
}

size_t Pack::readMember(const PackEntry& e, void* buffer, size_t capacity, size_t start) const {
  const size_t count = memberCount(e, dataOffset_, fileSize_, capacity, start);
  if (count == 0) return 0;
  return readAt(dataOffset_ + e.offset + start, buffer, count);
}

std::string Pack::readRange(int index, size_t start, size_t max) const {
  std::string out;
  if (!isOpen() || index < 0 || static_cast<size_t>(index) >= entries_.size()) return out;
  const PackEntry& e = entries_[static_cast<size_t>(index)];
  const size_t count = memberCount(e, dataOffset_, fileSize_, max ? max : SIZE_MAX, start);
  out.resize(count);
  const size_t n = count ? readAt(dataOffset_ + e.offset + start, out.data(), count) : 0;
  out.resize(n);
  return out;
}

size_t Pack::readRange(int index, void* buffer, size_t capacity, size_t start) const {
  if (!isOpen() || !buffer || index < 0 || static_cast<size_t>(index) >= entries_.size()) return 0;
  return readMember(entries_[static_cast<size_t>(index)], buffer, capacity, start);
}

namespace {

// Disk candidates for a path: as given, then below "pack/".  Paths written
// on the other system ("pack\x.bmp") are also tried with '/' separators.
std::vector<std::string> diskCandidates(std::string_view path) {
  std::vector<std::string> out;
  auto add = [&out](std::string p) {
    if (std::find(out.begin(), out.end(), p) == out.end()) out.push_back(std::move(p));
  };
  auto addBoth = [&add](std::string p) {
    add(p);
    if (p.find('\\') != std::string::npos) {
      std::replace(p.begin(), p.end(), '\\', '/');
      add(p);
    }
  };
  addBoth(std::string(path));
  addBoth("pack/" + std::string(path));
  return out;
}

// Reads a disk file: its size limited to `max` (0 = no limit) from `start`.
// Only regular files count: a FIFO or device of that name is passed over
// rather than waited on.
bool loadDisk(std::string_view path, std::string* fresh, void* buffer, size_t& length, size_t start, size_t max) {
  for (const std::string& candidate : diskCandidates(path)) {
    const int fd = platform::openRegularFile(candidate);
    if (fd < 0) continue;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
      ::close(fd);
      continue;
    }
    size_t count = static_cast<size_t>(st.st_size);
    if (max) count = std::min(count, max);
    // Never ask for more than the file can still give.
    const size_t left = start < static_cast<size_t>(st.st_size) ? static_cast<size_t>(st.st_size) - start : 0;
    count = std::min(count, left);
    size_t n = 0;
    if (fresh) {
      fresh->resize(count);
      n = count ? preadFully(fd, fresh->data(), count, start) : 0;
      fresh->resize(n);
    } else if (count) {
      n = preadFully(fd, buffer, count, start);
    }
    ::close(fd);
    length = n;
    return true;
  }
  return false;
}

}  // namespace

int Pack::load(std::string_view path, std::string& bytes, size_t start, size_t max) const {
  bytes.clear();
  if (isOpen()) {
    const int index = findEntry(path, true);
    if (index >= 0) {
      bytes = readRange(index, start, max);
      return kPackLoadFromPack;
    }
  }
  size_t length = 0;
  if (loadDisk(path, &bytes, nullptr, length, start, max)) return kPackLoadFromDisk;
  const PackFallbackLoader& fallback = packFallbackLoader();
  if (fallback) {
    std::string got;
    if (fallback(path, got)) {
      bytes = std::move(got);
      return kPackLoadFromFallback;
    }
  }
  return kPackLoadNothing;
}

int Pack::load(std::string_view path, void* buffer, size_t capacity, size_t& length, size_t start) const {
  length = 0;
  if (!buffer) return kPackLoadNothing;
  if (isOpen()) {
    const int index = findEntry(path, true);
    if (index >= 0) {
      length = readRange(index, buffer, capacity, start);
      return kPackLoadFromPack;
    }
  }
  if (capacity == 0) {
    // Nothing to read into, but the disk file's presence still counts.
    for (const std::string& candidate : diskCandidates(path)) {
      struct stat st {};
      if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return kPackLoadFromDisk;
    }
  } else if (loadDisk(path, nullptr, buffer, length, start, capacity)) {
    return kPackLoadFromDisk;
  }
  const PackFallbackLoader& fallback = packFallbackLoader();
  if (fallback) {
    std::string got;
    if (fallback(path, got)) {
      length = std::min(capacity, got.size());
      if (length) std::memcpy(buffer, got.data(), length);
      return kPackLoadFromFallback;
    }
  }
  return kPackLoadNothing;
}
