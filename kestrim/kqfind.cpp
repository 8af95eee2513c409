// FIND: from a measured grid-shadow period and a polynomial fitted to the
// measured pattern, the grid's tilt angle and the aberration coefficients
// that produce the pattern's distortion.
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

namespace {

constexpr double kMicron = static_cast<double>(1.0E-6f);
constexpr double kMilli = static_cast<double>(0.001f);
constexpr double kDegree = 57.295780181884766;
constexpr double kHalfPi = static_cast<double>(3.1415927f) / 2.0;

std::string g13(double v) { return gx::fG(v, 13, 5, 1); }

bool update(Kestrim& k, const std::string& prompt, double& a, double& b) {
  return gx::gxaskupdate(k.gx, k.io.in, k.io.out, k.io.macro, prompt, a, b) == gx::Reply::Ok;
}

// Obtains the coefficients from the file named by the argument or asked
// for, reviewed by the user; false when there are none.
bool loadCoefficients(Kestrim& k, const std::string& line) {
  std::string name = kqarg(line).substr(0, 30);
  if (kqblank(name)) {
    if (kqask(k, "Filename for coefficients > ", name, 30) != gx::Reply::Ok || kqblank(name))
      return false;
  }
  int echo = 0, status = 1;
  cofmod(k, k.io.in, k.io.out, echo, name, ' ', status);
  if (status != 0) {
    // The bell is the program's own: sent as a control record, not filtered.
    k.gx.io.control(k.io.out, " Unable to continue with FIND.\a");
    kqsay(k, "");
    return false;
  }
  return true;
}

// The grid period, the shadow period with its error and the pattern
// width, kept from one FIND to the next.
bool askShadow(Kestrim& k) {
  Kestrim::kqfindblk& f = k.find;
  double a = f.period * 1e6, b = 0.0;
  if (!update(k, "      Actual grid period (CR for " + g13(a) + " ) micron > ", a, b)) return false;
  f.period = a * kMicron;

  kqsay(k, "Period of shadows " + g13(f.shadowPeriod * 1e3) + " +/-" + g13(f.shadowError * 1e3));
  a = f.shadowPeriod * 1e3;
  b = f.shadowError * 1e3;
  if (!update(k, "Period of shadows along axis (with error) mm > ", a, b)) return false;
  f.shadowPeriod = a * kMilli;
  f.shadowError = b * kMilli;

  a = f.width * 1e3;
  b = 0.0;
  if (!update(k, "(Optional) Total shadow pattern width (" + g13(a) + ") mm > ", a, b))
    return false;
  f.width = a / 1000.0;
  return true;
}

// The grid's tilt from the shadow period, with its error and the beam
// divergence the pattern width implies; returns the angle (rad) from the
// axis, none when a stigmatic map leaves it undetermined. l: shadow plane
// from the image; d01 = M(3,4)/M(4,4); m22 = M(2,2).
std::optional<double> gridAngle(Kestrim& k, double l, double d01, double m22) {
  const Kestrim::kqfindblk& f = k.find;
  const double p = f.period, sp = f.shadowPeriod, e = f.shadowError;
  kqsay(k, "");
  kqsay(k, "Parameters used to calculate grid angle: ");
  kqsay(k, "            Grid period = " + g13(p) + " m");
  kqsay(k, "Shadow plane from image = " + g13(l) + " m");
  kqsay(k, "                    D01 = " + g13(d01) + " m/rad");
  kqsay(k, " Grid shadow bar period = " + g13(sp) + " m (+/-" + g13(e) + ")");
  kqsay(k, "          Pattern width = " + g13(f.width) + " m");
  kqsay(k, "");

  // With D01 = 0 the rays from each object point meet again at the image
  // (a stigmatic map): the shadow's magnification (L + D01)/D01 has no
  // finite value and the period no longer tells the grid's tilt.
  if (d01 == 0.0 || !std::isfinite(d01)) {
    kqsay(k, "%KQFIND- D01 is zero: the map images the object stigmatically, so the shadow");
    kqsay(k, "         period does not depend on the grid angle; no angle can be found.");
    kqsay(k, "");
    return std::nullopt;
  }
  // The shadow period is the grid period magnified by (L + D01)/D01 and
  // lengthened by the grid's tilt.
  auto angle = [&](double period) { return std::acos(p * (l + d01) / (d01 * period)); };
  const double th = angle(sp), thp = angle(sp + e), thm = angle(sp - e);
  const double e1 = std::fabs(std::fabs(th) - std::fabs(thp));
  const double e2 = std::fabs(std::fabs(th) - std::fabs(thm));
  const double div = f.width / (2.0 * l * m22);
  kqsay(k, "Acute grid angle calculated to be " + g13((kHalfPi - th) * kDegree) + " degrees");
  kqsay(k, "                      (True angle " + g13(th * kDegree) + " degrees)");
  kqsay(k, "Errors +/-" + g13(e1 * kDegree) + "," + g13(e2 * kDegree) + " average +/-" +
               g13((e1 + e2) / 2.0 * kDegree));
  kqsay(k, " Initial beam divergence used +/- " + g13(1000.0 * div) + " mrad");
  kqsay(k, "");
  return th;
}

// The aberration coefficients (x/th^n), (y/ph^n) from the polynomial fitted
// to the pattern, order by order; w = M(1,1). False when the input ended.
bool coefficients(Kestrim& k, double l, double d01, double w, double th) {
  Kestrim::kqfindblk& f = k.find;
  const double p = f.period, sp = f.shadowPeriod;
  double a = f.order, b = 0.0;
  if (!update(k, "Order of polynomial fitted to grid shadow pattern ( " + std::to_string(f.order) +
                     " ) > ",
              a, b))
    return false;
  const int order = std::clamp(gx::gxnint(a), 0, static_cast<int>(f.c.size()));
  if (order != gx::gxnint(a))
    kqsay(k, "%KQFIND- Polynomial order set to " + std::to_string(order) + ".");
  f.order = order;

  kqsay(k, "");
  kqsay(k, "");
  kqsay(k, std::string(78, '-'));
  kqsay(k, "Calculated Coefficients :");
  for (int n = 1; n <= order; ++n) {
    double& c = f.c[static_cast<size_t>(n - 1)];
    a = c;
    b = 0.0;
    const std::string kn = std::to_string(n);
    if (!update(k, "Polynomial coefficient order " + kn + " ( " + g13(c) + " ) mm/mm" + kn + " > ",
                a, b))
      return false;
    c = a;
    const double fk = static_cast<double>(static_cast<float>(std::pow(10.0, 3 * n - 3)));
    const double ln = std::pow(l, n), wn = std::pow(w, n);
    const double ak = p * ln * fk * c / (wn * std::cos(th) * sp * std::tan(th));
    const double bk = d01 * ln * fk * c / (wn * (l + d01) * std::tan(th));
    kqsay(k, std::string(20, ' ') + "(x/th" + kn + ") = " + g13(ak) + " m/rad" + kn);
    kqsay(k, std::string(20, ' ') + "(y/ph" + kn + ") = " + g13(bk) + " m/rad" + kn);
  }
  return true;
}

}  // namespace

void kqfind(Kestrim& k, KqLine& cmd) {
  const std::string dashes(78, '-');
  kqsay(k, "");
  kqsay(k, dashes);
  kqsay(k, std::string(20, ' ') + "Grid Shadow Pattern Analysis");
  kqsay(k, dashes);
  kqsay(k, "");
  kqsay(k, std::string(10, ' ') + "Obtain aberration coefficients and system parameters");
  if (!loadCoefficients(k, cmd.typed())) return;
  double d = 0.0, l = 0.0;
  cof3(k, d, l);
  const gx::Mat<4, 4> m = cof1(k);
  const double d01 = m(3, 4) / m(4, 4);   // m per rad
  if (!askShadow(k)) return;
  const std::optional<double> th = gridAngle(k, l, d01, m(2, 2));
  if (!th || !coefficients(k, l, d01, m(1, 1), *th)) return;
  kqsay(k, dashes);
  kqsay(k, "");
}

}  // namespace kestrim
