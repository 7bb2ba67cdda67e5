// The installer, uninstaller and packing tool: its pages, or with
// --unattended none.
#include <cstdio>

#include "setup/gtk/gtkpages.h"
#include "setup/setupflow.h"

int main(int argc, char** argv) {
  const SetupOptions options = parseSetupOptions(argc, argv);
  if (!options.error.empty()) {
    std::fprintf(stderr, "setup: %s\n%s", options.error.c_str(), kSetupUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(kSetupUsage, stdout);
    return 0;
  }
  if (!options.unattended) return runSetupWithPages(options);
  std::unique_ptr<SetupUi> ui = makeUnattendedUi(options);
  return runSetup(options, *ui);
}
