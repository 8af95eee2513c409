// Ray sets: any file opened as a ray set by DATA and its rays listed, and
// any file taken as a text dump by DUMP and the set it makes read back.
#include <sstream>

#include "fuzz_support.h"
#include "kestrim/kestrim.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::noTerminal();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  tkfuzz::freshScratch();
  std::string_view bytes = tkfuzz::cut(data + 1, size - 1);
  std::string script;
  if (data[0] & 1) {
    tkfuzz::writeFile("f.txt", bytes);
    script = "DUMP f\nDATA f\nNTOT\nVALUES 20\nCAPTIO\n\nEXIT\n";
  } else {
    tkfuzz::writeFile("f.bin", bytes);
    script = "DATA f.bin\nNTOT\nVALUES 20\nLIST f.lis\nSAVE g.bin\nDATA g.bin\nNTOT\nEXIT\n";
  }
  std::istringstream in(script);
  std::ostringstream out;
  kestrim::run(in, out);
  return 0;
}
