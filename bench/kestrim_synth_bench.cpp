// SYNTH of about 200000 rays generated, mapped through a realistic
// third-order polynomial and written, beside a plain buffered loop that
// writes the same records.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRays = 200000;

// A working directory of its own for the benchmark's files.
struct Scratch {
  Scratch() {
    char tmpl[] = "/tmp/synthbenchXXXXXX";
    if (::mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
    dir = tmpl;
    old = fs::current_path();
    fs::current_path(dir);
    std::ofstream f("probe.cof");
    f << " Triplet probe 3 MeV H+ demag 20 x 16\n"
         "5e-6,0,5e-6,0\n1.5e-4,0,1.5e-4,0\n 6.5\n C\n0.1\n7.36\n"
         "-0.05,0,0,0\n-3.6,-20,0,0\n0,0,-0.0625,0\n0,0,-2.9,-16\n"
         "40*0\n"
         "-2.1e5,-6.5e5,1.2e3,-8.4e2,3.1e4,-15.5,2.2e2,-73,0.35,-0.12,0,0\n"
         "-3.4e5,-5.8e5,2.6e3,9.1e2,2.7e4,-22.1,1.9e2,-56,0.41,0.17,0,0\n"
         "12*0\n-0.52,1.8\n2e-3,-1.5e-3\n";
  }
  ~Scratch() {
    std::error_code ec;
    fs::current_path(old, ec);
    fs::remove_all(dir, ec);
  }
  fs::path dir, old;
};

void putRecord(std::ofstream& f, const void* p, std::uint32_t n) {
  f.write(reinterpret_cast<const char*>(&n), 4);
  f.write(static_cast<const char*>(p), n);
  f.write(reinterpret_cast<const char*>(&n), 4);
}

// Baseline: the same file (caption and 200000 five-double records) written
// with a buffered stream and nothing else.
void BM_PlainWrite200k(benchmark::State& state) {
  Scratch s;
  for (auto _ : state) {
    std::ofstream f("plain.bin", std::ios::binary | std::ios::trunc);
    std::string cap = gx::pad("Triplet probe", 100);
    putRecord(f, cap.data(), 100);
    for (int i = 0; i < kRays; ++i) {
      const double v[5] = {i * 1e-9, i * 1e-7, -i * 1e-9, -i * 1e-7, 0.0};
      putRecord(f, v, 40);
    }
    f.close();
    benchmark::DoNotOptimize(fs::file_size("plain.bin"));
  }
  state.SetItemsProcessed(state.iterations() * kRays);
}

// One SYNTH of `rays` rays per iteration, driven by the given answers.
void runSynth(benchmark::State& state, const std::string& answers, long long rays = kRays) {
  Scratch s;
  for (auto _ : state) {
    std::istringstream in(answers);
    std::ostringstream out;
    kestrim::Kestrim k(in, out);
    k.gx.clock = [] { return std::string("12:34:56"); };
    kestrim::KqLine c{gx::pad("SYNTH  probe", 40), 'N', 0.0, "probe"};
    kestrim::kqsynth(k, c);
    if (k.ntot != rays) state.SkipWithError("SYNTH did not write the rays asked for");
    benchmark::DoNotOptimize(k.ntot);
  }
  state.SetItemsProcessed(state.iterations() * rays);
}

// Regular mode, 20^4 asked for on square apertures: 21 x 21 points in the
// object and in the aperture, 194481 rays and the pair, each mapped
// through the polynomial.
void BM_Synth200k(benchmark::State& state) {
  runSynth(state, "2\n160000\ns\n10 10\n\n0.3 0.3\n\n\n\nq\n", 194483);
}

// Random mode with flux peaking: two draws per point, rejections, energies.
void BM_SynthRandom200k(benchmark::State& state) {
  runSynth(state, "1\n199998\n\n10 10\n\n0.3 0.3\n\n0.5\n0.5 0.5\nq\n");
}

}  // namespace

BENCHMARK(BM_PlainWrite200k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Synth200k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SynthRandom200k)->Unit(benchmark::kMillisecond);

// The benchmark binary is built from every file in bench/; a weak main lets
// another file bring its own without a clash.
__attribute__((weak)) int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
