#pragma once
// The screen saver's entry point: seeds the random generator, notes the
// program directory, starts the frame clock, opens the process-wide pack
// and settings, then runs the water application in the mode the command
// line names.  Returns the program's exit code.
int aquaveilMain(int argc, char** argv);

// Makes SIGTERM and SIGINT end a saver run cleanly (the loop sees them at
// its next turn).
void installTerminationHandler();
