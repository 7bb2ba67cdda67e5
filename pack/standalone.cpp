#include "pack/standalone.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "pack/pack.h"
#include "pack/packwriter.h"
#include "platform/files.h"

using namespace packformat;

namespace {

// The boat texture as the running program sees it: its own container, else
// the program directory, else its "pack" sub-directory, else the ordinary
// disk lookup.
bool fetchBoat(const std::string& programDir, std::string& bytes) {
  Pack& pack = processPack();
  if (pack.findEntry(kBoatTextureMember, true) >= 0 && pack.load(kBoatTextureMember, bytes) == kPackLoadFromPack)
    return true;
  for (const std::string& p : {platform::joinPath(programDir, kBoatTextureMember),
                               platform::joinPath(platform::joinPath(programDir, "pack"), kBoatTextureMember)}) {
    if (pack.load(p, bytes) == kPackLoadFromDisk) return true;
  }
  return pack.load(kBoatTextureMember, bytes) != kPackLoadNothing;
}

// No room left: the disk, the user's quota or the largest file allowed.
bool noRoom(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

// The progress of one build: bytes done of the bytes expected, and whether
// the hook asked to stop.
struct Progress {
  const StandaloneProgress* hook = nullptr;
  uint64_t total = 1;
  bool stopped = false;
  bool report(uint64_t done) {
    if (!hook || !*hook || stopped) return !stopped;
    const double fraction =
        std::min(1.0, static_cast<double>(done) / static_cast<double>(std::max<uint64_t>(total, 1)));
    if (!(*hook)(fraction)) stopped = true;
    return !stopped;
  }
};

// Why a copy loop stopped.
enum class CopyEnd { done, readFailed, writeFailed, stopped };

// Copies `length` bytes of `in` (from its current position) to `out`, or
// everything up to the end when `length` is UINT64_MAX, adding them to
// `count` and reporting `base` + count.  `error` receives errno of a failure.
CopyEnd copyStream(std::FILE* in, int out, uint64_t length, uint64_t& count, Progress& progress, uint64_t base,
                   int& error) {
  std::unique_ptr<uint8_t[]> block(new uint8_t[kCopyBlock]);
  uint64_t left = length;
  while (left > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyBlock, left));
    const size_t n = std::fread(block.get(), 1, want, in);
    if (n == 0) break;
    const uint8_t* p = block.get();
    size_t rest = n;
    while (rest > 0) {
      const ssize_t w = ::write(out, p, rest);
      if (w < 0) {
        if (errno == EINTR) continue;
        error = errno;
        return CopyEnd::writeFailed;
      }
      p += w;
      rest -= static_cast<size_t>(w);
    }
    count += n;
    if (length != UINT64_MAX) left -= n;
    if (!progress.report(base + count)) return CopyEnd::stopped;
  }
  if (std::ferror(in) || (length != UINT64_MAX && left != 0)) {
    error = std::ferror(in) ? EIO : ENODATA;
    return CopyEnd::readFailed;
  }
  return CopyEnd::done;
}

uint64_t fileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
}

StandaloneResult failure(StandaloneFailure kind, int error, const std::string& path) {
  StandaloneResult r;
  r.failure = kind;
  r.error = error;
  r.path = path;
  return r;
}

// A writer that failed: stopped, out of room, or a temporary file that
// could not be made or written.
StandaloneResult writerFailure(const PackWriter& writer, const std::string& path) {
  if (writer.stopped()) return failure(StandaloneFailure::stopped, 0, path);
  return failure(noRoom(writer.error()) ? StandaloneFailure::diskFull : StandaloneFailure::temporaryFile,
                 writer.error(), path);
}

}  // namespace

uint64_t buildStandalone(const std::string& outputPath, const StandaloneContents& contents) {
  return buildStandaloneReporting(outputPath, contents).bytes;
}

