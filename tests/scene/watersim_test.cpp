#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "platform/crtrand.h"
#include "scene/watersurface.h"
#include "tests/common/testenv.h"

namespace {

struct RunResult {
  int status = -1;
  std::string out;
};

// Runs watersim with the given standard input (stderr discarded).
RunResult runWatersim(const std::string& input, const std::string& args = "") {
  std::string dir = testenv::freshDir("watersim");
  std::string inPath = dir + "/in.txt";
  testenv::writeFile(inPath, input);
  std::string command = std::string("'") + LM_WATERSIM_PATH + "' " + args + " < '" + inPath + "' 2>/dev/null";
  RunResult r;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return r;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
  int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08x", v);
  return b;
}

std::string g9(float v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.9g", v);
  return b;
}

}  // namespace

TEST(Watersim, TracesTheSameRunAsTheSurface) {
  const std::string script =
      "# a short run with every command\n"
      "build 800 600 60 0x00ff8040 1\n"
      "seed 12345\n"
      "drop 400 300 130\n"
      "drop 0 0 0\n"
      "\n"
      "drag 10 20 300 200 10\n"
      "step 0.03\n"
      "step 0.05 3.5 28 -1.25\n"
      "transition\n"
      "dump\n";
  RunResult r = runWatersim(script);
  ASSERT_EQ(r.status, 0);

  WaterSurface s;
  ASSERT_EQ(s.build(800, 600, 60, 0x00ff8040, 1), 0);
  platform::srand(12345);
  s.drop(400, 300, 130);
  s.drop(0, 0, 0);
  s.dragLine(10, 20, 300, 200, 10);
  s.step(D3DXVECTOR3(0, 30, 0), 0.03f);
  s.step(D3DXVECTOR3(3.5f, 28, -1.25f), 0.05f);
  std::ostringstream expected;
  expected << s.startTransition() << "\n";
  expected << s.cols() << " " << s.rows() << " " << g9(s.widthUnits()) << " " << g9(s.heightUnits()) << " "
           << g9(s.colOffset()) << " " << g9(s.rowOffset()) << " " << s.blendDirection() << " " << s.busyCount()
           << "\n";
  for (int row = 0; row < s.rows(); ++row) {
    for (int col = 0; col < s.cols(); ++col) {
      const int n = row * s.cols() + col;
      const SurfaceVertex& v = s.vertices()[n];
      const BlendNode& b = s.blendNodes()[n];
      expected << row << " " << col << " " << g9(s.height(n)) << " " << g9(s.velocity(n)) << " " << g9(s.restOffsetX(n))
               << " " << g9(s.restOffsetZ(n)) << " " << g9(v.x) << " " << g9(v.y) << " " << g9(v.z) << " " << g9(v.nx)
               << " " << g9(v.ny) << " " << g9(v.nz) << " " << hex(v.diffuse) << " " << hex(b.colour) << " " << b.phase
               << " " << g9(b.blend) << "\n";
    }
  }
  // The fade has only just begun, so no transition starts.
  EXPECT_NE(r.out.substr(0, 2), "0\n");
  EXPECT_EQ(r.out, expected.str());
}

TEST(Watersim, RefusesWhatItCannotRead) {
  const char* bad[] = {
      "drop 1 1 130\n",                        // before build
      "build 800 600 60 zz 1\n",               // colour not hex
      "build 800 0 60 0 1\n",                  // build fails
      "build 800 600 60 0 1\nstep\n",          // missing dt
      "build 800 600 60 0 1\nstep 0.1 1 2\n",  // eye needs three numbers
      "build 800 600 60 0 1\ndrop 1 x 3\n",
      "build 800 600 60 0 1\nfly 1\n",
      "seed -1\n",
  };
  for (const char* input : bad) EXPECT_EQ(runWatersim(input).status, 1) << input;
  RunResult help = runWatersim("", "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("dump"), std::string::npos);
  EXPECT_NE(help.out.find("%.9g"), std::string::npos);
  EXPECT_EQ(runWatersim("", "--bogus").status, 2);
  // Output before the bad line is kept.
  RunResult partial = runWatersim("build 800 600 60 0 1\ntransition\nnonsense\n");
  EXPECT_EQ(partial.status, 1);
  EXPECT_EQ(partial.out, "1\n");
}
