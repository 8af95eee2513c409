// The aberration polynomial of a coefficient file applied to 10^6 rays in
// KESTRIM's own loop: the figure the Python module's map is measured
// against (bench/python_map.py).
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>
#include <vector>

#include "kestrim/kq.h"
#include "kestrim/state.h"

namespace {

constexpr int kRays = 1000000;

void BM_Coftran1M(benchmark::State& state) {
  std::istringstream in;
  std::ostringstream out;
  kestrim::Kestrim k(in, out);
  std::string name = std::string(TK_SOURCE_DIR) + "/examples/triplet.cof";
  if (kestrim::cofin(k, name) != 0) {
    state.SkipWithError("triplet.cof not read");
    return;
  }
  // The same rays as the Python benchmark: a regular fan over the object
  // and the aperture.
  std::vector<double> rays(static_cast<size_t>(kRays) * 5), mapped(static_cast<size_t>(kRays) * 5);
  for (int i = 0; i < kRays; ++i) {
    double* r = &rays[static_cast<size_t>(i) * 5];
    r[0] = 5e-6 * ((i % 101) / 50.0 - 1.0);
    r[1] = 2e-5 * ((i % 97) / 48.0 - 1.0);
    r[2] = 5e-6 * ((i % 89) / 44.0 - 1.0);
    r[3] = 2e-5 * ((i % 83) / 41.0 - 1.0);
    r[4] = 0.5 * ((i % 79) / 39.0 - 1.0);
  }
  for (auto _ : state) {
    for (int i = 0; i < kRays; ++i) {
      const double* v = &rays[static_cast<size_t>(i) * 5];
      double* w = &mapped[static_cast<size_t>(i) * 5];
      kestrim::coftran(k, v[0], v[1], v[2], v[3], v[4], w[0], w[1], w[2], w[3]);
      w[4] = v[4];
    }
    benchmark::DoNotOptimize(mapped.data());
  }
}
BENCHMARK(BM_Coftran1M)->Unit(benchmark::kMillisecond);

}  // namespace
