#pragma once
// The pack container: the system's one archive format.  A container is a
// 44-byte header, a directory of 96-byte entries and the members' bytes.  It
// stands alone ("pack.dat", "test.pck") or sits at the end of a program file
// (the standalone copy, the installer, the uninstaller); the reader finds it
// by searching the file for the header's signature.
//
// The signature is never written out as one contiguous run in program
// files: a file that carried it would be taken for the start of its own
// container.  It is put together at run time from its six words.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes.h"

namespace packformat {

constexpr size_t kHeaderSize = 44;
constexpr size_t kEntrySize = 96;
constexpr size_t kNameSize = 64;  // 63 characters and a NUL
constexpr size_t kMaxNameLength = 63;
constexpr size_t kSignatureSize = 24;
constexpr size_t kMaxEntries = 10000;   // what the writers reserve
constexpr size_t kWindow = 1u << 20;    // search window and directory read
constexpr size_t kCopyBlock = 0x40000;  // copy loops move 256 KiB at a time

constexpr uint32_t kKindFile = 0;
constexpr uint32_t kKindDirectory = 1;

// The 24 signature bytes, assembled at run time.
void signatureBytes(uint8_t out[kSignatureSize]);

using platform::readLe32;
using platform::writeLe32;

}  // namespace packformat

// One directory entry as held in memory.  The name is always NUL-terminated
// here, whatever the file held.  For a directory entry `offset` and `length`
// hold its counts of sub-directories and files; for the root of a tree they
// stand the other way round (files, then sub-directories).
struct PackEntry {
  char name[packformat::kNameSize] = {};
  uint32_t checksum = 0;         // 64
  uint32_t kind = 0;             // 68: 0 file (and tree root), 1 directory
  uint32_t offset = 0;           // 72
  uint32_t length = 0;           // 76
  uint32_t nextSibling = 0;      // 80
  uint32_t previousSibling = 0;  // 84
  uint32_t parent = 0;           // 88
  uint32_t firstChild = 0;       // 92

  // Sets the name, keeping its last 63 characters when longer.
  void setName(std::string_view text);
  void encode(uint8_t out[packformat::kEntrySize]) const;
  // Decodes 96 bytes; a name without a NUL in its 64 bytes is cut at 63.
  static PackEntry decode(const uint8_t in[packformat::kEntrySize]);
};

// The process-wide slot of last resort for Pack::load: given the requested
// path, fill `bytes` and return true, or return false.  Empty unless a
// program sets it.
using PackFallbackLoader = std::function<bool(std::string_view path, std::string& bytes)>;
PackFallbackLoader& packFallbackLoader();

// The hooks that tree extraction reports through (the installer points them
// at its log and progress page).  Both may be empty.
struct PackHooks {
  // One log line: "Makedir:" or "Copyfile:" followed by an absolute path
  // (control characters in it escaped, so a line is always one line).
  std::function<void(std::string_view line)> log;
  // Fraction of the container's bytes written; 1.0 when extraction ended.
  std::function<void(double fraction)> progress;
  // One line for each member that was refused or skipped, and for a walk
  // that stopped on an inconsistent directory (names escaped).
  std::function<void(std::string_view line)> problem;
};
PackHooks& packHooks();

// A name as it may be printed or logged: control characters as \xNN, so
// that no name can break a line or forge one.
std::string printableName(std::string_view name);
// Whether a member name may be stored or extracted: not empty, no control
// characters.
bool storableMemberName(std::string_view name);

// What a tree extraction did.
struct TreeExtraction {
  uint64_t written = 0;       // bytes
  uint32_t notExtracted = 0;  // members refused or skipped
  bool walkStopped = false;   // an inconsistent directory ended the walk
  bool targetMissing = false;
  bool complete() const { return notExtracted == 0 && !walkStopped && !targetMissing; }
};

// Pack::load results.
enum PackLoadResult : int {
  kPackLoadNothing = 0,
  kPackLoadFromPack = 1,
  kPackLoadFromDisk = 2,
  kPackLoadFromFallback = 5,
};

// Member reads (readRange, load, extraction, PackStream) may run on several
// threads at once: each is one positioned read on the shared file, so no
// other thread's read can come between its seek and its read.  open and
// close are for the owning thread while no one else reads.
class Pack {
 public:
  Pack();
  ~Pack();
  Pack(const Pack&) = delete;
  Pack& operator=(const Pack&) = delete;

