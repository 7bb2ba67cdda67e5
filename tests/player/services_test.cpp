// Errors, log, preferences and the thread wrappers of the music engine.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/registry.h"
#include "player/errorcode.h"
#include "player/logfile.h"
#include "player/preferences.h"
#include "player/thread.h"
#include "tests/common/testenv.h"

namespace {

TEST(ErrorCodeTest, TextsByCode) {
  struct Case {
    int32_t code;
    const char* text;
  } cases[] = {
      {0, "The operation was successful"},
      {7, "The buffer was too small to hold the data"},
      {13, "kError_FileNoHandles"},
      {29, "kError_EventPending"},
      {31, "No preference value was found"},
      {33, "Reached the end of the stream"},
      {70, "Download denied"},
      {71, "kError_LastError"},
      {72, ""},
      {1001, ""},
      {-1, ""},
  };
  for (const Case& c : cases) EXPECT_STREQ(errorText(c.code), c.text) << c.code;
}

// Each preference test starts from an empty process-wide table, as a fresh
// process would.
class PreferencesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryPreferences::instance().clear();
    platform::RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Tessolar\\Lumenmere\\Mp3player");
    saved_ = platform::currentDirectory();
    dir_ = testenv::freshDir("prefs");
    ASSERT_TRUE(platform::setCurrentDirectory(dir_));
  }
  void TearDown() override {
    platform::setCurrentDirectory(saved_);
    MemoryPreferences::instance().clear();
  }
  std::string saved_, dir_;
};

TEST_F(PreferencesTest, MissingUntilConstructedThenDefaults) {
  MemoryPreferences& table = MemoryPreferences::instance();
  int32_t v = -1;
  EXPECT_EQ(table.getInt32("OutputBufferSize", &v), kError_NoPrefValue);
  bool b = true;
  EXPECT_EQ(table.getBoolean("PlaylistShuffle", &b), kError_NoPrefValue);
  char s[260];
  uint32_t len = sizeof(s);
  EXPECT_EQ(table.getString("MainWindowPos", s, &len), kError_NoPrefValue);

  Preferences prefs;
  struct IntCase {
    const char* key;
    int32_t value;
  } ints[] = {{"InputBufferSize", 64},
              {"OutputBufferSize", 512},
              {"StreamBufferInterval", 3},
              {"DecoderThreadPriority", 5},
              {"PreBuffer", 0},
              {"PlaylistRepeat", 2},
              {"Volume", 85},
              {"NumberOfURLsToRemember", 10},
              {"TimeDisplay", 0}};
  for (const IntCase& c : ints) {
    ASSERT_EQ(prefs.getPrefInt32(c.key, &v), kError_NoErr) << c.key;
    EXPECT_EQ(v, c.value) << c.key;
  }
  struct BoolCase {
    const char* key;
    bool value;
  } bools[] = {{"PlaylistShuffle", false},
               {"UseDebugLog", false},
               {"LogDecode", false},
               {"LogPerformance", false},
               {"UseTitleStreaming", true},
               {"PlayImmediately", true},
               {"ConvertUnderscoresToSpaces", true},
               {"AskToReclaimFiletypes", true},
               {"StayOnTop", false},
               {"Welcome", false},
               {"UseProxy", false}};
  for (const BoolCase& c : bools) {
    ASSERT_EQ(prefs.getPrefBoolean(c.key, &b), kError_NoErr) << c.key;
    EXPECT_EQ(b, c.value) << c.key;
  }
  struct StringCase {
    const char* key;
    std::string value;
  } strings[] = {{"InstallDirectory", dir_},
                 {"SaveMusicDirectory", platform::joinPath(dir_, "mmp")},
                 {"DatabaseDirectory", platform::joinPath(dir_, "mdb")},
                 {"OpenSaveDirectory", dir_},
                 {"UI", "3d.ui"},
                 {"PMO", "soundcard.pmo"},
                 {"MainWindowPos", "-1,-1"},
                 {"WindowMode", "MainWindow"},
                 {"ThemeDefaultFont", "Arial"},
                 {"MusicBrowserUI", "musicbrowser.ui"},
                 {"DownloadManagerUI", "download.ui"},
                 {"ToolbarUI", "toolbar.ui"},
                 {"SaveStreamsDirectory", "."}};
  for (const StringCase& c : strings) {
    len = sizeof(s);
    ASSERT_EQ(prefs.getPrefString(c.key, s, &len), kError_NoErr) << c.key;
    EXPECT_EQ(std::string(s), c.value) << c.key;
    EXPECT_EQ(len, c.value.size());
  }
  EXPECT_LT(table.count(), 60);
}

