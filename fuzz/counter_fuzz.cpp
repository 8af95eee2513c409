// The run counters of the plot drivers: num.ps, hpnum.hgl and num.svg as
// any bytes, read and advanced when a PostScript, HP-GL or SVG plot file is
// started.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "fuzz_support.h"
#include "gxlib/gxlib.h"
#include "gxlib/plot/plot.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::noTerminal();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  tkfuzz::freshScratch();
  std::string_view bytes = tkfuzz::cut(data + 2, size - 2, 768);
  // The first two bytes cut the rest into the three counters.
  size_t a = bytes.size() * data[0] / 255, b = a + (bytes.size() - a) * data[1] / 255;
  tkfuzz::writeFile("num.ps", bytes.substr(0, a));
  tkfuzz::writeFile("hpnum.hgl", bytes.substr(a, b - a));
  tkfuzz::writeFile("num.svg", bytes.substr(b));
  std::istringstream in("\n\n\n\n");
  std::ostringstream out;
  {
    gx::Lib g(in, out);
    try {
      for (char dev : {'Q', 'H', 'V'}) {
        for (int i = 0; i < 2; ++i) {
          int ierr = 0;
          gx::gxstart(g, 5, 6, 0, 1.4142135f, dev, 0, 1, 0, 1, ierr);
          gx::gxplot(g, dev, 0.5f, 0.5f, 2);
          gx::gxend(g, dev);
        }
      }
    } catch (const gx::EndOfInput&) {
    }
  }
  // Whatever the counters held, every SVG file written is complete.
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(".", ec)) {
    const std::string n = e.path().filename().string();
    if (n.size() < 4 || n.substr(n.size() - 4) != ".svg" || n == "num.svg") continue;
    std::ifstream f(e.path(), std::ios::binary);
    std::string body((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (body.size() < 7 || body.substr(body.size() - 7) != "</svg>\n") std::abort();
  }
  return 0;
}
