// LocalFileInput: the stream length, the ID3 rules, end of stream, seeking,
// standard input and the FileOps seam.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "pack/fileops.h"
#include "platform/files.h"
#include "player/localfileinput.h"
#include "player/playercontext.h"
#include "player/preferences.h"
#include "player/pullbuffer.h"
#include "tests/common/testenv.h"
#include "tests/player/testsink.h"

namespace {

std::string pattern(size_t n, unsigned seed = 0) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + seed) % 253);
  return s;
}

// Everything the reader thread delivers until the end of the stream.
std::string drain(LocalFileInput& input, PullBuffer* buffer) {
  std::string out;
  input.wake();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    void* p = nullptr;
    size_t n = 1000;
    ErrorCode rc = buffer->beginRead(p, n);
    if (rc == kError_EndOfStream) {
      n = buffer->used();
      if (n == 0) break;
      rc = buffer->beginRead(p, n);
    }
    if (rc == kError_NoDataAvail) {
      input.wake();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    EXPECT_EQ(rc, kError_NoErr);
    if (rc != kError_NoErr) break;
    out.append(static_cast<char*>(p), n);
    EXPECT_EQ(buffer->endRead(n), kError_NoErr);
    input.wake();
  }
  return out;
}

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testenv::freshDir("input");
    context_.target = &queue_;
  }
  std::string file(const std::string& name, const std::string& bytes) {
    std::string path = platform::joinPath(dir_, name);
    EXPECT_TRUE(testenv::writeFile(path, bytes));
    return path;
  }
  std::string dir_;
  RecordingQueue queue_;
  PlayerContext context_;
};

std::string id3v2(int major, size_t bodySize) {
  std::string h = "ID3";
  h += static_cast<char>(major);
  h += '\0';
  h += '\0';
  h += static_cast<char>((bodySize >> 21) & 0x7F);
  h += static_cast<char>((bodySize >> 14) & 0x7F);
  h += static_cast<char>((bodySize >> 7) & 0x7F);
  h += static_cast<char>(bodySize & 0x7F);
  return h + std::string(bodySize, '\x55');
}

