// Whole KESTRIM sessions: arbitrary command lines and answers, with a
// coefficient file and a text dump at hand, in a scratch folder emptied
// before each run.
#include "fuzz_support.h"
#include "kestrim/kestrim.h"

namespace {
tkfuzz::Examples examples;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::noTerminal();
  examples = tkfuzz::loadExamples({"triplet.cof", "identity.cof", "beam.txt"});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return tkfuzz::runSession(examples, data, size,
                            [](std::istream& in, std::ostream& out) { kestrim::run(in, out); });
}
