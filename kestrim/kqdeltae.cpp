// DELTAE: the spreads of the ray set, a histogram of its energy deviation,
// and a rearranged ray set of total angle against energy deviation.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

namespace {

constexpr int kBins = 100;
constexpr int kUnit = 2;

std::string g12(double v) { return gx::fG(v, 12, 5, 1); }
std::string g13(double v) { return gx::fG(v, 13, 5, 1); }

using Bins = std::array<long long, kBins + 1>;   // bins 1..100 of DE

// Opens the histogram file named by the argument or asked for (".fit"
// when the name has no point) and writes its heading; false when none.
bool openFile(Kestrim& k, const std::string& line, std::string& name) {
  gx::Io& io = k.gx.io;
  name = kqarg(line);
  if (kqblank(name)) {
    if (kqask(k, std::string(11, ' ') + "Filename for output > ", name, 30) != gx::Reply::Ok ||
        kqblank(name))
      return false;
  }
  name = kqstrip(name);
  if (!kqhasdot(name)) name = kqfirstword(name) + ".fit";
  if (!io.open(kUnit, name, gx::OpenStatus::Replace, gx::Access::Write)) {
    kqsay(k, "?KQDELTAE - Unable to open " + name + io.reason());
    return false;
  }
  kqsay(k, "DE histogram file is: " + name);
  io.write(kUnit, kqtrim(k.caption));
  for (const char* h : {" DE (  )", " Counts/Total (%)", " 5,0", " 0", " 0", " 0"}) io.write(kUnit, h);
  return true;
}

// The spread of each coordinate over the set; returns that of DE and the
// number of rays read.
Range showSpreads(Kestrim& k, long long& seen) {
  Range rx, ry, rt, rp, re;
  seen = 0;
  kqeach(k, 1, [&](int, double x, double th, double y, double ph, double de) {
    ++seen;
    rx.add(x);
    ry.add(y);
    rt.add(th);
    rp.add(ph);
    re.add(de);
  });
  kqsay(k, "X-axis spread range: " + g13(1e6 * rx.lo) + " to " + g13(1e6 * rx.hi) + "micron");
  kqsay(k, "Y-axis spread range: " + g13(1e6 * ry.lo) + " to " + g13(1e6 * ry.hi) + "micron");
  kqsay(k, "X-div. spread range: " + g13(1000 * rt.lo) + " to " + g13(1000 * rt.hi) + "milliradians");
  kqsay(k, "Y-div. spread range: " + g13(1000 * rp.lo) + " to " + g13(1000 * rp.hi) + "milliradians");
  kqsay(k, "      Delta E range: " + g13(re.lo) + " to " + g13(re.hi) + "??");
  return re;
}

// Writes alpha = |(theta, phi)| and DE of every ray to the append channel
// and counts the rays into 100 bins of DE; false when a write failed.
bool binRays(Kestrim& k, const Range& re, double span, bool flat, Bins& bins, long long& total) {
  bool failed = false;
  kqeach(k, 1, [&](int, double, double th, double, double ph, double de) {
    if (failed) return;
    double alpha = std::sqrt(th * th + ph * ph), zero = 0.0, d = de;
    if (!kqrays(k, 'A', 0, alpha, zero, d, zero, zero)) {
      failed = true;
      return;
    }
    ++total;
    int b = 1;
    const double q = 99.0 * (de - re.lo) / span + 1.5;
    if (!flat && q == q) b = static_cast<int>(std::clamp(q, 1.0, 100.0));  // a NaN DE: bin 1
    ++bins[static_cast<size_t>(b)];
  });
  return !failed;
}

}  // namespace

void kqdeltae(Kestrim& k, KqLine& cmd) {
  gx::Io& io = k.gx.io;
  const std::string dashes(78, '-');
  kqsay(k, dashes);
  kqsay(k, "");
  kqsay(k, std::string(20, ' ') + "DELTA E sorting options");
  kqsay(k, "");
  kqsay(k, dashes);
  kqsay(k, "");
  kqsay(k, "");

  std::string name;
  if (!openFile(k, cmd.typed(), name)) return;
  long long seen = 0;
  const Range re = showSpreads(k, seen);

  std::string set = gx::pad("DE" + kqstrip(k.rayFile), 100);
  int ierr = 1;
  kqio(k, 'A', set, ierr);
  if (ierr != 0) {
    kqsay(k, "?KQDELTAE - Unable to open the rearranged ray set " + kqstrip(set) +
                 "; nothing written.");
    io.close(kUnit, false);
    return;
  }
  kqsay(k, "Rearranged file alpha/DE is: " + kqstrip(set));

  // With one DE value for all rays there is no spread to divide into bins:
  // every ray goes into the first.
  const double span = re.hi - re.lo;
  const bool flat = !(span > 0.0) || !std::isfinite(span);
  if (flat && seen > 0) kqsay(k, "%KQDELTAE- Every ray has the same DE: all are in the first bin.");
  Bins bins{};
  long long total = 0;
  const bool failed = !binRays(k, re, span, flat, bins, total);
  if (failed) {
    io.close(k.rays.unitA, false);
    io.close(kUnit, false);
    kqsay(k, "?KQDELTAE - " + kqstrip(set) + " not written.");
    return;
  }
  kqsay(k, "Alpha vs. DE in file: " + kqstrip(set));
  for (int j = 1; j <= kBins; ++j) {
    const double pc = total > 0 ? 100.0 * static_cast<double>(bins[static_cast<size_t>(j)]) / static_cast<double>(total) : 0.0;
    io.write(kUnit, " " + g12(span * j / 100.0) + "," + g12(pc) + ",0");
  }
  std::string none;
  kqio(k, 'E', none, ierr);
  if (!io.close(kUnit)) kqsay(k, "?KQDELTAE - Unable to write " + name);
}

}  // namespace kestrim
