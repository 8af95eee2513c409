// The run counters of the plot drivers: num.ps and hpnum.hgl as any bytes,
// read and advanced when a PostScript or HP-GL plot file is started.
#include <sstream>

#include "fuzz_support.h"
#include "gxlib/gxlib.h"
#include "gxlib/plot.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::noTerminal();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  tkfuzz::freshScratch();
  std::string_view bytes = tkfuzz::cut(data + 1, size - 1, 512);
  size_t split = bytes.size() * data[0] / 255;
  tkfuzz::writeFile("num.ps", bytes.substr(0, split));
  tkfuzz::writeFile("hpnum.hgl", bytes.substr(split));
  std::istringstream in("\n\n\n\n");
  std::ostringstream out;
  gx::Lib g(in, out);
  try {
    for (char dev : {'Q', 'H'}) {
      for (int i = 0; i < 2; ++i) {
        int ierr = 0;
        gx::gxstart(g, 5, 6, 0, 1.4142135f, dev, 0, 1, 0, 1, ierr);
        gx::gxplot(g, dev, 0.5f, 0.5f, 2);
        gx::gxend(g, dev);
      }
    }
  } catch (const gx::EndOfInput&) {
  }
  return 0;
}