TEST_F(InputTest, LengthAndTagsDecideWhatIsDelivered) {
  std::string v1Tag = "TAG" + std::string(125, 't');
  struct Case {
    const char* name;
    std::string bytes;
    size_t length;
    std::string delivered;
  } cases[] = {
      {"short", pattern(100), 100, pattern(100)},
      {"tiny", "ID3", 3, "ID3"},
      {"id3v1", pattern(5000) + v1Tag, 5000, pattern(5000) + v1Tag},
      {"v1only", v1Tag, 0, v1Tag},
      {"id3v23", id3v2(3, 513) + pattern(3000), 10 + 513 + 3000, pattern(3000)},
      {"id3v24", id3v2(4, 513) + pattern(3000), 10 + 513 + 3000, std::string(513, '\x55') + pattern(3000)},
      {"plain", pattern(20000), 20000, pattern(20000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LocalFileInput input(&context_);
    ASSERT_EQ(input.setTo(("file://" + file(c.name, c.bytes)).c_str()), kError_NoErr);
    PullBuffer* buffer = nullptr;
    ASSERT_EQ(input.prepare(buffer), kError_NoErr);
    ASSERT_NE(buffer, nullptr);
    size_t length = 0;
    ASSERT_EQ(input.getLength(length), kError_NoErr);
    EXPECT_EQ(length, c.length);
    std::string got = drain(input, buffer);
    EXPECT_EQ(got.size(), c.delivered.size());
    EXPECT_TRUE(got == c.delivered);
  }
}

TEST_F(InputTest, ExactMultipleOfTheReadUnitEndsAfterOneEmptyRead) {
  Preferences prefs;
  ASSERT_EQ(prefs.setPrefInt32("InputBufferSize", 16), kError_NoErr);  // two read units
  context_.prefs = &prefs;
  LocalFileInput input(&context_);
  input.setTo(file("two-units", pattern(16384)).c_str());
  PullBuffer* buffer = nullptr;
  ASSERT_EQ(input.prepare(buffer), kError_NoErr);
  EXPECT_EQ(buffer->size(), 16384u);
  input.wake();
  for (int i = 0; i < 2000 && buffer->used() < 16384; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(buffer->used(), 16384u);
  // Both full reads arrived, yet the end is not known until a read finds
  // nothing; that read needs room first.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(buffer->isEndOfStream());
  void* p = nullptr;
  ASSERT_EQ(buffer->beginRead(p, 8192), kError_NoErr);
  ASSERT_EQ(buffer->endRead(8192), kError_NoErr);
  input.wake();
  for (int i = 0; i < 2000 && !buffer->isEndOfStream(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(buffer->isEndOfStream());
  EXPECT_EQ(buffer->used(), 8192u);
  MemoryPreferences::instance().clear();
}

TEST_F(InputTest, SeekRestartsTheBufferAtTheNewPosition) {
  std::string bytes = pattern(30000, 3);
  LocalFileInput input(&context_);
  input.setTo(file("seek", bytes).c_str());
  PullBuffer* buffer = nullptr;
  ASSERT_EQ(input.prepare(buffer), kError_NoErr);
  input.wake();
  for (int i = 0; i < 2000 && !buffer->isEndOfStream(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  input.pause();
  int32_t position = -1;
  ASSERT_EQ(input.seek(position, 12345, 0), kError_NoErr);
  EXPECT_EQ(position, 12345);
  EXPECT_EQ(buffer->used(), 0u);
  EXPECT_FALSE(buffer->isEndOfStream());
  input.resume();
  EXPECT_TRUE(drain(input, buffer) == bytes.substr(12345));

  input.pause();
  EXPECT_EQ(input.seek(position, -5, 0), kError_SeekFailed);
  EXPECT_EQ(buffer->used(), 0u);
  ASSERT_EQ(input.clear(), kError_NoErr);  // rewinds
  input.resume();
  EXPECT_TRUE(drain(input, buffer) == bytes);
}

TEST_F(InputTest, MissingFileIsReported) {
  LocalFileInput input(&context_);
  std::string path = platform::joinPath(dir_, "absent.mp3");
  input.setTo(path.c_str());
  PullBuffer* buffer = nullptr;
  EXPECT_EQ(input.prepare(buffer), kError_UnknownErr);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(queue_.messages(INFO_ErrorMessage), std::vector<std::string>{"Cannot open file " + path + "."});
  EXPECT_EQ(queue_.types().back(), INFO_DoneOutputtingDueToError);
}

TEST_F(InputTest, UrlForms) {
  LocalFileInput input(&context_);
  ASSERT_EQ(input.setTo("FILE:///music/a.mp3"), kError_NoErr);
  EXPECT_EQ(input.url(), "/music/a.mp3");
  ASSERT_EQ(input.setTo("/music/b.mp3"), kError_NoErr);
  EXPECT_EQ(input.url(), "/music/b.mp3");
  EXPECT_TRUE(input.canHandle("file:///x.mp3"));
  EXPECT_FALSE(input.canHandle("FILE:///x.mp3"));
  EXPECT_FALSE(input.canHandle("http://x/y.mp3"));
  EXPECT_FALSE(input.isStreaming());
  EXPECT_EQ(input.setTo(nullptr), kError_InvalidParam);
}

TEST_F(InputTest, DashReadsStandardInput) {
  std::string bytes = pattern(20000, 9);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::thread feeder([&] {
    size_t off = 0;
    while (off < bytes.size()) {
      ssize_t n = write(fds[1], bytes.data() + off, bytes.size() - off);
      if (n <= 0) break;
      off += static_cast<size_t>(n);
    }
    close(fds[1]);
  });
  int savedIn = dup(0);
  ASSERT_EQ(dup2(fds[0], 0), 0);
  close(fds[0]);
  clearerr(stdin);
  {
    LocalFileInput input(&context_);
    input.setTo("-");
    PullBuffer* buffer = nullptr;
    ASSERT_EQ(input.prepare(buffer), kError_NoErr);
    size_t length = 1;
    input.getLength(length);
    EXPECT_EQ(length, 0u);  // a pipe has no known length
    EXPECT_TRUE(drain(input, buffer) == bytes);
  }
  feeder.join();
  dup2(savedIn, 0);
  close(savedIn);
  clearerr(stdin);
}

// A FileOps table serving files from memory: the input reads only through
// the engine's table.
std::map<std::string, std::string>* gMemFiles = nullptr;
struct MemFile {
  std::string data;
  long pos = 0;
};
void* memOpen(const char* name, const char*) {
  auto it = gMemFiles->find(name);
  return it == gMemFiles->end() ? nullptr : new MemFile{it->second, 0};
}
size_t memRead(void* buffer, size_t size, size_t count, void* handle) {
  auto* f = static_cast<MemFile*>(handle);
  size_t want = size * count;
  size_t left = f->pos < static_cast<long>(f->data.size()) ? f->data.size() - f->pos : 0;
  size_t n = std::min(want, left);
  std::memcpy(buffer, f->data.data() + f->pos, n);
  f->pos += static_cast<long>(n);
  return n;
}
int memSeek(void* handle, long offset, int origin) {
  auto* f = static_cast<MemFile*>(handle);
  long base = origin == 0 ? 0 : origin == 1 ? f->pos : static_cast<long>(f->data.size());
  if (base + offset < 0) return -1;
  f->pos = base + offset;
  return 0;
}
long memTell(void* handle) { return static_cast<MemFile*>(handle)->pos; }
int memClose(void* handle) {
  delete static_cast<MemFile*>(handle);
  return 0;
}

TEST_F(InputTest, ReadsThroughTheEngineFileOps) {
  std::map<std::string, std::string> files{{"song.mp3", pattern(9000, 1) + "TAG" + std::string(125, 'x')}};
  gMemFiles = &files;
  FileOps saved = engineFileOps();
  engineFileOps() = FileOps{memOpen, memRead, memSeek, memTell, memClose};
  {
    LocalFileInput input(&context_);
    input.setTo("file://song.mp3");
    PullBuffer* buffer = nullptr;
    ASSERT_EQ(input.prepare(buffer), kError_NoErr);
    size_t length = 0;
    input.getLength(length);
    EXPECT_EQ(length, 9000u);
    EXPECT_TRUE(drain(input, buffer) == files["song.mp3"]);
  }
  engineFileOps() = saved;
  gMemFiles = nullptr;
}

}  // namespace
