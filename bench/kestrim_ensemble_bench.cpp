// Ray mapping at scale: the batch polynomial against coftran ray by ray
// (a plain compiled loop over the same full fifth-order polynomial), SYNTH
// and SORT on 10^7 rays (and the same work in one pass) against dd writing
// the same bytes, and ENSEMB on 1000 variants x 200 000 rays with TAVO's
// TOLERA writing the variants beside it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "gxlib/math/prng.h"
#include "kestrim/kestrim.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"
#include "kestrim/raypoly.h"
#include "tavo/commands.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Every coefficient of the file non-zero: first, second, third and fifth
// order and the chromatic terms.
const char* kFullCof =
    " Full fifth-order polynomial\n"
    "5e-6,0,5e-6,0\n1.5e-4,0,1.5e-4,0\n 6.5\n C\n0.1\n7.36\n"
    "-0.05,-7e-6,1e-3,2e-3\n-3.6,-20,1e-3,4e-3\n4e-4,1e-3,-0.0625,3e-5\n1e-3,5e-3,-2.9,-16\n"
    "0.1,0.6,2e-6,8e-6,1.0,6e-6,2e-5,-0.9,-5.5,-8.5\n"
    "0.2,1.1,6e-6,2e-5,1.7,1.6e-5,5e-5,-1.9,-11.6,-17.9\n"
    "1e-5,9e-5,-1.1,-3.4,1e-4,-3.6,-11.2,2e-5,1e-4,2e-4\n"
    "5e-5,3e-4,-3.7,-11.4,5e-4,-12,-37,7e-5,4e-4,6e-4\n"
    "-2.1e5,-6.5e5,1.2e3,-8.4e2,3.1e4,-15.5,2.2e2,-73,0.35,-0.12,5e3,4e4\n"
    "-3.4e5,-5.8e5,2.6e3,9.1e2,2.7e4,-22.1,1.9e2,-56,0.41,0.17,3e3,2e4\n"
    "1e9,2e9,3e9,4e9,5e9,6e9\n7e9,8e9,9e9,1e10,2e9,3e9\n-0.52,1.8\n2e-3,-1.5e-3\n";

