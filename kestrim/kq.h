// KESTRIM's routines: ray-set channels, the coefficient store, ray
// synthesis and the spot maps that the commands (kqcmd.h) call.
#pragma once

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "gxlib/mat.h"
#include "kestrim/state.h"

namespace kestrim {

// Ray-set channels (option R, W, A; E closes all three).
void kqio(Kestrim& k, char option, std::string& name, int& ierr);
// SYNTH/A: the append channel keeps the caption and rays of a set that
// exists and adds to them (SHADOW, TRANS and DELTAE start their sets anew).
void kqioappend(Kestrim& k, std::string& name, int& ierr);
// R reads ray n; W and A write the five values as the next record.
// Returns false when a read met the end of the file (NTOT corrected).
bool kqrays(Kestrim& k, char option, long long n, double& x, double& th, double& y,
            double& ph, double& de);
// One ray record as a ray set holds it: 40 bytes and two length markers.
constexpr size_t kRayRecordBytes = 48;
// The records of rays [0, n) packed as a ray set holds them.
void kqpackrays(char* dst, const double* x, const double* th, const double* y, const double* ph,
                const double* de, size_t n);
struct RayWindow;
// Reads the read channel's rays in order, the bytes of the next megabyte
// copied in on a second thread (where there is one) while the rays before
// them are used. The channel is left just after the last ray read. Nothing
// else may read the read channel while one is alive.
class RayAhead {
 public:
  explicit RayAhead(Kestrim& k);
  ~RayAhead();
  RayAhead(const RayAhead&) = delete;
  RayAhead& operator=(const RayAhead&) = delete;
  // Rays n, n+1, ... up to max of them into v, five values each: as many as
  // kqrays would read one by one, though it may stop early at a record it
  // leaves to kqrays (0 only where kqrays fails).
  size_t read(long long n, size_t max, double* v);

 private:
  std::unique_ptr<RayWindow> w_;
};
// W and A: n rays packed by kqpackrays written with one write, and started
// toward the disk. False, with the channel's message, when they could not be.
bool kqraysblock(Kestrim& k, char option, const char* records, size_t n);
// Closes a channel; false when a set being written could not be kept.
bool kqioend(Kestrim& k, char option);
// Opens on the read channel a set just written whole and closed, whose
// rays need no counting: rays of them.
void kqioreadwritten(Kestrim& k, std::string& name, int& ierr, long long rays);

// Coefficient store.
int cofin(Kestrim& k, std::string& name);   // 0 ok, 1 failed
void cofmod(Kestrim& k, int inunit, int outunit, int& echo, std::string& name,
            char answer, int& status);
void cofout(Kestrim& k, std::string name);
int cofcheck(const Kestrim& k, double x, double th, double y, double ph);  // 0 passes
void coftran(const Kestrim& k, double x, double th, double y, double ph, double de,
             double& xo, double& tho, double& yo, double& pho);
void cofsole(const Kestrim& k, double x, double th, double y, double ph, double de,
             double& xo, double& tho, double& yo, double& pho);
void coffocal(const Kestrim& k, double& fx, double& fy);
gx::Mat<4, 4> cof1(const Kestrim& k);   // the first-order matrix M(r, c)
void cof3(const Kestrim& k, double& d1, double& d2);
std::string cofcap(const Kestrim& k);

// Ray synthesis.
double gxrandom(double r);
double gxfrac(double x);

// Distances from the reference plane to the X and Y image planes, from the
// paraxial pair (rays 1 and 2). strict: both angle differences must exceed
// 1e-20 ("Bad paraxial rays"); otherwise their product must reach 1e-30
// ("Bad paraxial rays."). A set without a pair counts as degenerate. False,
// with both distances 0, when degenerate.
bool kqimage(Kestrim& k, double& ximg, double& yimg, bool strict);

// Reads rays from..NTOT in order through the read channel and hands each
// to f(n, x, th, y, ph, de); stops at the end of the file.
template <class F>
void kqeach(Kestrim& k, long long from, F&& f) {
  constexpr size_t kBlock = 4096;
  std::vector<double> v(5 * kBlock);
  RayAhead ahead(k);
  for (long long n = from < 1 ? 1 : from; n <= k.ntot;) {
    const size_t want = static_cast<size_t>(std::min<long long>(kBlock, k.ntot - n + 1));
    const size_t got = ahead.read(n, want, v.data());
    for (size_t i = 0; i < got; ++i, ++n) {
      if (n % 1024 == 0) gx::gxpoll(k.gx);  // Ctrl-C cancels the command
      const double* r = &v[5 * i];
      f(n, r[0], r[1], r[2], r[3], r[4]);
    }
    if (got == 0) break;
  }
}

// The extent of the rays at distance z, over rays from..NTOT; with
// skipSecond the second ray (the paraxial pair's angled one) is left out.
struct Extent {
  double xmin = 0, xmax = 0, ymin = 0, ymax = 0;
};
inline Extent kqextent(Kestrim& k, double z, int from, bool skipSecond) {
  // At the system's end the extent was found when the set was counted.
  const kqraysblk& r = k.rays;
  if (z == 0.0 && !std::signbit(z) && r.endNtot == k.ntot && from <= 3) {
    Range x, y;
    for (int i = std::max(from, 1); i <= 3; ++i) {
      if (i == 2 && skipSecond) continue;
      x.add(r.end.x[static_cast<size_t>(i - 1)]);
      y.add(r.end.y[static_cast<size_t>(i - 1)]);
    }
    return Extent{x.lo, x.hi, y.lo, y.hi};
  }
  // A NaN ray (an overflowed map, a damaged file) has no place in the spot.
  Range x, y;
  kqeach(k, from, [&](long long n, double xx, double th, double yy, double ph, double) {
    if (skipSecond && n == 2) return;
    x.add(xx + z * th);
    y.add(yy + z * ph);
  });
  return Extent{x.lo, x.hi, y.lo, y.hi};
}


// Spot maps, extents and the transformation.
void kqmap(Kestrim& k, char device, const std::string& argument, double w, double z);
void kqpoint(Kestrim& k, char device, float x, float y);
void kqscale(Kestrim& k, char device, int n, double w);
// The same bar with its left end at (x0, y0).
void kqscaleat(Kestrim& k, char device, int n, double w, double x0, double y0);
// The plane of analysis of MAP and PLOT (X, Y, F, G or Other); false when
// the input ended.
bool kqplane(Kestrim& k, double ximg, double yimg, double& z);

// The analyses' pictures on the device that GRAPH chose: kqcurve and
// kqgreymap draw nothing when none is chosen. The grey map takes an n x n
// grid, cell (i, j) at (j - 1) n + i - 1, over the square lo..hi (m).
void kqcurve(Kestrim& k, const std::string& title, const std::string& xl, const std::string& yl,
             const std::vector<double>& x, const std::vector<double>& y);
void kqgreymap(Kestrim& k, const std::string& title, int n, double lo, double hi,
               const std::vector<long long>& cells);

// The argument text of a decoded line: columns 8 to 40.
std::string kqarg(const std::string& line);
// Register An when the argument begins with A0 to A9, else the value.
double kqregvalue(const Kestrim& k, const std::string& arg, double value);

// A count in an Iw field; one too wide for it is written whole rather than
// as asterisks.
std::string kqcount(long long n, int w);
// The stem of a file name: up to the first '.' of its file-name part (the
// whole name without trailing blanks when there is none).
std::string kqstem(const std::string& name);

}  // namespace kestrim