  // Opens the first container in the file at `path` ("" = the program's own
  // file).  Returns the entry count; 0 when the file can't be opened or holds
  // no container (an empty container counts as none).  A container already
  // open is replaced only when this one is found.
  int open(const std::string& path = std::string());
  void close();
  bool isOpen() const { return file_ >= 0; }

  // Index of the first file entry whose name equals the file-name part of
  // `path` ('/' and '\' both separate), ignoring case; -1 when none or when
  // no container is open.  `length` receives the member's length.
  int findMember(std::string_view path, uint32_t* length = nullptr) const;
  // Same, any kind, whole name (no directory part taken off).
  int findEntry(std::string_view name, bool fileNamePartOnly) const;

  // Reads member `index` from `start` bytes into it: the member's length,
  // limited to `max` when not 0 and to length - start, into a fresh string
  // (which, being a std::string, keeps a NUL after the data).  A member that
  // reaches past the end of the file yields what the file holds.
  std::string readRange(int index, size_t start = 0, size_t max = 0) const;
  // Into a caller's buffer of `capacity` bytes (0 reads nothing).  Returns
  // the number of bytes read.
  size_t readRange(int index, void* buffer, size_t capacity, size_t start) const;

  // The one way the screen saver reads its media and settings: a member by
  // file name, else the disk file, else pack/<path>, else the fallback slot.
  // Returns a PackLoadResult; `bytes` receives the data (fresh, replaced).
  int load(std::string_view path, std::string& bytes, size_t start = 0, size_t max = 0) const;
  // Into a caller's buffer of `capacity` bytes; `length` receives the count.
  int load(std::string_view path, void* buffer, size_t capacity, size_t& length, size_t start = 0) const;

  // Installer only.  Copies the first entry whose whole name equals `name`
  // (ignoring case) to `targetPath`.  Returns 1 when the name was found (even
  // when the target could not be written), else 0.  A target that could not
  // be written whole is removed.
  int extractMember(std::string_view name, const std::string& targetPath) const;
  // Extracts the tree into `targetDirectory` (the root entry becomes a
  // directory inside it), reporting through packHooks().  Returns the bytes
  // written; 0 when no container is open.  Names that could lead outside the
  // target are skipped, symbolic links are never followed, and an
  // inconsistent directory ends the walk.  With `rootName` the root
  // directory is created under that name instead of its own (the installer
  // makes it land as the install directory the user chose).
  // Each file is written under a temporary name in its directory and renamed
  // into place, so an existing name (a hard link to a file elsewhere
  // included) is replaced, never written through.
  uint64_t extractTree(const std::string& targetDirectory, std::string_view rootName = {}) const;
  TreeExtraction extractTreeReporting(const std::string& targetDirectory, std::string_view rootName = {}) const;

  // What was read from the header.
  uint64_t signatureOffset() const { return start_; }
  uint32_t totalLength() const { return total_; }
  // Entries held (the header's count, cut to the whole entries present).
  int count() const { return static_cast<int>(entries_.size()); }
  uint32_t declaredCount() const { return declaredCount_; }
  uint32_t reserved24() const { return reserved24_; }
  uint32_t reserved36() const { return reserved36_; }
  uint32_t reserved40() const { return reserved40_; }
  // File offset of the data area.
  uint64_t dataOffset() const { return dataOffset_; }
  const std::vector<PackEntry>& entries() const { return entries_; }
  const std::string& path() const { return path_; }
  uint64_t fileSize() const { return fileSize_; }

 private:
  size_t readAt(uint64_t fileOffset, void* buffer, size_t size) const;
  size_t readMember(const PackEntry& e, void* buffer, size_t capacity, size_t start) const;

  int file_ = -1;
  std::string path_;
  uint64_t start_ = 0;
  uint64_t fileSize_ = 0;
  uint32_t total_ = 0;
  uint32_t declaredCount_ = 0;
  uint32_t reserved24_ = 0, reserved36_ = 0, reserved40_ = 0;
  uint64_t dataOffset_ = 0;
  std::vector<PackEntry> entries_;
};

// The process-wide Pack.  publishProcessPack replaces it (tests publish
// their own); nullptr restores the built-in one.
Pack& processPack();
void publishProcessPack(Pack* pack);

// Start-up: the program's own file, else "pack.dat" in the current
// directory.  Returns the entry count (0 when neither holds a container; the
// pack stays published and all reads go to the disk).
int openStartupPack(Pack& pack);
