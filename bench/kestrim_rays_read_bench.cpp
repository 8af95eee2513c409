// Reading a 200000-ray set ray by ray through the read channel, beside a
// plain buffered loop that reads the same records.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kestrim/kq.h"
#include "kestrim/state.h"

namespace {

constexpr int kRays = 200000;

void putMarker(std::ofstream& f, std::uint32_t n) {
  char m[4];
  for (int i = 0; i < 4; ++i) m[i] = static_cast<char>((n >> (8 * i)) & 0xff);
  f.write(m, 4);
}

// The test set, written once per run in /tmp and removed at exit.
struct RaySetFile {
  std::string name;
  RaySetFile() {
    name = "/tmp/kqbench_rays_" + std::to_string(::getpid()) + ".bin";
    std::ofstream f(name, std::ios::binary);
    std::string cap(100, ' ');
    cap.replace(0, 13, "Benchmark set");
    putMarker(f, 100);
    f.write(cap.data(), 100);
    putMarker(f, 100);
    for (int i = 1; i <= kRays; ++i) {
      double v[5] = {i * 1e-9, -i * 1e-7, i * 2e-9, i * 1e-7, (i % 100) * 0.01};
      putMarker(f, 40);
      f.write(reinterpret_cast<const char*>(v), 40);
      putMarker(f, 40);
    }
  }
  ~RaySetFile() { std::remove(name.c_str()); }
};

const std::string& setName() {
  static const RaySetFile file;
  return file.name;
}

void BM_KqraysRead(benchmark::State& state) {
  const std::string& name = setName();
  for (auto _ : state) {
    state.PauseTiming();
    std::istringstream in;
    std::ostringstream out;
    kestrim::Kestrim k(in, out);
    std::string n = name;
    int ierr = 1;
    kestrim::kqio(k, 'R', n, ierr);
    if (ierr != 0 || k.ntot != kRays) state.SkipWithError("cannot open the set");
    state.ResumeTiming();
    double sum = 0, x, th, y, ph, de;
    for (int i = 1; i <= k.ntot; ++i) {
      if (!kestrim::kqrays(k, 'R', i, x, th, y, ph, de)) break;
      sum += x + th + y + ph + de;
    }
    benchmark::DoNotOptimize(sum);
    state.PauseTiming();
    kestrim::kqioend(k, 'R');
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRays);
}
BENCHMARK(BM_KqraysRead)->Unit(benchmark::kMillisecond);

// The baseline: a large-buffer stream read marker, payload, marker.
void BM_PlainBufferedRead(benchmark::State& state) {
  const std::string& name = setName();
  std::vector<char> buffer(1 << 20);
  for (auto _ : state) {
    state.PauseTiming();
    std::ifstream f;
    f.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    f.open(name, std::ios::binary);
    char m[4];
    char cap[100];
    f.read(m, 4);
    f.read(cap, 100);
    f.read(m, 4);
    state.ResumeTiming();
    double sum = 0;
    char rec[40];
    for (int i = 1; i <= kRays; ++i) {
      std::uint32_t a, b;
      f.read(m, 4);
      std::memcpy(&a, m, 4);
      f.read(rec, 40);
      f.read(m, 4);
      std::memcpy(&b, m, 4);
      if (!f || a != 40 || b != 40) break;
      double v[5];
      std::memcpy(v, rec, 40);
      sum += v[0] + v[1] + v[2] + v[3] + v[4];
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kRays);
}
BENCHMARK(BM_PlainBufferedRead)->Unit(benchmark::kMillisecond);

}  // namespace
