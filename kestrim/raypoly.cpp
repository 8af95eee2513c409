// The batch polynomial and the few lines of threading around it.
#include "kestrim/raypoly.h"

#include <atomic>
#include <cstdlib>
#include <system_error>
#include <thread>

namespace kestrim {

RayPoly rayPoly(const Kestrim& k) {
  RayPoly p;
  p.identity = k.coffile != 1;
  const cofbmat& b = k.bmat;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) p.m1[r][c] = b(r + 1, c + 1);
    for (int j = 0; j < 10; ++j) p.m2[r][j] = b(r + 1, 9 + j);
  }
  for (int pl = 0; pl < 2; ++pl) {
    for (int n = 0; n < 12; ++n) p.t3[pl][n] = b.t3(pl + 1, n + 1);
    for (int n = 0; n < 6; ++n) p.t5[pl][n] = b.t5(pl + 1, n + 1);
  }
  for (int c = 0; c < 4; ++c) p.chrm[c] = k.chrm[c];
  return p;
}

namespace {

// One ray, written as coftran writes it so that every rounding is the same.
// Inlined into the loops below, where the compiler vectorises across rays.
__attribute__((always_inline)) inline void one(const RayPoly& P, double x, double th, double y, double ph, double de, double& xo,
                double& tho, double& yo, double& pho) {
  const double m0 = x * x, m1 = x * th, m2 = x * y, m3 = x * ph, m4 = th * th, m5 = th * y,
               m6 = th * ph, m7 = y * y, m8 = y * ph, m9 = ph * ph;
  double v[4];
  for (int r = 0; r < 4; ++r) {
    const double* a = P.m1[r];
    const double* q = P.m2[r];
    double s = 0.0;
    s += a[0] * x;
    s += a[1] * th;
    s += a[2] * y;
    s += a[3] * ph;
    s += q[0] * m0;
    s += q[1] * m1;
    s += q[2] * m2;
    s += q[3] * m3;
    s += q[4] * m4;
    s += q[5] * m5;
    s += q[6] * m6;
    s += q[7] * m7;
    s += q[8] * m8;
    s += q[9] * m9;
    v[r] = s;
  }
  const double th2 = th * th, ph2 = ph * ph;
  const double th3 = th2 * th, ph3 = ph2 * ph;
  const double th4 = th2 * th2, ph4 = ph2 * ph2;
  const double th5 = th4 * th, ph5 = ph4 * ph;
  const double* tx = P.t3[0];
  const double* ty = P.t3[1];
  const double* fx = P.t5[0];
  const double* fy = P.t5[1];
  const double* c = P.chrm;
  xo = v[0] + tx[0] * th3 + tx[1] * th * ph2 + tx[2] * x * th2 + tx[3] * x * ph2 +
       tx[4] * th * y * ph + tx[5] * x * x * th + tx[6] * th * y * y + tx[7] * x * y * ph +
       tx[8] * x * x * x + tx[9] * x * y * y + tx[10] * th2 * ph + tx[11] * ph3 + fx[0] * th5 +
       fx[1] * th4 * ph + fx[2] * th3 * ph2 + fx[3] * th2 * ph3 + fx[4] * th * ph4 + fx[5] * ph5 +
       c[0] * th * de + c[2] * x * de;
  yo = v[2] + ty[0] * ph3 + ty[1] * ph * th2 + ty[2] * y * ph2 + ty[3] * y * th2 +
       ty[4] * ph * x * th + ty[5] * y * y * ph + ty[6] * ph * x * x + ty[7] * y * x * th +
       ty[8] * y * y * y + ty[9] * y * x * x + ty[10] * ph2 * th + ty[11] * th3 + fy[0] * ph5 +
       fy[1] * ph4 * th + fy[2] * ph3 * th2 + fy[3] * ph2 * th3 + fy[4] * ph * th4 + fy[5] * th5 +
       c[1] * ph * de + c[3] * y * de;
  tho = v[1];
  pho = v[3];
  // The as-built offsets last: a nominal system (all zero) is coftran's to the bit.
  xo += P.offset[0];
  tho += P.offset[1];
  yo += P.offset[2];
  pho += P.offset[3];
}

// The same loops for the machine's wider vectors where it has them (the
// same operations, no fused multiply-add: the same bits).
#if defined(__GNUC__) && !defined(__clang__)
#define TK_IVDEP _Pragma("GCC ivdep")
#else
#define TK_IVDEP
#endif
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TK_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TK_CLONES
#endif

TK_CLONES void mapLoop(const RayPoly& p, const double* __restrict x, const double* __restrict th,
                       const double* __restrict y, const double* __restrict ph,
                       const double* __restrict de, size_t n, double* __restrict xo,
                       double* __restrict tho, double* __restrict yo, double* __restrict pho) {
  const RayPoly P = p;   // a local copy: the compiler sees no aliasing
TK_IVDEP
  for (size_t i = 0; i < n; ++i) one(P, x[i], th[i], y[i], ph[i], de[i], xo[i], tho[i], yo[i], pho[i]);
}

TK_CLONES void planeLoop(const RayPoly& p, const double* __restrict x, const double* __restrict th,
                         const double* __restrict y, const double* __restrict ph,
                         const double* __restrict de, size_t n, double z, double* __restrict X,
                         double* __restrict Y) {
  const RayPoly P = p;
TK_IVDEP
  for (size_t i = 0; i < n; ++i) {
    double xo, tho, yo, pho;
    one(P, x[i], th[i], y[i], ph[i], de[i], xo, tho, yo, pho);
    X[i] = xo + z * tho;
    Y[i] = yo + z * pho;
  }
}

// Rays through no polynomial: only the offsets.
void offsetOnly(const RayPoly& p, const double* x, const double* th, const double* y, const double* ph,
                size_t n, double z, double* xo, double* tho, double* yo, double* pho) {
  for (size_t i = 0; i < n; ++i) {
    const double a = x[i] + p.offset[0], b = th[i] + p.offset[1];
    const double c = y[i] + p.offset[2], d = ph[i] + p.offset[3];
    if (pho == nullptr) {
      xo[i] = a + z * b;
      yo[i] = c + z * d;
    } else {
      xo[i] = a;
      tho[i] = b;
      yo[i] = c;
      pho[i] = d;
    }
  }
}

}  // namespace

