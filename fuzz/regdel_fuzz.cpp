// The register and delays files: kqsort.reg and kqsort.del as any bytes,
// read when a KESTRIM session starts and by REGLD, and written by REGSAV.
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
  // The first byte splits the rest between the two files.
  size_t split = bytes.size() * data[0] / 255;
  tkfuzz::writeFile("kqsort.reg", bytes.substr(0, split));
  tkfuzz::writeFile("kqsort.del", bytes.substr(split));
  std::istringstream in("REG\nREGLD\nREG\nREGSAV\nREGLD\nREG\nEXIT\n");
  std::ostringstream out;
  kestrim::run(in, out);
  return 0;
}
