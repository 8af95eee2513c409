// KESTRIM's analyses on a ray set: every input starts with the set made
// current, then arbitrary command lines and answers follow. The set has its
// paraxial pair and a few hundred rays with slopes and energies, so MAP,
// SORT, SHADOW, PROFIL, PLOT, DIFF, DELTAE and TRANS all reach their
// arithmetic; a coefficient file is at hand for TRANS and FIND.
#include <cmath>
#include <cstring>

#include "fuzz_support.h"
#include "kestrim/kestrim.h"

namespace {

tkfuzz::Examples examples;

std::string record(const void* p, uint32_t n) {
  std::string s(4, '\0');
  std::memcpy(s.data(), &n, 4);
  return s + std::string(static_cast<const char*>(p), n) + s;
}

std::string raySet() {
  std::string cap = "Fuzzed analyses";
  cap.resize(100, ' ');
  std::string s = record(cap.data(), 100);
  auto add = [&](double x, double th, double y, double ph, double de) {
    const double v[5] = {x, th, y, ph, de};
    s += record(v, sizeof v);
  };
  add(0, 0, 0, 0, 0);
  add(1e-6, -1e-3, 1e-6, -1e-3, 0);
  for (int k = 0; k < 300; ++k) {
    const double a = 0.7 * k, r = 1e-6 * (k + 1) / 300.0;
    add(r * std::cos(a), 1e-4 * std::sin(a), r * std::sin(a), -1e-4 * std::cos(a), 0.01 * (k % 7 - 3));
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::noTerminal();
  tkfuzz::boundFiles();
  examples = tkfuzz::loadExamples({"triplet.cof", "identity.cof"});
  examples.emplace_back("b.bin", raySet());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in = "DATA b\n" + std::string(tkfuzz::cut(data, size));
  // VALUES lists every ray: after a SYNTH of 200 000 rays two of them take
  // over 20 s instrumented and pass for a hang. One per input (PREV would
  // repeat it) keeps the command covered, as in the session target.
  return tkfuzz::runSession(examples, reinterpret_cast<const uint8_t*>(in.data()), in.size(),
                            [](std::istream& i, std::ostream& o) { kestrim::run(i, o); },
                            tkfuzz::once("VALUES", 1, "PREV"));
}