TEST_F(PreferencesTest, StoredValuesSurviveConstruction) {
  MemoryPreferences::instance().setInt32("outputbuffersize", 128);
  Preferences prefs;
  int32_t v = 0;
  ASSERT_EQ(prefs.getOutputBufferSize(&v), kError_NoErr);
  EXPECT_EQ(v, 128);
}

TEST_F(PreferencesTest, KeysIgnoreCaseAndReplace) {
  MemoryPreferences& table = MemoryPreferences::instance();
  ASSERT_EQ(table.setInt32("PlaylistRepeat", 1), kError_NoErr);
  int before = table.count();
  ASSERT_EQ(table.setInt32("PLAYLISTREPEAT", 0), kError_NoErr);
  EXPECT_EQ(table.count(), before);
  int32_t v = -1;
  ASSERT_EQ(table.getInt32("playlistrepeat", &v), kError_NoErr);
  EXPECT_EQ(v, 0);

  ASSERT_EQ(table.setBoolean("Flag", true), kError_NoErr);
  ASSERT_EQ(table.getInt32("flag", &v), kError_NoErr);
  EXPECT_EQ(v, 1);  // booleans are int32 0 or 1
}

TEST_F(PreferencesTest, StringResults) {
  MemoryPreferences& table = MemoryPreferences::instance();
  ASSERT_EQ(table.setString("Name", "abcdef"), kError_NoErr);
  char out[16];
  uint32_t len = 6;  // no room for the terminator
  EXPECT_EQ(table.getString("Name", out, &len), kError_BufferTooSmall);
  EXPECT_EQ(len, 7u);
  len = 7;
  ASSERT_EQ(table.getString("NAME", out, &len), kError_NoErr);
  EXPECT_STREQ(out, "abcdef");
  EXPECT_EQ(len, 6u);

  len = sizeof(out);
  EXPECT_EQ(table.getString(nullptr, out, &len), kError_InvalidParam);
  EXPECT_EQ(table.getString("Name", nullptr, &len), kError_InvalidParam);
  EXPECT_EQ(table.getString("Name", out, nullptr), kError_InvalidParam);
  int32_t v;
  EXPECT_EQ(table.getInt32("Name", nullptr), kError_InvalidParam);
  EXPECT_EQ(table.getInt32("Missing", &v), kError_NoPrefValue);

  // A value that would not fit its 260-byte area is refused, not cut.
  std::string longValue(260, 'x');
  EXPECT_EQ(table.setString("Name", longValue.c_str()), kError_BufferTooSmall);
  len = sizeof(out);
  ASSERT_EQ(table.getString("Name", out, &len), kError_NoErr);
  EXPECT_STREQ(out, "abcdef");
  std::string longest(259, 'y');
  EXPECT_EQ(table.setString("Name", longest.c_str()), kError_NoErr);
}

TEST_F(PreferencesTest, FullTableRefusesNewKeysOnly) {
  MemoryPreferences& table = MemoryPreferences::instance();
  for (int i = 0; i < MemoryPreferences::kSlots; ++i)
    ASSERT_EQ(table.setInt32(("Key" + std::to_string(i)).c_str(), i), kError_NoErr);
  EXPECT_EQ(table.setInt32("OneMore", 1), kError_BufferTooSmall);
  EXPECT_FALSE(table.contains("OneMore"));
  EXPECT_EQ(table.setInt32("key7", 70), kError_NoErr);
  int32_t v = 0;
  ASSERT_EQ(table.getInt32("Key7", &v), kError_NoErr);
  EXPECT_EQ(v, 70);
}

