// MASK: the coefficient fit, the variables and the coefficients chosen by
// two masks; AGP: the fit's objective over a grid of two variables, into
// a file.
#include <algorithm>
#include <cmath>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/design/design.h"
#include "tavo/model/model.h"

namespace tavo {

namespace {

std::string g135(double v) { return gx::fG(v, 13, 5, 1); }

// A list-directed record of n reals; values not given keep their old ones.
bool readReals(const std::string& reply, double* v, int n) {
  gx::ListScanner sc(n);
  if (!sc.add(reply)) return false;
  for (size_t i = 0; i < sc.items().size() && static_cast<int>(i) < n; ++i) {
    const gx::ListItem& it = sc.items()[i];
    if (it.null) continue;
    double x;
    if (!gx::listReal(it.text, x) || !std::isfinite(x)) return false;
    v[i] = x;
  }
  return true;
}

}  // namespace

void cmdMask(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  int nv = 0;
  if (c.qual != 'F') {
    say(s, "Enter the variable mask");
    if (!editMask(s, s.masks.var, nv)) return;
    say(s, "No. of variables = " + gx::fI(nv, 3));
    say(s, "Enter the coefficient mask");
    int nt = 0;
    if (!editMask(s, s.masks.coef, nt)) return;
    s.fitPrecision = c.value > 0.0 ? c.value : static_cast<double>(1e-6f);
  }
  loadMasked(s, s.masks.var, nv);
  s.blk1.nv = std::min(nv, 20);
  coefficientObjective(s);
  say(s, "Initial quadrature summed coeff = " + g135(s.blk2.chisq));
  if (s.blk1.nv > 0 && c.letter != 'V') {
    say(s, "(N)  CHISQ        - Variables.........");
    setup(s, s.fitPrecision);
    stepit(s, coefficientObjective);
    say(s, "  Final quadrature summed coeff = " + g135(s.blk2.chisq));
  }
  s.iflag = 1;
}

void cmdAgp(Tavo& s, Command&) {
  if (!haveSystem(s)) return;
  say(s, "Construct an AGP file");
  int nv = 0;
  if (!editMask(s, s.masks.var, nv)) return;
  say(s, " This command works only for 2 variables,");
  say(s, " No. of variables = " + gx::fI(nv, 3));
  if (nv > 2) return;
  int nt = 0;
  if (!editMask(s, s.masks.coef, nt)) return;
  loadMasked(s, s.masks.var, nv);
  s.blk1.nv = nv;
  const double centre[2] = {s.blk1.x[1], s.blk1.x[2]};
  double range[2][2] = {{centre[0], centre[0]}, {centre[1], centre[1]}};
  for (int i = 0; i < 2; ++i) {
    say(s, "Central value of variable " + gx::fI(i + 1, 2) + " is " + g135(centre[i]));
    std::string reply;
    if (askUntil(s, "Minimun and maximum values > ", reply, 0, [&](const std::string& r) {
          return readReals(r, range[i], 2);
        }) == gx::Reply::End)
      return;
  }
  // The grid: N x M points, at most a million (a file of some 45 MB).
  int n = 0, m = 0;
  {
    std::string reply;
    if (askUntil(s, "Size of grid (NxM) > ", reply, 0, [&](const std::string& r) {
          double v[2] = {0.0, 0.0};
          if (!readReals(r, v, 2)) return false;
          if (std::fabs(v[0]) > 1e6 || std::fabs(v[1]) > 1e6) return false;
          n = static_cast<int>(v[0]);
          m = static_cast<int>(v[1]);
          if (n <= 0) n = 30;
          if (m <= 0) m = n;
          if (static_cast<long long>(n) * m > 1000000LL) {
            say(s, "%AGP- At most 1000000 points.");
            return false;
          }
          return true;
        }) == gx::Reply::End)
      return;
  }
  const int unit = 20;
  std::string name;
  for (;;) {
    std::string reply;
    if (ask(s, "Filename for output > ", reply, 0) != gx::Reply::Ok) return;
    name = std::string(gx::trimRight(reply));
    size_t b = name.find_first_not_of(" \t");
    if (b == std::string::npos) return;
    name = name.substr(b);
    if (s.gx.io.open(unit, name, gx::OpenStatus::New, gx::Access::Write)) break;
    say(s, "Unable to open " + name + (gx::Io::exists(name) ? " (it exists)" : s.gx.io.reason()));
    // In a macro the next lines are its commands, not another name.
    if (s.inout.cmd != gx::Io::kIn) {
      gx::gxfail(s.gx);
      return;
    }
  }
  coefficientGrid(s, range, n, m, unit);
}

}  // namespace tavo
