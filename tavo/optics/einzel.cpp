// Electrostatic einzel and two-cylinder lenses from fitted focal
// properties as functions of the voltage ratio.
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

namespace {
double poly(const double* c, int n, double v) {
  double r = 0.0;
  for (int k = n - 1; k >= 0; --k) r = r * v + c[k];
  return r;
}

bool finiteMat(const Mat4& m) {
  for (double x : m.a)
    if (!std::isfinite(x)) return false;
  return true;
}

// A matrix that cannot be a lens stops the walk: the rows behind the lens
// would otherwise be evaluated with nonsense.
bool lensError(Tavo& s, int i, const Mat4& m, const char* head) {
  if (m(2, 1) != 0.0 && m(4, 3) != 0.0 && finiteMat(m)) return false;
  auto& io = s.gx.io;
  io.write(s.inout.term, std::string(" ") + head + gx::fI(i, 2));
  io.write(s.inout.term, " A(2,1) = " + gx::fF(m(2, 1), 10, 5));
  io.write(s.inout.term, " A(4,3) = " + gx::fF(m(4, 3), 10, 5));
  s.walkStop = 1;
  return true;
}

void fillBoth(Mat4& m, double a11, double a12, double a21, double a22) {
  m = Mat4{};
  m(1, 1) = m(3, 3) = a11;
  m(1, 2) = m(3, 4) = a12;
  m(2, 1) = m(4, 3) = a21;
  m(2, 2) = m(4, 4) = a22;
}

// A row whose field comes from a file has no closed form (its matrix is the
// exact one's business), and a ratio of 1 is no lens: both are drifts here.
bool driftInstead(Tavo& s, int i, double v, Mat4& m) {
  if (axialFileRow(s, i)) {
    axialFileDrift(s, i, m);
    return true;
  }
  if (v == 1.0) {
    driftMatrix(s, i, m);
    return true;
  }
  return false;
}
}  // namespace

void einzel(Tavo& s, int i, Mat4& m) {
  if (rawCode(s, i) != 15) {
    wrongKind(s, "?EINZ- Called for non-einzel ELE=", i, 5, 1);
    return;
  }
  double v = s.bdata(i, 3), len = s.bdata(i, 2);
  if (driftInstead(s, i, v, m)) return;
  static constexpr double c1[7] = {1.9332, -0.4333, 0.265, -0.060627, 0.0073346, -0.00043132, 9.8562e-06};
  static constexpr double c2[7] = {1.6238, 0.42632, -0.34956, 0.11481, -0.016781, 0.0011077, -2.7219e-05};
  double g = std::pow(v + 0.6, 1.5) / ((v - 1.0) * (v - 1.0));
  double f1 = g * poly(c1, 7, v);
  double f2 = g * poly(c2, 7, v);
  double a = f2 / f1 - len / (2.0 * f1);
  double a21 = -1.0 / f1;
  fillBoth(m, a, (a * a - 1.0) / a21, a21, a);
  if (lensError(s, i, m, "?EINZ- Error in element ")) return;
  s.bdata(i, 8) = 0.0;
  storeLens(s, i, light(s, i, m));
}

void cyl(Tavo& s, int i, Mat4& m) {
  if (rawCode(s, i) != 17) {
    wrongKind(s, "?CYL- Called for non-cyl ELE=", i, 5, 1);
    return;
  }
  double v = s.bdata(i, 3), len = s.bdata(i, 2);
  if (driftInstead(s, i, v, m)) return;
  static constexpr double cf1[6] = {5.2904, 0.0527, 0.0084848, -0.00024359, 2.8805e-06, -1.2149e-08};
  static constexpr double cf2[6] = {4.6758, 1.5878, -0.00082984, 0.00013589, -1.5209e-06, 6.0554e-09};
  static constexpr double cp1[6] = {4.9904, 0.76739, 0.0059931, -0.0001544, 1.7424e-06, -7.1895e-09};
  static constexpr double cp2[6] = {5.5338, 0.55471, -0.017543, 0.00028658, -2.6225e-06, 9.5062e-09};
  double h = v / ((v - 1.0) * (v - 1.0));
  double f1 = std::fabs(h * poly(cf1, 6, v));
  double f2 = std::fabs(h * poly(cf2, 6, v));
  double p1 = std::fabs(h * poly(cp1, 6, v));
  double p2 = std::fabs(h * poly(cp2, 6, v));
  double a = len / 2.0 + f1 - p1, b = len / 2.0 + f2 - p2;
  double rv = std::sqrt(v);
  fillBoth(m, 1.0 - b / f2, (1.0 - (1.0 - b / f2) * (1.0 - a / f1)) * f2, -rv / f2,
           (1.0 - a / f1) * rv);
  if (lensError(s, i, m, "?Cyl Error in element ")) return;
  s.bdata(i, 8) = 0.0;
  storeLens(s, i, light(s, i, m));
}

}  // namespace tavo
