#include "tests/common/testenv.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace testenv {

namespace {
std::string& rootStorage() {
  static std::string r;
  return r;
}
}  // namespace

void setUp() {
  char tmpl[] = "/tmp/lumenmere-test-XXXXXX";
  const char* made = mkdtemp(tmpl);
  if (!made) {
    std::perror("mkdtemp");
    std::exit(2);
  }
  rootStorage() = made;
  const std::string& r = rootStorage();
  for (const char* sub : {"/home", "/config", "/data", "/work"}) mkdir((r + sub).c_str(), 0755);
  setenv("HOME", (r + "/home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (r + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (r + "/data").c_str(), 1);
  setenv("LUMENMERE_REGISTRY", (r + "/config/registry.reg").c_str(), 1);
  if (chdir((r + "/work").c_str()) != 0) std::exit(2);
}

void tearDown() {
  if (rootStorage().empty() || std::getenv("LM_KEEP_TEST_DIR")) return;
  std::string cmd = "rm -rf '" + rootStorage() + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", rootStorage().c_str());
}

const std::string& root() { return rootStorage(); }

std::string freshDir(const std::string& hint) {
  static int counter = 0;
  std::string d = root() + "/" + hint + "-" + std::to_string(++counter);
  mkdir(d.c_str(), 0755);
  return d;
}

std::string dataDir() {
  const char* d = std::getenv("LM_TEST_DATA");
  return d ? d : LM_SOURCE_DIR "/tests/data";
}

std::string sharedDataDir() {
  const char* d = std::getenv("LM_SHARED_DATA");
  std::string p = d ? d : LM_SOURCE_DIR "/../shared/testdata";
  struct stat st;
  return stat(p.c_str(), &st) == 0 ? p : std::string();
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

DisplayLock::DisplayLock() {
  fd_ = open(LM_BINARY_DIR "/tests/shell/.x11-end-to-end.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ >= 0) flock(fd_, LOCK_EX);
}

DisplayLock::~DisplayLock() {
  if (fd_ >= 0) close(fd_);
}

bool required(Need need) {
  const char* v = std::getenv(need == Need::display ? "LM_REQUIRE_DISPLAY" : "LM_REQUIRE_SHARED_DATA");
  return v && *v && std::strcmp(v, "0") != 0;
}

}  // namespace testenv
