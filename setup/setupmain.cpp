#include <cstdio>

#include "setup/setupflow.h"

int setupMain(int argc, char** argv) {
  const SetupOptions options = parseSetupOptions(argc, argv);
  if (!options.error.empty()) {
    std::fprintf(stderr, "setup: %s\n%s", options.error.c_str(), kSetupUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(kSetupUsage, stdout);
    return 0;
  }
  if (!options.unattended) {
    std::fprintf(stderr, "setup: the pages are not built yet; run with --unattended\n");
    return 2;
  }
  std::unique_ptr<SetupUi> ui = makeUnattendedUi(options);
  return runSetup(options, *ui);
}
