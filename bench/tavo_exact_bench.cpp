// Maps integrated through the fields: the example triplet and a line of
// five quadrupoles, hard edge at third order and soft edge at third and
// fifth order (four variables, as EXACT uses them).
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>
#include <vector>

#include "tavo/exact/exact.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace {

// Rows (code, length, field, bore) from row 3 on; 3 MeV protons.
tavo::Lattice lattice(const std::vector<std::vector<double>>& rows) {
  std::istringstream in;
  std::ostringstream out;
  tavo::Tavo s(in, out);
  s.bdata(1, 2) = 1.0;
  s.bdata(1, 3) = 1.007276;
  s.bdata(1, 4) = s.bdata(1, 12) = 3.0;
  s.bdata(1, 5) = -1.0;
  s.bdata(2, 1) = 1.0;
  int r = 3;
  for (const auto& v : rows) {
    for (int c = 0; c < 4; ++c) s.bdata(r, c + 1) = v[c];
    ++r;
  }
  s.bdata(r, 1) = 9.0;
  tavo::Mat4 a;
  tavo::stigmat(s, 1, a);
  tavo::Lattice lat;
  std::string why;
  if (!tavo::buildLattice(s, lat, why)) throw std::runtime_error(why);
  return lat;
}

const std::vector<std::vector<double>> kTriplet = {
    {3.0, 3.0, 0, 0},      {4.0, 0.06, 0.129905, 0.006}, {3.0, 0.05, 0, 0},
    {4.0, 0.06, -0.226126, 0.006}, {3.0, 0.05, 0, 0}, {4.0, 0.06, 0.129905, 0.006},
    {3.0, 0.2, 0, 0}};

// A five-quadrupole probe-forming line, short working distance.
const std::vector<std::vector<double>> kFive = {
    {3.0, 4.0, 0, 0},  {4.0, 0.1, 0.12, 0.008},  {3.0, 0.1, 0, 0},  {4.0, 0.1, -0.2, 0.008},
    {3.0, 0.1, 0, 0},  {4.0, 0.1, 0.22, 0.008},  {3.0, 0.1, 0, 0},  {4.0, 0.1, -0.25, 0.008},
    {3.0, 0.1, 0, 0},  {4.0, 0.1, 0.2, 0.008},   {3.0, 0.15, 0, 0}};

void run(benchmark::State& st, const std::vector<std::vector<double>>& rows, tavo::EdgeModel model,
         int order) {
  const tavo::Lattice lat = lattice(rows);
  const tavo::da::Space sp(4, order);
  tavo::MapSettings set;
  set.model = model;
  for (auto _ : st) {
    std::vector<tavo::da::Poly> map;
    std::string why;
    if (!tavo::systemMap(lat, set, sp, map, why)) st.SkipWithError(why.c_str());
    benchmark::DoNotOptimize(map);
  }
}

void BM_TripletHard3(benchmark::State& st) { run(st, kTriplet, tavo::EdgeModel::Hard, 3); }
void BM_TripletSoft5(benchmark::State& st) { run(st, kTriplet, tavo::EdgeModel::Soft, 5); }
void BM_FiveHard3(benchmark::State& st) { run(st, kFive, tavo::EdgeModel::Hard, 3); }
void BM_FiveSoft3(benchmark::State& st) { run(st, kFive, tavo::EdgeModel::Soft, 3); }
void BM_FiveSoft5(benchmark::State& st) { run(st, kFive, tavo::EdgeModel::Soft, 5); }

}  // namespace

BENCHMARK(BM_TripletHard3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TripletSoft5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FiveHard3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FiveSoft3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FiveSoft5)->Unit(benchmark::kMillisecond);
