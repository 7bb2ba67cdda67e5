#include "pack/standalone.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Copies `length` bytes of `in` (from its current position) to `out`, or
// everything up to the end when `length` is UINT64_MAX.  Adds the bytes to
// `count`; false on a write error or when fewer bytes came than asked.
bool copyStream(std::FILE* in, int out, uint64_t length, uint64_t& count) {
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
        return false;
      }
      p += w;
      rest -= static_cast<size_t>(w);
    }
    count += n;
    if (length != UINT64_MAX) left -= n;
  }
  return !std::ferror(in) && (length == UINT64_MAX || left == 0);
}

}  // namespace

uint64_t buildStandalone(const std::string& outputPath, const StandaloneContents& contents) {
  if (outputPath.empty()) return 0;
  const std::string programFile = contents.programFile.empty() ? platform::programPath() : contents.programFile;
  if (programFile.empty()) return 0;
  const std::string programDir = platform::directoryPart(programFile);

  // 1-2: the flat container's data file and target beside the program, or
  // beside the output when the program's directory is not writable.
  PackWriter writer;
  std::string workDir = contents.workDirectory.empty() ? programDir : contents.workDirectory;
  std::string packPath = platform::joinPath(workDir, "test.pck");
  if (!writer.begin(packPath, workDir)) {
    if (!contents.workDirectory.empty()) return 0;
    workDir = platform::directoryPart(outputPath);
    packPath = platform::joinPath(workDir, "test.pck");
    if (!writer.begin(packPath, workDir)) return 0;
  }

  // 3-5: settings, boat, pictures, songs (and the greeting after them).
  writer.add(kStandaloneSettingsMember, contents.settings.data(), contents.settings.size());
  std::string boat;
  if (fetchBoat(programDir, boat)) writer.add(kBoatTextureMember, boat.data(), boat.size());
  boat = std::string();
  for (const std::string& path : contents.images) writer.add(path);
  for (const std::string& path : contents.songs) writer.add(path);
  if (!contents.builderName.empty())
    writer.add(kGreetingMemberName, contents.builderName.data(), contents.builderName.size());

  // 6
  if (!writer.finish()) {
    std::remove(packPath.c_str());
    return 0;
  }

  // 7: the program's bytes in front of any container it already carries,
  // then the new container, into a temporary file renamed over the output
  // once whole.
  uint64_t programLength = UINT64_MAX;
  {
    Pack own;
    if (own.open(programFile) > 0) programLength = own.signatureOffset();
  }
  uint64_t count = 0;
  bool ok = false;
  std::FILE* program = std::fopen(programFile.c_str(), "rb");
  std::FILE* container = std::fopen(packPath.c_str(), "rb");
  // A fresh name beside the output, created with every permission the
  // user's umask grants, so that the copy is executable like a program.
  std::string temp;
  int out = -1;
  if (program && container) {
    for (int attempt = 0; attempt < 100 && out < 0; ++attempt) {
      temp = outputPath + ".part" + std::to_string(getpid()) + "-" + std::to_string(attempt);
      out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0777);
      if (out < 0 && errno != EEXIST) break;
    }
  }
  if (out >= 0) {
    ok = copyStream(program, out, programLength, count) && copyStream(container, out, UINT64_MAX, count);
    ok = ::close(out) == 0 && ok;
    ok = ok && std::rename(temp.c_str(), outputPath.c_str()) == 0;
    if (!ok) std::remove(temp.c_str());
  }
  // 8
  if (program) std::fclose(program);
  if (container) std::fclose(container);
  std::remove(packPath.c_str());
  return ok ? count : 0;
}

std::string standaloneBuilderName(const Pack& pack) {
  const int index = pack.findMember(kGreetingMemberName);
  if (index < 0) return std::string();
  // A name, not a document: a few hundred bytes at most.
  return pack.readRange(index, 0, 256);
}
