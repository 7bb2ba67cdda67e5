#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "tests/common/testenv.h"

using namespace platform;

namespace {
void useFreshRegistry() {
  std::string path = testenv::freshDir("reg") + "/registry.reg";
  setenv("LUMENMERE_REGISTRY", path.c_str(), 1);
}

DWORD readDword(HKEY key, const char* name, LONG* result = nullptr) {
  DWORD v = 0, size = sizeof v, type = 0;
  LONG r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&v), &size);
  if (result) *result = r;
  return v;
}
}  // namespace

TEST(Registry, ValuesRoundTripThroughTheFile) {
  useFreshRegistry();
  HKEY key = 0;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar\\Lumenmere", &key, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  DWORD d = 0xCAFEF00D;
  const BYTE bin[] = {0, 1, 2, 0xFF, '\n', '"'};
  const char* text = "C:\\Program Files\\\"Lumen\" mere";
  ASSERT_EQ(RegSetValueExA(key, "Dword", 0, REG_DWORD, reinterpret_cast<BYTE*>(&d), 4), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "Bin", 0, REG_BINARY, bin, sizeof bin), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "installdir", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), strlen(text) + 1),
            ERROR_SUCCESS);
  const char* odd = "line\nbreak";
  ASSERT_EQ(RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(odd), strlen(odd) + 1), ERROR_SUCCESS);
  RegCloseKey(key);

  std::string file = testenv::readFile(registryFilePath());
  EXPECT_EQ(file.rfind("REGEDIT4\n", 0), 0u);
  EXPECT_NE(file.find("[HKEY_CURRENT_USER\\Software\\Tessolar\\Lumenmere]"), std::string::npos);
  EXPECT_NE(file.find("\"Dword\"=dword:cafef00d"), std::string::npos);

  // Names of keys and values are found without regard to case.
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\TESSOLAR\\lumenmere", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(readDword(key, "DWORD"), 0xCAFEF00Du);
  BYTE got[16] = {};
  DWORD size = sizeof got, type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "bin", nullptr, &type, got, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  ASSERT_EQ(size, sizeof bin);
  EXPECT_EQ(memcmp(got, bin, sizeof bin), 0);
  char str[100];
  size = sizeof str;
  ASSERT_EQ(RegQueryValueExA(key, "installdir", nullptr, &type, reinterpret_cast<BYTE*>(str), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, strlen(text) + 1);
  EXPECT_STREQ(str, text);
  size = sizeof str;
  ASSERT_EQ(RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(str), &size), ERROR_SUCCESS);
  EXPECT_STREQ(str, odd);
  // Too little room: the size needed, nothing copied.
  size = 3;
  EXPECT_EQ(RegQueryValueExA(key, "installdir", nullptr, &type, reinterpret_cast<BYTE*>(str), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, strlen(text) + 1);
  LONG r;
  readDword(key, "missing", &r);
  EXPECT_EQ(r, ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST(Registry, KeysAreCreatedEnumeratedAndDeleted) {
  useFreshRegistry();
  HKEY key = 0;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  for (const char* k : {"Software\\Tessolar\\Zeta", "Software\\Tessolar\\alpha\\deep", "Software\\Tessolar\\Beta"}) {
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, k, &key), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar", &key, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  std::vector<std::string> names;
  char name[64];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    LONG r = RegEnumKeyExA(key, i, name, &size);
    if (r == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(r, ERROR_SUCCESS);
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Beta", "Zeta"}));
  // A key with sub-keys is not deleted by RegDeleteKey, only by the tree form.
  EXPECT_EQ(RegDeleteKeyA(key, "alpha"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(key, "Zeta"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeA(key, "ALPHA"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(key, "Zeta"), ERROR_FILE_NOT_FOUND);
  DWORD size = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(key, 0, name, &size), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Beta");
  size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(key, 1, name, &size), ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
  HKEY deep = 0;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar\\alpha\\deep", 0, KEY_READ, &deep),
            ERROR_FILE_NOT_FOUND);
  // The machine hive is separate from the user's.
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Tessolar\\Beta", 0, KEY_READ, &deep), ERROR_FILE_NOT_FOUND);
}

TEST(Registry, TwoProcessesKeepEachOthersValues) {
  useFreshRegistry();
  HKEY key = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar\\Shared", &key), ERROR_SUCCESS);
  RegCloseKey(key);
  // Two writers, each setting 50 values of its own at the same time.
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      HKEY k = 0;
      if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar\\Shared", 0, KEY_WRITE, &k) != ERROR_SUCCESS) _exit(1);
      for (DWORD i = 0; i < 50; ++i) {
        std::string n = "p" + std::to_string(c) + "_" + std::to_string(i);
        if (RegSetValueExA(k, n.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&i), 4) != ERROR_SUCCESS) _exit(1);
      }
      _exit(0);
    }
  }
  for (pid_t p : children) {
    int status = 0;
    waitpid(p, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar\\Shared", 0, KEY_READ, &key), ERROR_SUCCESS);
  for (int c = 0; c < 2; ++c)
    for (DWORD i = 0; i < 50; ++i) {
      LONG r;
      std::string n = "p" + std::to_string(c) + "_" + std::to_string(i);
      EXPECT_EQ(readDword(key, n.c_str(), &r), i) << n;
      EXPECT_EQ(r, ERROR_SUCCESS);
    }
  RegCloseKey(key);
}

TEST(Registry, BadHandlesAreRefused) {
  useFreshRegistry();
  HKEY key = 0;
  EXPECT_EQ(RegOpenKeyExA(0x1234, "x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(0x1234), ERROR_INVALID_HANDLE);
  DWORD d = 1;
  EXPECT_EQ(RegSetValueExA(0x1234, "x", 0, REG_DWORD, reinterpret_cast<BYTE*>(&d), 4), ERROR_INVALID_HANDLE);
}

namespace {
// Runs `body` in a child process with standard error going to `errPath`;
// true when the child exited 0.
template <class Body>
bool inChild(const std::string& errPath, Body body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (FILE* f = std::freopen(errPath.c_str(), "w", stderr)) setvbuf(f, nullptr, _IONBF, 0);
    _exit(body() ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}
}  // namespace

TEST(Registry, CommentsUnknownLinesAndOtherValuesSurviveWritesByteForByte) {
  useFreshRegistry();
  // Written by hand and by other tools: comments, CRLF lines, a deletion
  // section, a line of unknown syntax, hex data over several lines, a value
  // given twice (the later one counts), a key given twice.
  const std::string before =
      "REGEDIT4\n"
      "; made by hand\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
      "\"Kept\"=\"as it was\"\r\n"
      "\"Wide\"=hex(2):41,00,42,00,\\\n"
      "    43,00,00,00\n"
      "\n"
      "[-HKEY_CURRENT_USER\\Software\\Gone]\n"
      "\"under a deletion\"=dword:00000001\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\Tessolar\\Lumenmere]\n"
      "# not a REGEDIT4 line\n"
      "\"Mode\"=dword:00000001\n"
      "\"Twice\"=\"first\"\n"
      "\"Spare\"=\"keep me\"\n"
      "\"Twice\"=\"second\"\n"
      "\"Old\"=dword:00000002\n"
      "\"Broken\"=hex:zz\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\n"
      "\"Again\"=dword:0000000a\n"
      "; the end";
  ASSERT_TRUE(testenv::writeFile(registryFilePath(), before));

  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar\\Lumenmere", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  char text[32];
  DWORD size = sizeof text, type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "twice", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
  EXPECT_STREQ(text, "second");
  DWORD mode = 3;
  ASSERT_EQ(RegSetValueExA(key, "Mode", 0, REG_DWORD, reinterpret_cast<BYTE*>(&mode), 4), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "New", 0, REG_SZ, reinterpret_cast<const BYTE*>("fresh"), 6), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueA(key, "old"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "TWICE", 0, REG_SZ, reinterpret_cast<const BYTE*>("third"), 6), ERROR_SUCCESS);
  RegCloseKey(key);
  HKEY added = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar\\Lumenmere\\Added", &added), ERROR_SUCCESS);
  RegCloseKey(added);
  // The second section of Other counts as Other.
  HKEY other = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Other", 0, KEY_READ, &other), ERROR_SUCCESS);
  EXPECT_EQ(readDword(other, "again"), 10u);
  RegCloseKey(other);

  const std::string after =
      "REGEDIT4\n"
      "; made by hand\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
      "\"Kept\"=\"as it was\"\r\n"
      "\"Wide\"=hex(2):41,00,42,00,\\\n"
      "    43,00,00,00\n"
      "\n"
      "[-HKEY_CURRENT_USER\\Software\\Gone]\n"
      "\"under a deletion\"=dword:00000001\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\Tessolar\\Lumenmere]\n"
      "# not a REGEDIT4 line\n"
      "\"Mode\"=dword:00000003\n"
      "\"Spare\"=\"keep me\"\n"
      "\"Broken\"=hex:zz\n"
      "\"New\"=\"fresh\"\n"
      "\"TWICE\"=\"third\"\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\Tessolar\\Lumenmere\\Added]\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\n"
      "\"Again\"=dword:0000000a\n"
      "; the end\n";
  EXPECT_EQ(testenv::readFile(registryFilePath()), after);

  // Written back unchanged, any text is itself again.
  EXPECT_EQ(RegistryDocument(after).text(), after);
  EXPECT_EQ(RegistryDocument(before).text(), before + "\n");
}

TEST(Registry, TheFileIsParsedOncePerChange) {
  useFreshRegistry();
  // One key with 20,000 values, as a long-used installation may have.
  std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Tessolar\\Lumenmere]\n";
  for (int i = 0; i < 20000; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "\"value%d\"=dword:%08x\n", i, 0x10000000u + i);
    text += line;
  }
  ASSERT_TRUE(testenv::writeFile(registryFilePath(), text));

  const uint64_t start = registryParseCount();
  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar\\Lumenmere", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  for (int i = 0; i < 20000; i += 97) {
    LONG r = 0;
    EXPECT_EQ(readDword(key, ("VALUE" + std::to_string(i)).c_str(), &r), 0x10000000u + DWORD(i));
    EXPECT_EQ(r, ERROR_SUCCESS);
  }
  EXPECT_EQ(registryParseCount() - start, 1u);
  // Our own writes need no parse of what was just written.
  DWORD one = 1;
  ASSERT_EQ(RegSetValueExA(key, "value5", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);
  EXPECT_EQ(readDword(key, "value5"), 1u);
  EXPECT_EQ(registryParseCount() - start, 1u);

  // Another program's change is seen at the next call.
  const std::string changed = testenv::readFile(registryFilePath()) + "\"Outside\"=dword:00000007\n";
  const std::string temp = registryFilePath() + ".other";
  ASSERT_TRUE(testenv::writeFile(temp, changed));
  ASSERT_EQ(rename(temp.c_str(), registryFilePath().c_str()), 0);
  EXPECT_EQ(readDword(key, "outside"), 7u);
  EXPECT_EQ(readDword(key, "value5"), 1u);
  EXPECT_EQ(registryParseCount() - start, 2u);
  RegCloseKey(key);
}

TEST(Registry, AFileThatCannotBeReadIsNeverReplaced) {
  // As root, permissions don't keep a reader out: the child becomes
  // nobody first.
  struct Case {
    const char* name;
    bool unreadableFile;  // else a FIFO stands where the file belongs
  } cases[] = {{"unreadable file", true}, {"FIFO", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = testenv::freshDir("reg");
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    const std::string path = dir + "/registry.reg";
    const std::string content = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Tessolar]\n\"Keep\"=dword:00000001\n";
    if (c.unreadableFile) {
      ASSERT_TRUE(testenv::writeFile(path, content));
      ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    } else {
      ASSERT_EQ(mkfifo(path.c_str(), 0666), 0);
    }
    setenv("LUMENMERE_REGISTRY", path.c_str(), 1);
    const std::string errPath = dir + "/stderr.txt";
    const bool refused = inChild(errPath, [&] {
      if (c.unreadableFile && geteuid() == 0 && setuid(65534) != 0) return false;
      if (c.unreadableFile && access(path.c_str(), R_OK) == 0) return false;  // the test would prove nothing
      HKEY key = 0;
      if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar\\New", &key) != ERROR_ACCESS_DENIED) return false;
      for (int i = 0; i < 2; ++i) {
        HKEY k = 0;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar", &k) != ERROR_ACCESS_DENIED) return false;
      }
      return true;
    });
    EXPECT_TRUE(refused);
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    if (c.unreadableFile) {
      EXPECT_TRUE(S_ISREG(st.st_mode));
      EXPECT_EQ(testenv::readFile(path), content);
    } else {
      EXPECT_TRUE(S_ISFIFO(st.st_mode));
    }
    // Said once, naming the file.
    const std::string said = testenv::readFile(errPath);
    EXPECT_EQ(occurrences(said, "cannot be read"), 1u) << said;
    EXPECT_NE(said.find(path), std::string::npos) << said;
  }
}

TEST(Registry, NamesWithLineBreaksAreRefused) {
  useFreshRegistry();
  HKEY key = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar", &key), ERROR_SUCCESS);
  DWORD d = 1;
  EXPECT_EQ(RegSetValueExA(key, "two\nlines", 0, REG_DWORD, reinterpret_cast<BYTE*>(&d), 4), ERROR_INVALID_PARAMETER);
  HKEY sub = 0;
  EXPECT_EQ(RegCreateKeyExA(key, "a\r\n[HKEY_LOCAL_MACHINE\\Forged]", &sub), ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Forged", 0, KEY_READ, &sub), ERROR_FILE_NOT_FOUND);
  // A value whose name ends like hex data stays one line.
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tessolar", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  const char* text = "ends in \\";
  ASSERT_EQ(RegSetValueExA(key, "x=hex", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), strlen(text) + 1),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "after", 0, REG_DWORD, reinterpret_cast<BYTE*>(&d), 4), ERROR_SUCCESS);
  RegistryDocument reread(testenv::readFile(registryFilePath()));
  ASSERT_NE(reread.value("HKEY_CURRENT_USER\\Software\\Tessolar", "after"), nullptr);
  RegCloseKey(key);
}
