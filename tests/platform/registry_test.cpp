#include "platform/registry.h"

#include <gtest/gtest.h>
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
