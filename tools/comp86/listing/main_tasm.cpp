// TASM.EXE: the assembler with the Borland command line and listing.
#include "listing.h"

int main(int argc, char** argv) {
  return comp86::RunAssemblerTool(comp86::TDialect::Tasm,
                                  std::vector<std::string>(argv + 1, argv + argc));
}
