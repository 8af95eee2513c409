// Whole TAVO sessions: arbitrary command lines and answers, with the
// example systems at hand, in a scratch folder emptied before each run.
#include "fuzz_support.h"
#include "tavo/commands.h"

namespace {
tkfuzz::Examples examples;

// The exact maps (EXACT in all its forms, COFOUT/H and COFOUT/E) integrate
// fifth-order series through the whole system: about 0.4 s in a release
// build, over 20 s with the sanitizers and coverage. AGP evaluates the
// whole system at up to a million grid points: about 2 s in a release
// build, 20 s here. Their dialogues are covered by the session tests
// and the catalogue; here they would only look like hangs.
bool tooSlow(const std::string& w) {
  if (w.rfind("EXA", 0) == 0 || w.rfind("AG", 0) == 0) return true;
  const size_t slash = w.find('/');
  return w.rfind("COF", 0) == 0 && slash != std::string::npos && slash + 1 < w.size() &&
         (w[slash + 1] == 'H' || w[slash + 1] == 'E');
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::noTerminal();
  examples = tkfuzz::loadExamples({"triplet.tav", "doublet.tav", "electrostatic.tav"});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // TRACE runs the system twice per step, up to 100 000 steps: one per
  // input keeps it covered (it was near half of this target's time).
  // Two letters at least: T alone is THIRD.
  auto trace = tkfuzz::once("TRACE", 2);
  return tkfuzz::runSession(
      examples, data, size, [](std::istream& in, std::ostream& out) { tavo::run(in, out); },
      [&trace](const std::string& line) { return tooSlow(tkfuzz::firstWord(line)) || trace(line); });
}
