// The fits a designer waits for: STIG on the example triplet, a MASK fit of
// three coefficients and an AGP grid of 50 x 50 points, each with its count
// of system evaluations (objective calls; a MASK call with a chromatic
// target evaluates the system three times).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tavo/commands.h"
#include "tavo/design/design.h"

namespace {

namespace fs = std::filesystem;

// A session with the example triplet loaded, in a directory of its own.
struct Loaded {
  Loaded() {
    char tmpl[] = "/tmp/tavobenchXXXXXX";
    if (::mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
    dir = tmpl;
    old = fs::current_path();
    fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / "triplet.tav", dir / "triplet.tav");
    fs::current_path(dir);
    tavo::Command c;
    c.line = "DATA    triplet";
    c.raw = "DATA triplet";
    tavo::cmdData(s, c);
    table = s.bdata;
  }
  ~Loaded() {
    std::error_code ec;
    fs::current_path(old, ec);
    fs::remove_all(dir, ec);
  }
  // Fresh answers and output for one run; the table as loaded, detuned.
  void reset(const std::string& answers) {
    in.str(answers);
    in.clear();
    out.str(std::string());
    s.bdata = table;
    s.bdata(4, 3) *= 0.97;
    s.bdata(8, 3) *= 0.97;
    s.bdata(6, 3) *= 1.02;
  }
  std::istringstream in;
  std::ostringstream out;
  tavo::Tavo s{in, out};
  tavo::tavo_bdata table;
  fs::path dir, old;
};

void BM_StigTriplet(benchmark::State& state) {
  Loaded t;
  long long calls = 0;
  for (auto _ : state) {
    t.reset("");
    tavo::Command c;
    c.line = "STIG";
    tavo::cmdStig(t.s, c);
    calls = t.s.mon.ncall;
  }
  state.counters["evaluations"] = static_cast<double>(calls);
}
BENCHMARK(BM_StigTriplet)->Unit(benchmark::kMillisecond);

void BM_MaskFitThreeCoefficients(benchmark::State& state) {
  Loaded t;
  // Q1, Q2 and Q3 free; targets x/theta, y/phi and the chromatic x/theta dE.
  const std::string answers = "1 4 3 1\n1 6 3 2\n1 8 3 3\n1 0 0 0\n1 1 2 0\n1 2 4 0\n2 1 1 0\n1 0 0 0\n";
  long long calls = 0;
  for (auto _ : state) {
    t.reset(answers);
    tavo::Command c;
    c.line = "MASK";
    tavo::cmdMask(t.s, c);
    calls = t.s.mon.ncall;
  }
  state.counters["evaluations"] = static_cast<double>(calls);
}
BENCHMARK(BM_MaskFitThreeCoefficients)->Unit(benchmark::kMillisecond);

void BM_Agp50x50(benchmark::State& state) {
  Loaded t;
  const std::string answers =
      "1 4 3 1\n1 6 3 2\n1 8 3 1\n1 0 0 0\n1 1 2 0\n1 2 4 0\n1 0 0 0\n"
      "0.12 0.14\n-0.23 -0.22\n50 50\ngrid.agp\n";
  long long calls = 0;
  for (auto _ : state) {
    t.reset(answers);
    t.s.mon.ncall = 0;
    tavo::Command c;
    c.line = "AGP";
    tavo::cmdAgp(t.s, c);
    calls = t.s.mon.ncall;
    fs::remove("grid.agp");
  }
  state.counters["evaluations"] = static_cast<double>(calls);
}
BENCHMARK(BM_Agp50x50)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
