#pragma once
// Writing containers: the flat writer of the screen saver (the standalone
// copy's container) and the tree builder and writer of the installer's
// packing modes.  Every container written here is one the reader finds.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "pack/pack.h"

// Writes the 44-byte header and the directory at the start of `f`.
bool writePackHeader(std::FILE* f, uint32_t totalLength, const std::vector<PackEntry>& entries);

// The flat writer: members in the order added, named by their file names.
// Their bytes go to the data file "newpacktemp!" until finish() puts header,
// directory and data together in the target.
class PackWriter {
 public:
  static constexpr const char* kDataFileName = "newpacktemp!";

  PackWriter() = default;
  ~PackWriter();  // closes and removes the data file if still there
  PackWriter(const PackWriter&) = delete;
  PackWriter& operator=(const PackWriter&) = delete;

  // Remembers the target (at most 259 characters) and creates the data file
  // in `dataDirectory` ("" = the current directory).  False when the target
  // is too long or the data file can't be created.
  [[nodiscard]] bool begin(const std::string& targetPath, const std::string& dataDirectory = std::string());
  // Adds a member named by the file-name part of `path` (its last 63
  // characters when longer); a name with control characters is refused.  With `data` null the bytes are fetched with
  // the process-wide Pack::load of `path`; when nothing comes, nothing is added. False when nothing was added (also
  // past 10,000 members, or past the 4 GiB the format's offsets can address).
  bool add(std::string_view path, const void* data = nullptr, size_t length = 0);
  // Writes the target: header, directory, data; removes the data file.  False
  // (and no target left behind) when the target could not be written whole.
  [[nodiscard]] bool finish();

  const std::vector<PackEntry>& entries() const { return entries_; }
  const std::string& dataFilePath() const { return dataPath_; }

  // The progress hook: the bytes written so far (the members as they are
  // added, then the data as finish copies it into the target).  Returning
  // false stops the writer: add then returns false and finish fails.
  std::function<bool(uint64_t bytesWritten)> progress;
  // Whether a write failed or the progress hook stopped the writer, and the
  // errno of the first failure to create or write a file (0 when none).
  bool failed() const { return failed_; }
  bool stopped() const { return stopped_; }
  int error() const { return error_; }

 private:
  void dropDataFile();
  bool report(uint64_t bytes);
  void fail(int error);

  std::string target_;
  std::string dataPath_;
  std::FILE* data_ = nullptr;
  bool failed_ = false;
  bool stopped_ = false;
  int error_ = 0;
  uint64_t dataLength_ = 0;
  std::vector<PackEntry> entries_;
};

// The tree builder and writer: a directory and everything below it, in
// depth-first order, with sibling, parent and child links.
class PackTreeWriter {
 public:
  // Builds the directory of `directory`, or, when empty, of the only
  // sub-directory of the current directory (names beginning with '.' don't
  // count).  False (and nothing built) when there is no such directory, a
  // name is longer than 63 characters or holds control characters, or there
  // are more than 10,000 entries; error() says why (names escaped).  Items whose names begin with '.' are left
  // out, and so are symbolic links to directories (they could loop) and
  // anything that is neither a file nor a directory.
  [[nodiscard]] bool build(const std::string& directory = std::string());
  // Writes the container to `path`, or to "<root name>.pck" when empty.
  // Files that can't be opened are stored empty.  False (and no target left
  // behind) when the target could not be written whole.
  [[nodiscard]] bool write(const std::string& path = std::string());

  const std::vector<PackEntry>& entries() const { return entries_; }
  const std::string& error() const { return error_; }
  // The disk path of each entry (root: the directory itself).
  const std::vector<std::string>& sourcePaths() const { return sources_; }

 private:
  bool scan(const std::string& dir, uint32_t parent, uint32_t& subdirs, uint32_t& files);

  std::vector<PackEntry> entries_;
  std::vector<std::string> sources_;
  std::string error_;
};
