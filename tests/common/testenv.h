#pragma once
// Every test program runs in a fresh temporary directory that stands in for
// the user's home, configuration, data and registry, so that no test ever
// touches the user's own files.
#include <string>

namespace testenv {

// The temporary root made for this test program (also the starting
// current directory).
const std::string& root();

// A fresh, empty directory below root() for one test.
std::string freshDir(const std::string& hint = "t");

// tests/data of the source tree, and the shared conformance data beside the
// checkout ("" when absent).
std::string dataDir();
std::string sharedDataDir();

std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& bytes);

}  // namespace testenv
