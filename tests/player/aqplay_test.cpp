// aqplay as a user runs it: a song it can't play is named.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tests/common/testenv.h"

namespace {

struct ToolRun {
  int status;
  std::string out;  // standard output and standard error
};

ToolRun runAqplay(const std::string& args) {
  const std::string command = std::string(LM_AQPLAY_PATH) + " " + args + " </dev/null 2>&1";
  ToolRun r{-1, {}};
  std::FILE* f = popen(command.c_str(), "r");
  if (!f) return r;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) r.out.append(buffer, n);
  const int status = pclose(f);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

}  // namespace

TEST(Aqplay, NamesTheFileItCouldNotPlay) {
  const std::string dir = testenv::freshDir("aqplay");
  const std::string bad = dir + "/not-a-song.mp3";
  testenv::writeFile(bad, std::string(20000, '\x55'));  // no MPEG frames at all
  const ToolRun r = runAqplay("--once --capture " + dir + "/out.wav " + bad);
  EXPECT_NE(r.out.find("aqplay: " + bad + ": Tessolar cannot play this file/stream."), std::string::npos) << r.out;
  EXPECT_EQ(r.status, 1) << "nothing could be played";
}
