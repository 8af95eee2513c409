// The system file: any file read by DATA, then shown, listed, traced to
// first order and saved again in a whole TAVO session.
#include <sstream>

#include "fuzz_support.h"
#include "tavo/commands.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::noTerminal();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tkfuzz::freshScratch();
  tkfuzz::writeFile("f.tav", tkfuzz::cut(data, size));
  std::istringstream in("DATA f\nSYSTEM\nSMAT\nP\nELEMEN\nSAVE g\nDATA g\nEXIT\n");
  std::ostringstream out;
  tavo::run(in, out);
  return 0;
}
