// DIFF: the differential brightness of the beam at a plane, counts per unit
// area in annuli of equal width.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

namespace {

constexpr int kMaxAnnuli = 1000;
constexpr int kDefaultAnnuli = 20;
constexpr double kWiden = static_cast<double>(1.05f);
constexpr double kPi = static_cast<double>(3.1415927f);
constexpr int kUnit = 2;

std::string g12(double v) { return gx::fG(v, 12, 5, 1); }
std::string g13(double v) { return gx::fG(v, 13, 5, 1); }

// Opens the data file named by the argument, after the ray set or as
// answered, with ".fit"; false when it did not open.
bool openFile(Kestrim& k, const std::string& line, std::string& name) {
  gx::Io& io = k.gx.io;
  name = kqarg(line).substr(0, 30);
  if (kqblank(name) && !kqblank(k.rayFile)) name = kqstem(k.rayFile) + "br";
  if (kqblank(name)) {
    if (kqask(k, "Output filename > ", name, 30) != gx::Reply::Ok || kqblank(name)) return false;
  }
  name = kqstem(name) + ".fit";
  kqsay(k, std::string(20, ' ') + "Output in file " + name);
  if (!io.open(kUnit, name, gx::OpenStatus::Replace, gx::Access::Write)) {
    kqsay(k, "?KQDIFF - Unable to open " + name + io.reason());
    kqsay(k, "");
    kqsay(k, "");
    return false;
  }
  return true;
}

// The number of annuli, 0 when the input ended.
int askAnnuli(Kestrim& k) {
  for (;;) {
    std::string reply;
    if (kqask(k, "Number of annuli (CR for N=20) > ", reply, 80) != gx::Reply::Ok) return 0;
    const std::string r = kqstrip(reply);
    double a = 0.0;
    if (!r.empty() && !gx::readReal(r, a)) continue;
    int n = static_cast<int>(std::trunc(std::clamp(a + 0.5, -1e9, 1e9)));
    if (n < 1) n = kDefaultAnnuli;
    if (n > kMaxAnnuli) n = kMaxAnnuli;
    return n;
  }
}

// The plane of analysis, z (m) from the reference plane, shown against the
// image planes; false when the input ended.
bool askPlane(Kestrim& k, double& z) {
  double ximg = 0.0, yimg = 0.0;
  kqimage(k, ximg, yimg, true);
  kqsay(k, "X image = " + g13(1e6 * ximg) + " um Y image = " + g13(1e6 * yimg) + " um");
  double a = 0.0;
  if (gx::gxaskupdate(k.gx, k.io.in, k.io.out, k.io.macro, "Image distance (micron) (CR for 0) > ",
                      a) != gx::Reply::Ok)
    return false;
  z = a / 1e6;
  return true;
}

// The outer radius rr (m) of the annuli, offered a little beyond the
// largest ray; false when the input ended or the range is zero.
bool askRange(Kestrim& k, double z, double& rr) {
  Range radii;  // a NaN ray has no radius to measure
  kqeach(k, 1, [&](int j, double x, double th, double y, double ph, double) {
    if (j == 2) return;
    const double X = x + z * th, Y = y + z * ph;
    radii.add(std::sqrt(X * X + Y * Y));
  });
  const double rmax = radii.hi, rmin = radii.lo;
  kqsay(k, "R max = " + g13(rmax) + " R min = " + g13(rmin));
  kqsay(k, "");
  double range = 1e6 * kWiden * rmax;
  if (gx::gxaskupdate(k.gx, k.io.in, k.io.out, k.io.macro,
                      "Range = " + g12(range) + "micron, required range (micron) > ", range) !=
      gx::Reply::Ok)
    return false;
  rr = std::fabs(range) / 1e6;
  kqsay(k, "Using a maximum range of " + g12(1e6 * rr) + " micron");
  kqsay(k, "");
  // A beam that is one point on the axis has no radius to divide.
  if (!(rr > 0.0) || !std::isfinite(rr)) {
    kqsay(k, "?KQDIFF - Zero range.");
    return false;
  }
  return true;
}

// The data file: heading lines and, per annulus, its mean radius, the
// counts per unit area and their statistical error.
void writeBrightness(Kestrim& k, const std::string& name, const std::vector<long long>& hist,
                     double rr) {
  gx::Io& io = k.gx.io;
  const int n = static_cast<int>(hist.size()) - 1;
  io.write(kUnit, " " + kqtrim(k.caption));
  for (const char* h : {" Radius (mm)", " Differential Brightness (Counts/mm^u2^r)", " 9,0", " 0",
                        " 0", " 0"})
    io.write(kUnit, h);
  const double delta = n > 1 ? rr / (n - 1) : rr;
  for (int j = 1; j <= n; ++j) {
    const double rk = 1000.0 * (j - 0.5) * delta;
    const double area = 2000.0 * kPi * rk * delta;
    const double c = static_cast<double>(hist[static_cast<size_t>(j)]);
    io.write(kUnit, " " + g12(rk) + "," + g12(c / area) + "," + g12(std::sqrt(c) / area));
  }
  if (!io.close(kUnit)) {
    kqsay(k, "?KQDIFF - Unable to write " + name);
    return;
  }
  if (k.graphDevice != ' ') {
    std::vector<double> rx, by;
    for (int j = 1; j <= n; ++j) {
      const double rk = 1000.0 * (j - 0.5) * delta;
      rx.push_back(rk);
      by.push_back(static_cast<double>(hist[static_cast<size_t>(j)]) / (2000.0 * kPi * rk * delta));
    }
    kqcurve(k, "Differential brightness " + kqstrip(k.rayFile), "Radius (mm)", "Counts/mm2", rx, by);
  }
}

}  // namespace

void kqdiff(Kestrim& k, KqLine& cmd) {
  gx::Io& io = k.gx.io;
  const std::string dashes(78, '-');
  kqsay(k, dashes);
  kqsay(k, std::string(20, ' ') + "Differential brightness options");
  kqsay(k, dashes);

  std::string name;
  if (!openFile(k, cmd.typed(), name)) return;
  auto abandon = [&]() { io.close(kUnit, false); };
  const int n = askAnnuli(k);
  if (n == 0) return abandon();
  std::vector<long long> hist(static_cast<size_t>(n) + 1, 0);
  double z = 0.0, rr = 0.0;
  if (!askPlane(k, z) || !askRange(k, z, rr)) return abandon();

  long long outside = 0;
  kqeach(k, 1, [&](int, double x, double th, double y, double ph, double) {
    const double X = x + z * th, Y = y + z * ph, r = std::sqrt(X * X + Y * Y);
    const double kk = (n > 1 ? gx::gxnint((n - 1) * r / rr) : (r <= rr ? 0 : 1)) + 1.0;
    if (std::isnan(r) || kk < 1 || kk > n) {   // a NaN ray has no radius to bin
      if (++outside <= 10) kqsay(k, "Ray outside range.");
      return;
    }
    ++hist[static_cast<size_t>(kk)];
  });
  kqsay(k, "Number of rays outside range = " + kqcount(outside, 6));

  writeBrightness(k, name, hist, rr);
}

}  // namespace kestrim
