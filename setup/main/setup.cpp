// The installer, uninstaller and packing tool.
#include "setup/setupflow.h"

int main(int argc, char** argv) { return setupMain(argc, argv); }
