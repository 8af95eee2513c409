// Help files: any file as the help file, looked up with the keys its own
// first line names, and listed as the keyword index.
#include <sstream>

#include "fuzz_support.h"
#include "gxlib/gxlib.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::noTerminal();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text = tkfuzz::cut(data, size, 16384);
  tkfuzz::freshScratch();
  tkfuzz::writeFile("fuzz.hlp", text);
  std::string key(text.substr(0, std::min<size_t>(text.find('\n'), 12)));
  std::istringstream in("\n\n\n\n");
  std::ostringstream out;
  gx::Lib g(in, out);
  try {
    gx::gxhelp(g, 5, 6, 1, "fuzz.hlp", "");
    gx::gxhelp(g, 5, 6, 0, "fuzz.hlp", key);
    gx::gxhelp(g, 5, 6, 0, "fuzz.hlp", "*");
    gx::gxhelp(g, 5, 6, 0, "fuzz.hlp", "A");
  } catch (const gx::EndOfInput&) {
  }
  return 0;
}
