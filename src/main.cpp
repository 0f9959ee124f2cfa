// vemo-s7-browser: the desktop browser for the variables of S7-1200/1500
// controllers. Everything happens in the window; the command line has only
// --help and --version.
#include "Startup.h"

int main(int argc, char** argv) { return vemo::browserMain(argc, argv); }
