// aqrender as a user runs it: frames written as PNG files that show the
// pictures under the water, repeatable runs, clear errors.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "scenetest.h"
#include "tools/aqrender/pngfile.h"

using namespace scenetest;

namespace {

struct RunResult {
  int exitCode = -1;
  std::string output;
};

RunResult aqrender(const std::string& arguments) {
  const std::string command =
      "SDL_VIDEODRIVER=offscreen LIBGL_ALWAYS_SOFTWARE=1 " + std::string(LM_AQRENDER_PATH) + " " + arguments + " 2>&1";
  RunResult run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace

TEST(Aqrender, WritesFramesOfWaterOverThePictures) {
  const std::string dir = testenv::freshDir("aqrender");
  const std::string green = writeBitmap(dir, "green.bmp", 160, 120, solid(160, 120, 30, 200, 60));
  const std::string violet = writeBitmap(dir, "violet.bmp", 160, 120, solid(160, 120, 150, 40, 220));
  const std::string pattern = dir + "/f%02d.png";
  const RunResult run = aqrender("--size 160x120 --frames 40 --every 20 --flags 1 --click 80,60@2 --out " + pattern +
                                 " " + green + " " + violet);
  if (run.exitCode != 0 && run.output.find("no OpenGL") != std::string::npos)
    LM_SKIP_UNLESS_REQUIRED(testenv::Need::display, "no renderer: " + run.output);
  ASSERT_EQ(run.exitCode, 0) << run.output;

  // Frames 0, 20 and the last, 39.
  std::vector<uint32_t> first, last;
  int w = 0, h = 0;
  ASSERT_TRUE(readPng(dir + "/f00.png", first, w, h));
  EXPECT_EQ(w, 160);
  EXPECT_EQ(h, 120);
  EXPECT_TRUE(readPng(dir + "/f20.png", last, w, h));
  ASSERT_TRUE(readPng(dir + "/f39.png", last, w, h));
  EXPECT_FALSE(readPng(dir + "/f01.png", last, w, h));
  ASSERT_TRUE(readPng(dir + "/f39.png", last, w, h));
  // The first frame: the first picture under calm water.
  EXPECT_EQ(first[60 * 160 + 80] & 0xFFFFFF, 0x1EC83Cu);
  EXPECT_EQ(first[5 * 160 + 5] & 0xFFFFFF, 0x1EC83Cu);
  // After the click the second picture shows around it, the first stays
  // far from it.
  const uint32_t centre = last[60 * 160 + 80];
  EXPECT_GT(static_cast<int>(centre & 0xFF), 150) << std::hex << centre;
  EXPECT_LT(static_cast<int>((centre >> 8) & 0xFF), 120) << std::hex << centre;
  const uint32_t corner = last[3 * 160 + 3];
  EXPECT_GT(static_cast<int>((corner >> 8) & 0xFF), 150) << std::hex << corner;

  // The same run again gives the same frame.
  const std::string again = dir + "/g%02d.png";
  ASSERT_EQ(aqrender("--size 160x120 --frames 40 --every 100 --flags 1 --click 80,60@2 --out " + again + " " + green +
                     " " + violet)
                .exitCode,
            0);
  std::vector<uint32_t> repeat;
  ASSERT_TRUE(readPng(dir + "/g39.png", repeat, w, h));
  EXPECT_EQ(repeat, last);
}

TEST(Aqrender, ClearErrors) {
  struct Case {
    std::string arguments;
    int exitCode;
    std::string says;
  };
  const std::string dir = testenv::freshDir("aqrender-errors");
  for (const Case& c :
       {Case{"--size 0x10", 2, "--size needs"}, Case{"--frames none", 2, "--frames needs"},
        Case{"--click 1,2", 2, "--click needs"}, Case{"--out frame.png", 2, "--out needs"},
        Case{"--bogus", 2, "unknown option --bogus"}, Case{dir + "/missing.jpg", 1, "cannot read the picture"},
        Case{"--settings " + dir + "/none.ini", 1, "cannot read the settings file"}}) {
    const RunResult run = aqrender(c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << c.arguments << "\n" << run.output;
  }
}
