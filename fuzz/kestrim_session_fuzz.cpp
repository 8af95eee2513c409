// Whole KESTRIM sessions: arbitrary command lines and answers, with a
// coefficient file and a text dump at hand, in a scratch folder emptied
// before each run.
#include <sstream>

#include "fuzz_support.h"
#include "kestrim/kestrim.h"

#ifndef TK_SOURCE_DIR
#define TK_SOURCE_DIR "."
#endif

namespace {
std::string examples[3][2];
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::noTerminal();
  const char* names[3] = {"triplet.cof", "identity.cof", "beam.txt"};
  for (int i = 0; i < 3; ++i) {
    std::ifstream f(std::string(TK_SOURCE_DIR) + "/examples/" + names[i], std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    examples[i][0] = names[i];
    examples[i][1] = s.str();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tkfuzz::freshScratch();
  for (const auto& e : examples) tkfuzz::writeFile(e[0], e[1]);
  std::istringstream in(tkfuzz::sessionInput(tkfuzz::cut(data, size)));
  std::ostringstream out;
  kestrim::run(in, out);
  return 0;
}
