// The prompted updater: a reply given (gxupdatec) and replies read from the
// terminal and from a macro file (gxupdate, gxaskupdate), one or two values.
#include <sstream>

#include "fuzz_support.h"
#include "gxlib/console/converse.h"
#include "gxlib/gxlib.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::noTerminal();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text = tkfuzz::cut(data, size);
  std::string first(text.substr(0, text.find('\n')));
  {
    std::istringstream in;
    std::ostringstream out;
    gx::Lib g(in, out);
    double a = 1.5, b = -2.5;
    gx::gxupdatec(g, 5, 6, 0, a, b, first);
    gx::gxupdatec(g, 5, 6, 1, a, b, first);
  }
  {
    std::istringstream in{std::string(text)};
    std::ostringstream out;
    gx::Lib g(in, out);
    double a = 1.0, b = 2.0;
    try {
      for (int i = 0; i < 8; ++i) {
        gx::gxupdate(g, 5, 6, 0, a, b);
        gx::gxupdate(g, 5, 6, 0, a);
      }
    } catch (const gx::EndOfInput&) {
    }
  }
  {
    tkfuzz::freshScratch();
    tkfuzz::writeFile("answers.mac", text);
    std::istringstream in;
    std::ostringstream out;
    gx::Lib g(in, out);
    int unit = 5;
    double a = 0.0, b = 0.0;
    try {
      if (gx::gxmacro(g, unit, 6, "answers.mac", "FUZZ")) {
        for (int i = 0; i < 8; ++i)
          if (gx::gxaskupdate(g, unit, 6, 1, " Values> ", a, b) == gx::Reply::End) break;
        gx::gxmacroend(g, unit);
      }
    } catch (const gx::EndOfInput&) {
    }
  }
  return 0;
}
