// QXVDOS.EXE: runs the AUTOEXEC.INI of its current directory, as the workbench's build asks.
// It takes no arguments and never waits for the user.
#include "qxvdos.h"

int main() { return comp86::qxvdos::RunScriptFile("AUTOEXEC.INI", stdout, stderr); }
