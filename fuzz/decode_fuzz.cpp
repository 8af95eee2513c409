// The command decoder: any line gives a 40-column line, a qualifier and a
// value, and decoding the result again changes nothing more.
#include <cstdlib>
#include <sstream>

#include "fuzz_support.h"
#include "gxlib/gxlib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in;
  std::ostringstream out;
  gx::Lib g(in, out);
  std::string line(tkfuzz::cut(data, size, 256));
  char qual = ' ';
  double value = 0.0;
  gx::gxdecode(g, line, qual, value);
  if (line.size() != 40) std::abort();
  return 0;
}
