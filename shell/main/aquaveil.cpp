// The screen saver's entry point.
#include "shell/entry.h"

int main(int argc, char** argv) { return aquaveilMain(argc, argv); }