void mapRays(const RayPoly& p, const double* x, const double* th, const double* y, const double* ph,
             const double* de, size_t n, double* xo, double* tho, double* yo, double* pho) {
  if (p.identity) {
    offsetOnly(p, x, th, y, ph, n, 0.0, xo, tho, yo, pho);
    return;
  }
  mapLoop(p, x, th, y, ph, de, n, xo, tho, yo, pho);
}

void mapToPlane(const RayPoly& p, const RayArrays& r, size_t from, size_t n, double z, double* X,
                double* Y) {
  const double* x = r.x.data() + from;
  const double* th = r.th.data() + from;
  const double* y = r.y.data() + from;
  const double* ph = r.ph.data() + from;
  const double* de = r.de.data() + from;
  if (p.identity) {
    offsetOnly(p, x, th, y, ph, n, z, X, nullptr, Y, nullptr);
    return;
  }
  planeLoop(p, x, th, y, ph, de, n, z, X, Y);
}

int mappingThreads() {
  if (const char* e = std::getenv("KESTRIM_THREADS")) {
    const int n = std::atoi(e);
    if (n > 0) return n > 256 ? 256 : n;
  }
  const unsigned h = std::thread::hardware_concurrency();
  return h == 0 ? 1 : static_cast<int>(h);
}

void parallelFor(size_t count, int threads, const std::function<void(size_t)>& work) {
  if (threads <= 1 || count <= 1) {
    for (size_t i = 0; i < count; ++i) work(i);
    return;
  }
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t i; (i = next.fetch_add(1)) < count;) work(i);
  };
  std::vector<std::thread> pool;
  const size_t n = std::min<size_t>(static_cast<size_t>(threads), count);
  // A thread that cannot be had (memory held short) leaves its share to
  // the others: the results are the same on any number of threads.
  try {
    for (size_t t = 1; t < n; ++t) pool.emplace_back(worker);
  } catch (const std::system_error&) {
  }
  worker();
  for (auto& t : pool) t.join();
}

}  // namespace kestrim