TEST_F(PreferencesTest, RegistryKeyCreatedButNotFilled) {
  Preferences prefs;
  EXPECT_NE(prefs.registryKey(), 0u);
  HKEY key = 0;
  ASSERT_EQ(platform::RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Tessolar\\Lumenmere\\Mp3player", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(platform::RegQueryValueExA(key, "InstallDirectory", nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  platform::RegCloseKey(key);

  EXPECT_EQ(prefs.openComponentPreferences("Other"), kError_NoErr);
  ASSERT_EQ(platform::RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Tessolar\\Lumenmere\\Other", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  platform::RegCloseKey(key);
}

TEST_F(PreferencesTest, SongmillBesideRecordsInstallDirectory) {
  ASSERT_TRUE(testenv::writeFile(platform::joinPath(dir_, "songmill.exe"), "MZ"));
  { Preferences prefs; }
  HKEY key = 0;
  ASSERT_EQ(platform::RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Tessolar\\Lumenmere\\Mp3player", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  char value[MAX_PATH];
  DWORD size = sizeof(value);
  ASSERT_EQ(
      platform::RegQueryValueExA(key, "InstallDirectory", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size),
      ERROR_SUCCESS);
  EXPECT_EQ(std::string(value), dir_);
  size = sizeof(value);
  ASSERT_EQ(
      platform::RegQueryValueExA(key, "DatabaseDirectory", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size),
      ERROR_SUCCESS);
  EXPECT_EQ(std::string(value), platform::joinPath(dir_, "db"));
  platform::RegCloseKey(key);
}

TEST_F(PreferencesTest, LibraryDirectories) {
  Preferences prefs;
  char path[260];
  uint32_t len = sizeof(path);
  ASSERT_EQ(prefs.getFirstLibDir(path, &len), kError_NoErr);
  EXPECT_EQ(std::string(path), dir_);
  len = sizeof(path);
  EXPECT_EQ(prefs.getNextLibDir(path, &len), kError_NoMoreLibDirs);
  EXPECT_STREQ(path, "");
  EXPECT_EQ(prefs.getLibDirClose(), kError_NoErr);
}

class LogFileTest : public PreferencesTest {};

TEST_F(LogFileTest, LinesAndCategories) {
  std::string path = platform::joinPath(dir_, "engine.log");
  LogFile log(path);
  log.logError("lost %d\n", 1);  // closed: discarded
  ASSERT_TRUE(log.open());
  log.setCategoryMask((1 << LogDecode) | (1 << LogInput));
  log.logError("Bad %s\n", "thing");
  EXPECT_EQ(log.logCategory(LogDecode, "Skipped %d bytes\n", 5), 0);
  EXPECT_EQ(log.logCategory(LogOutput, "hidden\n"), 1 << LogOutput);
  EXPECT_EQ(log.logCategory(LogInput, "x\n"), 0);
  log.close();
  EXPECT_EQ(testenv::readFile(path), "Error: Bad thing\nDecode: Skipped 5 bytes\nInput: x\n");
  EXPECT_STREQ(LogFile::categoryName(LogPerf), "Perf");
  EXPECT_STREQ(LogFile::categoryName(LogMain), "Main");
}

TEST_F(LogFileTest, OpenedByUseDebugLogForAppending) {
  Preferences prefs;
  std::string logDir = testenv::freshDir("logdir");
  std::string path = platform::joinPath(logDir, "tessmp3.log");
  {
    auto log = LogFile::fromPreferences(prefs, logDir);
    EXPECT_FALSE(log->isOpen());
    log->logError("nothing\n");
  }
  EXPECT_EQ(access(path.c_str(), F_OK), -1);  // never created

  ASSERT_TRUE(testenv::writeFile(path, "old\n"));
  prefs.setPrefBoolean("UseDebugLog", true);
  prefs.setPrefBoolean("LogDecode", true);
  {
    auto log = LogFile::fromPreferences(prefs, logDir);
    EXPECT_TRUE(log->isOpen());
    EXPECT_EQ(log->categoryMask(), 1 << LogDecode);
    log->logCategory(LogDecode, "d\n");
    log->logCategory(LogMain, "m\n");
  }
  EXPECT_EQ(testenv::readFile(path), "old\nDecode: d\n");
  // No directory given: the current one.
  EXPECT_EQ(LogFile::fromPreferences(prefs, "")->fileName(), platform::joinPath(dir_, "tessmp3.log"));
}

// A thread that stays alive until released, so that its priority can be
// read and set.
struct Parked {
  Semaphore go{0};
  std::atomic<int> ran{0};
  static void entry(void* arg) {
    auto* self = static_cast<Parked*>(arg);
    self->ran.store(1);
    self->go.wait();
  }
};

TEST(ThreadTest, RunsJoinsAndKeepsPriorityConsistent) {
  Parked parked;
  Thread thread;
  ASSERT_TRUE(thread.create(&Parked::entry, &parked));
  EXPECT_FALSE(thread.create(&Parked::entry, &parked));  // one thread per wrapper
  EXPECT_EQ(thread.getPriority(), Thread::kNormal);
  EXPECT_EQ(thread.setPriority(Thread::kHighest), Thread::kNormal);
  EXPECT_EQ(thread.getPriority(), Thread::kHighest);
  // The highest level this process may give: never weaker than normal.
  errno = 0;
  int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(thread.systemId()));
  ASSERT_EQ(errno, 0);
  EXPECT_EQ(nice, Thread::niceForIndex(Thread::kHighest));
  EXPECT_LE(nice, Thread::niceForIndex(Thread::kNormal));
  EXPECT_EQ(thread.setPriority(Thread::kBelowNormal), Thread::kHighest);
  EXPECT_EQ(thread.getPriority(), Thread::kBelowNormal);
  parked.go.signal();
  thread.join();
  EXPECT_EQ(parked.ran.load(), 1);
}

TEST(ThreadTest, PriorityOutsideTheTableReadsRaw) {
  Parked parked;
  Thread thread;
  ASSERT_TRUE(thread.create(&Parked::entry, &parked));
  errno = 0;
  int base = getpriority(PRIO_PROCESS, 0);
  int raw = 99;
  for (int v = base + 1; v <= 19 && raw == 99; ++v) {
    bool inTable = false;
    for (int i = 0; i <= 6; ++i) inTable = inTable || Thread::niceForIndex(i) == v;
    if (!inTable) raw = v;
  }
  if (raw == 99) {
    parked.go.signal();
    GTEST_SKIP() << "every nice value above the base is in the table";
  }
  // Another party sets the thread's nice value directly.
  ASSERT_EQ(setpriority(PRIO_PROCESS, static_cast<id_t>(thread.systemId()), raw), 0);
  EXPECT_EQ(thread.getPriority(), raw);
  parked.go.signal();
  thread.join();
}

TEST(SemaphoreTest, CountsReleases) {
  Semaphore sem(2);
  sem.wait();
  sem.wait();
  std::atomic<bool> passed{false};
  Thread waiter;
  struct Ctx {
    Semaphore* sem;
    std::atomic<bool>* passed;
  } ctx{&sem, &passed};
  ASSERT_TRUE(waiter.create(
      [](void* arg) {
        auto* c = static_cast<Ctx*>(arg);
        c->sem->wait();
        c->passed->store(true);
      },
      &ctx));
  usleep(20000);
  EXPECT_FALSE(passed.load());
  sem.signal();
  waiter.join();
  EXPECT_TRUE(passed.load());
}

// The wrapper's own calls, out of sight of the lock analysis, which can't
// follow a lock taken inside an assertion.
bool acquireUnchecked(Mutex& m, int32_t timeoutMs = Mutex::kInfinite) LM_NO_THREAD_SAFETY_ANALYSIS {
  return m.acquire(timeoutMs);
}
void releaseUnchecked(Mutex& m) LM_NO_THREAD_SAFETY_ANALYSIS { m.release(); }

TEST(MutexTest, TimesOutWhileHeldElsewhere) {
  Mutex m;
  ASSERT_TRUE(acquireUnchecked(m));
  std::atomic<int> result{-1};
  Thread other;
  struct Ctx {
    Mutex* m;
    std::atomic<int>* result;
  } ctx{&m, &result};
  ASSERT_TRUE(other.create(
      [](void* arg) {
        auto* c = static_cast<Ctx*>(arg);
        bool got = acquireUnchecked(*c->m, 20);
        c->result->store(got ? 1 : 0);
        if (got) releaseUnchecked(*c->m);
      },
      &ctx));
  other.join();
  EXPECT_EQ(result.load(), 0);
  releaseUnchecked(m);
  EXPECT_TRUE(acquireUnchecked(m, 0));
  releaseUnchecked(m);
}

}  // namespace
