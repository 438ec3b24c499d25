// The machine the workbench debugs: processor state, memory image, the simulator over them
// and what the last build left (line table, load information, watch rows). The main window
// owns one for the life of the process; tests and the runner make their own.
#pragma once

#include "build_program.h"
#include "cpu86.h"
#include "cpu_state.h"
#include "mem_image.h"

struct TMachine {
  TCPUState cpu;
  TMemImage memory;
  TCPU86 simulator{cpu, memory};
  TBuildState build;
};
