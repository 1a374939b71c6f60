#pragma once

struct TCommandLine;

// What a start of the program does once its application object is
// initialized and before its event loop runs: takes the screen's colour
// depth, sends the network components' errors to the error box on the
// window's thread (also those of components fetching ahead on worker
// threads), and makes the main window, with the command line's settings,
// and the hidden viewer.
void OpenProgramWindows(const TCommandLine& commandLine);
