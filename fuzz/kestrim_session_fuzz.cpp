// Whole KESTRIM sessions: arbitrary command lines and answers, with a
// coefficient file and a text dump at hand, in a scratch folder emptied
// before each run.
#include "fuzz_support.h"
#include "kestrim/kestrim.h"

namespace {
tkfuzz::Examples examples;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::noTerminal();
  tkfuzz::boundFiles();
  examples = tkfuzz::loadExamples({"triplet.cof", "identity.cof", "beam.txt"});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // VALUES over a full ray set prints 200 000 lines: about 4 s in the
  // instrumented build, so a few of them would pass for a hang. One per
  // input (PREV would repeat it) keeps the command covered.
  return tkfuzz::runSession(
      examples, data, size, [](std::istream& in, std::ostream& out) { kestrim::run(in, out); },
      tkfuzz::once("VALUES", 1, "PREV"));
}