struct Scratch {
  Scratch(const char* tag) {
    std::string t = std::string("/tmp/") + tag + "XXXXXX";
    std::vector<char> b(t.begin(), t.end());
    b.push_back('\0');
    if (::mkdtemp(b.data()) == nullptr) throw std::runtime_error("mkdtemp");
    dir = b.data();
    old = fs::current_path();
    fs::current_path(dir);
    std::ofstream("full.cof") << kFullCof;
  }
  ~Scratch() {
    fs::current_path(old);
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir, old;
};

struct Store {
  std::istringstream in;
  std::ostringstream out;
  kestrim::Kestrim k{in, out};
  Store() {
    std::string name = "full.cof";
    if (kestrim::cofin(k, name) != 0) throw std::runtime_error("cofin");
  }
};

kestrim::RayArrays objectRays(size_t n, std::uint64_t seed) {
  kestrim::RayArrays r;
  r.resize(n);
  gx::Prng g(seed);
  for (size_t i = 0; i < n; ++i) {
    r.x[i] = 5e-6 * g.symmetric();
    r.th[i] = 2e-5 * g.symmetric();
    r.y[i] = 5e-6 * g.symmetric();
    r.ph[i] = 2e-5 * g.symmetric();
    r.de[i] = 0.05 * g.symmetric();
  }
  return r;
}

constexpr size_t kBatch = 1 << 16;

// The batch polynomial on one core.
void BM_PolyBatch(benchmark::State& st) {
  Scratch s("polybench");
  Store store;
  const kestrim::RayPoly p = kestrim::rayPoly(store.k);
  const kestrim::RayArrays r = objectRays(kBatch, 1);
  std::vector<double> xo(kBatch), tho(kBatch), yo(kBatch), pho(kBatch);
  for (auto _ : st) {
    kestrim::mapRays(p, r.x.data(), r.th.data(), r.y.data(), r.ph.data(), r.de.data(), kBatch,
                     xo.data(), tho.data(), yo.data(), pho.data());
    benchmark::DoNotOptimize(xo.data());
    benchmark::ClobberMemory();
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kBatch);
}
BENCHMARK(BM_PolyBatch)->Unit(benchmark::kMicrosecond);

// The plain loop: coftran ray by ray over the same rays and polynomial.
void BM_PlainLoop(benchmark::State& st) {
  Scratch s("plainbench");
  Store store;
  const kestrim::RayArrays r = objectRays(kBatch, 1);
  std::vector<double> xo(kBatch), tho(kBatch), yo(kBatch), pho(kBatch);
  for (auto _ : st) {
    for (size_t i = 0; i < kBatch; ++i)
      kestrim::coftran(store.k, r.x[i], r.th[i], r.y[i], r.ph[i], r.de[i], xo[i], tho[i], yo[i], pho[i]);
    benchmark::DoNotOptimize(xo.data());
    benchmark::ClobberMemory();
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * kBatch);
}
BENCHMARK(BM_PlainLoop)->Unit(benchmark::kMicrosecond);

// The batch polynomial on every core: 2^22 rays in blocks.
void BM_PolyAllCores(benchmark::State& st) {
  Scratch s("polyall");
  Store store;
  const kestrim::RayPoly p = kestrim::rayPoly(store.k);
  const size_t n = size_t{1} << 22;
  const kestrim::RayArrays r = objectRays(n, 2);
  std::vector<double> X(n), Y(n);
  const int threads = kestrim::mappingThreads();
  for (auto _ : st) {
    kestrim::parallelFor(n / kBatch, threads, [&](size_t b) {
      kestrim::mapToPlane(p, r, b * kBatch, kBatch, 0.0, X.data() + b * kBatch, Y.data() + b * kBatch);
    });
    benchmark::DoNotOptimize(X.data());
  }
  st.SetItemsProcessed(static_cast<int64_t>(st.iterations()) * n);
  st.counters["threads"] = threads;
}
BENCHMARK(BM_PolyAllCores)->Unit(benchmark::kMillisecond)->UseRealTime();

// dd writing bytes of zeros to a new file in the working directory, in
// seconds; with sync, on the disk before dd ends (conv=fsync), as SYNTH
// makes its set safe before it takes its name.
double ddSeconds(std::uintmax_t bytes, bool sync = false) {
  const std::string cmd = "dd if=/dev/zero of=dd.bin bs=1M count=" +
                          std::to_string((bytes + (1 << 20) - 1) >> 20) + (sync ? " conv=fsync" : "") +
                          " status=none";
  const auto t0 = Clock::now();
  const int rc = std::system(cmd.c_str());
  const auto t1 = Clock::now();
  fs::remove("dd.bin");
  return rc == 0 ? seconds(t0, t1) : -1.0;
}

// KESTRIM's own commands on about 10^7 rays: SYNTH in regular mode (a
// square object of 11 x 11 points, an aperture of 283 x 283) mapped
// through the full polynomial and written, then SORT counting them into its
// 25 x 25 grid (at the system's end the extent was found when DATA counted
// the set: one pass for the counts). Beside them dd writes the bytes of the
// ray set, into the page cache only and then onto the disk as SYNTH does
// (its set is synced before it is named). The ratios are the counters:
// ratio against dd as SYNTH writes, ratio_cache against dd left in memory.
void BM_SynthSortAgainstDd(benchmark::State& st) {
  Scratch s("synthsort");
  double synth = 0, sort = 0, dd = 0, ddSync = 0;
  long long rays = 0;
  for (auto _ : st) {
    fs::remove("full.bin");
    const auto t0 = Clock::now();
    {
      std::istringstream in("SYNTH/N full\n2\n\n100 80000\nS\n10 10\n\n0.3 0.3\n\n\n\nQ\nEXIT\n");
      std::ostringstream out;
      kestrim::Kestrim k(in, out);
      kestrim::kqsession(k);
      rays = k.ntot;
    }
    const auto t1 = Clock::now();
    {
      std::istringstream in("DATA full\nSORT\n25\n0\n\nEXIT\n");
      std::ostringstream out;
      kestrim::Kestrim k(in, out);
      kestrim::kqsession(k);
      if (out.str().find("Using a maximum range") == std::string::npos) st.SkipWithError("SORT failed");
    }
    const auto t2 = Clock::now();
    synth += seconds(t0, t1);
    sort += seconds(t1, t2);
    dd += ddSeconds(fs::file_size("full.bin"));
    ddSync += ddSeconds(fs::file_size("full.bin"), true);
  }
  const double n = static_cast<double>(st.iterations());
  st.counters["rays"] = static_cast<double>(rays);
  st.counters["synth_s"] = synth / n;
  st.counters["sort_s"] = sort / n;
  st.counters["dd_s"] = dd / n;
  st.counters["dd_fsync_s"] = ddSync / n;
  st.counters["ratio"] = (synth + sort) / ddSync;
  st.counters["ratio_cache"] = (synth + sort) / dd;
}
BENCHMARK(BM_SynthSortAgainstDd)->Unit(benchmark::kSecond)->Iterations(5)->UseRealTime();

// The same work in one pass, as SYNTH's blocks do it but without the
// dialogue or the reading back: 10^7 object rays made, mapped, packed
// as records and counted into a 25 x 25 grid on every core, block by
// block, each group of blocks written with one write.
void BM_OnePassAgainstDd(benchmark::State& st) {
  Scratch s("pipebench");
  Store store;
  const kestrim::RayPoly p = kestrim::rayPoly(store.k);
  const size_t total = 10000000, blocks = (total + kBatch - 1) / kBatch;
  const int threads = kestrim::mappingThreads();
  double ours = 0, dd = 0;
  for (auto _ : st) {
    const auto t0 = Clock::now();
    FILE* f = std::fopen("big.bin", "wb");
    char caption[108] = {};
    const std::uint32_t len = 100;
    std::memcpy(caption, &len, 4);
    std::memset(caption + 4, ' ', 100);
    std::memcpy(caption + 104, &len, 4);
    std::fwrite(caption, 1, 108, f);
    const size_t group = 2 * static_cast<size_t>(threads);
    // Two sets of record buffers: one group is written while the next is made.
    std::vector<std::vector<char>> recs[2] = {std::vector<std::vector<char>>(group),
                                              std::vector<std::vector<char>>(group)};
    std::vector<std::vector<long long>> grid(group, std::vector<long long>(25 * 25, 0));
    std::vector<kestrim::RayArrays> ins(group);
    std::vector<std::vector<double>> outs(group, std::vector<double>(4 * kBatch));
    for (auto& in : ins) in.resize(kBatch);
    std::future<void> writing;
    for (size_t b0 = 0, turn = 0; b0 < blocks; b0 += group, turn ^= 1) {
      const size_t nb = std::min(group, blocks - b0);
      std::vector<std::vector<char>>& rec = recs[turn];
      kestrim::parallelFor(nb, threads, [&](size_t j) {
        const size_t from = (b0 + j) * kBatch, n = std::min(kBatch, total - from);
        // A regular grid in the four coordinates and the energy, as SYNTH's
        // regular mode makes: ray a's place follows from a alone.
        kestrim::RayArrays& in = ins[j];
        for (size_t i = 0; i < n; ++i) {
          const size_t a = from + i;
          in.x[i] = 5e-6 * (static_cast<double>(a % 101) / 50.0 - 1.0);
          in.th[i] = 2e-5 * (static_cast<double>(a / 101 % 101) / 50.0 - 1.0);
          in.y[i] = 5e-6 * (static_cast<double>(a / 10201 % 101) / 50.0 - 1.0);
          in.ph[i] = 2e-5 * (static_cast<double>(a / 1030301 % 101) / 50.0 - 1.0);
          in.de[i] = 0.05 * (static_cast<double>(a % 11) / 5.0 - 1.0);
        }
        double* o = outs[j].data();
        kestrim::mapRays(p, in.x.data(), in.th.data(), in.y.data(), in.ph.data(), in.de.data(), n, o, o + n,
                         o + 2 * n, o + 3 * n);
        rec[j].resize(48 * n);
        kestrim::kqpackrays(rec[j].data(), o, o + n, o + 2 * n, o + 3 * n, in.de.data(), n);
        for (size_t i = 0; i < n; ++i) {
          const double gx = std::floor(24.0 * (o[i] + 1e-4) / 2e-4 + 0.5);
          const double gy = std::floor(24.0 * (o[2 * n + i] + 1e-4) / 2e-4 + 0.5);
          if (gx >= 0 && gx < 25 && gy >= 0 && gy < 25) ++grid[j][static_cast<size_t>(gy * 25 + gx)];
        }
      });
      if (writing.valid()) writing.get();
      writing = std::async(std::launch::async, [&rec, nb, f] {
        for (size_t j = 0; j < nb; ++j) std::fwrite(rec[j].data(), 1, rec[j].size(), f);   // in block order
      });
    }
    if (writing.valid()) writing.get();
    std::fclose(f);
    benchmark::DoNotOptimize(grid.data());
    const auto t1 = Clock::now();
    ours += seconds(t0, t1);
    dd += ddSeconds(fs::file_size("big.bin"));
    fs::remove("big.bin");
  }
  st.counters["ours_s"] = ours / st.iterations();
  st.counters["dd_s"] = dd / st.iterations();
  st.counters["ratio"] = ours / dd;
}
BENCHMARK(BM_OnePassAgainstDd)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

// TOLERA writing 1000 variants, then ENSEMB mapping 200 000 rays through
// each and making the statistics and the ranking.
void BM_Ensemble1000(benchmark::State& st) {
  Scratch s("ensbench");
  fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / "triplet.tav", "triplet.tav");
  double write = 0, map = 0;
  int run = 0;
  for (auto _ : st) {
    const std::string name = "tol" + std::to_string(run++);
    const auto t0 = Clock::now();
    {
      std::istringstream in("DATA triplet\nTOLERA " + name +
                            "\n1e-6 1e-6\n2e-4\n1e-4 1e-4\n1e-3 1e-3\n\n\n1000 1\nC\nEXIT\n");
      std::ostringstream out;
      tavo::run(in, out);
    }
    const auto t1 = Clock::now();
    {
      std::istringstream in("ENSEMB " + name + "\n\n200000\n10 10\n1 1\n0.05\n7\n0\n\n" + name +
                            ".sum\n\nEXIT\n");
      std::ostringstream out;
      kestrim::run(in, out);
      if (out.str().find("Summary written") == std::string::npos) st.SkipWithError("ENSEMB failed");
    }
    const auto t2 = Clock::now();
    write += seconds(t0, t1);
    map += seconds(t1, t2);
  }
  st.counters["tolera_s"] = write / st.iterations();
  st.counters["ensemb_s"] = map / st.iterations();
  st.counters["threads"] = kestrim::mappingThreads();
}
BENCHMARK(BM_Ensemble1000)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace
