// Whole KESTRIM sessions: arbitrary command lines and answers, with a
// coefficient file and a text dump at hand, in a scratch folder emptied
// before each run.
#include <cctype>

#include "fuzz_support.h"
#include "kestrim/kestrim.h"

namespace {
tkfuzz::Examples examples;
int valuesLines = 0;

// VALUES over a full ray set prints 200 000 lines: about 4 s in the
// instrumented build, so a few of them would pass for a hang. One per
// input keeps the command covered.
bool tooSlow(const std::string& line) {
  size_t b = line.find_first_not_of(" \t");
  if (b == std::string::npos) return false;
  std::string w;
  for (size_t i = b; i < line.size() && std::isalpha(static_cast<unsigned char>(line[i])); ++i)
    w += static_cast<char>(std::toupper(static_cast<unsigned char>(line[i])));
  if (w.empty() || std::string("VALUES").rfind(w, 0) != 0) return false;
  return ++valuesLines > 1;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::noTerminal();
  examples = tkfuzz::loadExamples({"triplet.cof", "identity.cof", "beam.txt"});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  valuesLines = 0;
  return tkfuzz::runSession(examples, data, size,
                            [](std::istream& in, std::ostream& out) { kestrim::run(in, out); }, tooSlow);
}