StandaloneResult buildStandaloneReporting(const std::string& outputPath, const StandaloneContents& contents,
                                          const StandaloneProgress& hook) {
  if (outputPath.empty()) return failure(StandaloneFailure::outputNotCreated, ENOENT, outputPath);
  const std::string programFile = contents.programFile.empty() ? platform::programPath() : contents.programFile;
  if (programFile.empty()) return failure(StandaloneFailure::programUnreadable, ENOENT, programFile);
  const std::string programDir = platform::directoryPart(programFile);

  // The work ahead, in bytes: the members into the data file, the data file
  // into the container, then the program and the container into the output.
  uint64_t programLength = UINT64_MAX;
  {
    Pack own;
    if (own.open(programFile) > 0) programLength = own.signatureOffset();
  }
  const uint64_t programBytes = programLength == UINT64_MAX ? fileSize(programFile) : programLength;
  uint64_t media = contents.settings.size();
  for (const std::string& path : contents.images) media += fileSize(path);
  for (const std::string& path : contents.songs) media += fileSize(path);
  Progress progress;
  progress.hook = &hook;
  progress.total = 3 * media + programBytes;

  // 1-2: the flat container's data file and target beside the program, or
  // beside the output when the program's directory is not writable.
  PackWriter writer;
  writer.progress = [&](uint64_t bytes) { return progress.report(bytes); };
  std::string workDir = contents.workDirectory.empty() ? programDir : contents.workDirectory;
  std::string packPath = platform::joinPath(workDir, "test.pck");
  if (!writer.begin(packPath, workDir)) {
    if (!contents.workDirectory.empty())
      return failure(StandaloneFailure::temporaryFile, writer.error(),
                     platform::joinPath(workDir, PackWriter::kDataFileName));
    workDir = platform::directoryPart(outputPath);
    packPath = platform::joinPath(workDir, "test.pck");
    if (!writer.begin(packPath, workDir))
      return failure(StandaloneFailure::temporaryFile, writer.error(),
                     platform::joinPath(workDir, PackWriter::kDataFileName));
  }

  // 3-5: settings, boat, pictures, songs (and the greeting after them).
  const std::string dataPath = writer.dataFilePath();
  writer.add(kStandaloneSettingsMember, contents.settings.data(), contents.settings.size());
  std::string boat;
  if (fetchBoat(programDir, boat)) writer.add(kBoatTextureMember, boat.data(), boat.size());
  boat = std::string();
  for (const std::string& path : contents.images)
    if (!writer.failed()) writer.add(path);
  for (const std::string& path : contents.songs)
    if (!writer.failed()) writer.add(path);
  if (!contents.builderName.empty() && !writer.failed())
    writer.add(kGreetingMemberName, contents.builderName.data(), contents.builderName.size());
  if (writer.failed()) {
    StandaloneResult r = writerFailure(writer, dataPath);
    (void)writer.finish();  // removes the data file
    std::remove(packPath.c_str());
    return r;
  }

  // 6
  if (!writer.finish()) {
    std::remove(packPath.c_str());
    return writerFailure(writer, packPath);
  }

  // 7: the program's bytes in front of any container it already carries,
  // then the new container, into a temporary file renamed over the output
  // once whole.
  const uint64_t base = 2 * media;
  progress.total = base + programBytes + fileSize(packPath);
  StandaloneResult result;
  uint64_t count = 0;
  std::FILE* program = std::fopen(programFile.c_str(), "rb");
  const int programError = errno;
  std::FILE* container = program ? std::fopen(packPath.c_str(), "rb") : nullptr;
  const int containerError = errno;
  // A fresh name beside the output, created with every permission the
  // user's umask grants, so that the copy is executable like a program.
  std::string temp;
  int out = -1;
  if (!program) {
    result = failure(StandaloneFailure::programUnreadable, programError, programFile);
  } else if (!container) {
    result = failure(StandaloneFailure::temporaryFile, containerError, packPath);
  } else {
    for (int attempt = 0; attempt < 100 && out < 0; ++attempt) {
      temp = outputPath + ".part" + std::to_string(getpid()) + "-" + std::to_string(attempt);
      out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0777);
      if (out < 0 && errno != EEXIST) break;
    }
    if (out < 0)
      result =
          failure(noRoom(errno) ? StandaloneFailure::diskFull : StandaloneFailure::outputNotCreated, errno, outputPath);
  }
  if (out >= 0) {
    int error = 0;
    CopyEnd end = copyStream(program, out, programLength, count, progress, base, error);
    if (end == CopyEnd::readFailed) {
      result = failure(StandaloneFailure::programUnreadable, error, programFile);
    } else if (end == CopyEnd::done) {
      end = copyStream(container, out, UINT64_MAX, count, progress, base, error);
      if (end == CopyEnd::readFailed) result = failure(StandaloneFailure::temporaryFile, error, packPath);
    }
    if (end == CopyEnd::writeFailed)
      result =
          failure(noRoom(error) ? StandaloneFailure::diskFull : StandaloneFailure::outputNotCreated, error, outputPath);
    if (end == CopyEnd::stopped) result = failure(StandaloneFailure::stopped, 0, outputPath);
    // Some file systems report a full disk only when the file is closed.
    if (::close(out) != 0 && result.failure == StandaloneFailure::none)
      result =
          failure(noRoom(errno) ? StandaloneFailure::diskFull : StandaloneFailure::outputNotCreated, errno, outputPath);
    if (result.failure == StandaloneFailure::none && std::rename(temp.c_str(), outputPath.c_str()) != 0)
      result = failure(StandaloneFailure::outputNotCreated, errno, outputPath);
    if (result.failure != StandaloneFailure::none) std::remove(temp.c_str());
  }
  // 8
  if (program) std::fclose(program);
  if (container) std::fclose(container);
  std::remove(packPath.c_str());
  if (result.failure == StandaloneFailure::none) {
    result.bytes = count;
    progress.report(progress.total);
  }
  return result;
}

std::string standaloneBuilderName(const Pack& pack) {
  const int index = pack.findMember(kGreetingMemberName);
  if (index < 0) return std::string();
  // A name, not a document: a few hundred bytes at most.
  return pack.readRange(index, 0, 256);
}
