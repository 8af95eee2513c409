// Whole TAVO sessions: arbitrary command lines and answers, with the
// example systems at hand, in a scratch folder emptied before each run.
#include "fuzz_support.h"
#include "tavo/commands.h"

namespace {
tkfuzz::Examples examples;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::noTerminal();
  examples = tkfuzz::loadExamples({"triplet.tav", "doublet.tav", "electrostatic.tav"});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return tkfuzz::runSession(examples, data, size,
                            [](std::istream& in, std::ostream& out) { tavo::run(in, out); });
}
