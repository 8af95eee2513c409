// The analyses on a 200000-ray set, each command from its first prompt to
// its last file written, beside one plain buffered read of the same set:
// MAP into a PostScript file, SORT, PROFIL and DIFF. Each should take at
// most three times the plain read.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gxlib/fortran/fortio.h"
#include "gxlib/plot/plot.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"
#include "kestrim/state.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRays = 200000;

void putRecord(std::ofstream& f, const void* p, std::uint32_t n) {
  f.write(reinterpret_cast<const char*>(&n), 4);
  f.write(static_cast<const char*>(p), n);
  f.write(reinterpret_cast<const char*>(&n), 4);
}

// A spot of 200000 rays round the axis at the image plane, with its
// paraxial pair, in a working directory of its own.
struct SpotSet {
  SpotSet() {
    char tmpl[] = "/tmp/kqanalysisXXXXXX";
    if (::mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
    dir = tmpl;
    old = fs::current_path();
    fs::current_path(dir);
    std::ofstream f("spot.bin", std::ios::binary);
    std::string cap = gx::pad("Benchmark spot", 100);
    putRecord(f, cap.data(), 100);
    double pair[2][5] = {{0, 0, 0, 0, 0}, {0, 1e-3, 0, 1e-3, 0}};
    putRecord(f, pair[0], 40);
    putRecord(f, pair[1], 40);
    double s = 0.3;
    for (int i = 0; i < kRays - 2; ++i) {
      s = std::fabs(std::fmod(9821.0 * s + 0.211327, 1.0));
      const double r = std::sqrt(s) * 1e-6;
      s = std::fabs(std::fmod(9821.0 * s + 0.211327, 1.0));
      const double a = 6.2831853 * s;
      double v[5] = {r * std::cos(a), 1e-4 * s, 0.7 * r * std::sin(a), -1e-4 * s, 0.1 * s};
      putRecord(f, v, 40);
    }
  }
  ~SpotSet() {
    std::error_code ec;
    fs::current_path(old, ec);
    fs::remove_all(dir, ec);
  }
  fs::path dir, old;
};

SpotSet& spot() {
  static SpotSet s;
  return s;
}

// One command on the open set, with the answers to its prompts.
template <class Run>
void command(benchmark::State& state, const std::string& answers, Run run) {
  spot();
  for (auto _ : state) {
    state.PauseTiming();
    std::istringstream in(answers);
    std::ostringstream out;
    kestrim::Kestrim k(in, out);
    std::string name = "spot";
    int ierr = 1;
    kestrim::kqio(k, 'R', name, ierr);
    if (ierr != 0 || k.ntot != kRays) state.SkipWithError("cannot open the set");
    k.rayFile = gx::pad("spot.bin", 100);
    state.ResumeTiming();
    run(k);
    state.PauseTiming();
    kestrim::kqio(k, 'E', name, ierr);
    gx::gxquit(k.gx, '*');
    k.gx.io.closeAll();
    std::error_code ec;
    for (const char* f : {"plt01.ps", "num.ps", "kestrim.run"}) fs::remove(f, ec);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRays);
}

void BM_PlainRead200k(benchmark::State& state) {
  spot();
  std::vector<char> buffer(1 << 20);
  for (auto _ : state) {
    std::ifstream f;
    f.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    f.open("spot.bin", std::ios::binary);
    char m[4], cap[100], rec[40];
    f.read(m, 4);
    f.read(cap, 100);
    f.read(m, 4);
    double sum = 0;
    for (int i = 0; i < kRays; ++i) {
      std::uint32_t a, b;
      f.read(reinterpret_cast<char*>(&a), 4);
      f.read(rec, 40);
      f.read(reinterpret_cast<char*>(&b), 4);
      if (!f || a != 40 || b != 40) break;
      double v[5];
      std::memcpy(v, rec, 40);
      sum += v[0] + v[1] + v[2] + v[3] + v[4];
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kRays);
}
BENCHMARK(BM_PlainRead200k)->Unit(benchmark::kMillisecond);

void BM_Map200kPostScript(benchmark::State& state) {
  command(state, "X\n\n", [](kestrim::Kestrim& k) {
    kestrim::KqLine c{gx::pad("MAP", 40), 'Q', 0.0, ""};
    kestrim::kqmapcmd(k, c);
    gx::gxquit(k.gx, '*');   // the file complete on disk
  });
}
BENCHMARK(BM_Map200kPostScript)->Unit(benchmark::kMillisecond);

void BM_Sort200k(benchmark::State& state) {
  command(state, "25\n0\n\n", [](kestrim::Kestrim& k) {
    kestrim::KqLine c{gx::pad("SORT", 40), ' ', 0.0, "grid"};
    kestrim::kqsort(k, c);
  });
}
BENCHMARK(BM_Sort200k)->Unit(benchmark::kMillisecond);

void BM_Profil200k(benchmark::State& state) {
  command(state, "100\n", [](kestrim::Kestrim& k) {
    kestrim::KqLine c{gx::pad("PROFIL", 40), 'X', 0.0, "prof"};
    kestrim::kqprofile(k, c);
  });
}
BENCHMARK(BM_Profil200k)->Unit(benchmark::kMillisecond);

void BM_Diff200k(benchmark::State& state) {
  command(state, "50\n0\n\n", [](kestrim::Kestrim& k) {
    kestrim::KqLine c{gx::pad("DIFF", 40), ' ', 0.0, "bright"};
    kestrim::kqdiff(k, c);
  });
}
BENCHMARK(BM_Diff200k)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// The same map with no output device: what the map itself costs.
void BM_Map200kNoDevice(benchmark::State& state) {
  command(state, "X\n\n", [](kestrim::Kestrim& k) {
    kestrim::KqLine c{gx::pad("MAP", 40), 'U', 0.0, ""};
    kestrim::kqmapcmd(k, c);
  });
}
BENCHMARK(BM_Map200kNoDevice)->Unit(benchmark::kMillisecond);

}  // namespace
