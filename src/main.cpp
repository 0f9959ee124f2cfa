// vemo-s7-browser: the desktop browser for the variables of S7-1200/1500
// controllers. No command-line options; everything happens in the window.
#include "Startup.h"

int main() { return vemo::browserMain(); }
