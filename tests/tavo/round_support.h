// Round-lens systems for the tests and the references they are checked
// against: Glaser's closed-form rays of the bell-shaped field, Scherzer's
// integrals, and a direct trace of single rays through the exact ray
// equation with the off-axis truncations of the model, written here.
#pragma once

#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "aber_numeric.h"
#include "tavo/exact/exact.h"
#include "tavo/exact/round.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace roundtest {

constexpr double kE = 1.602176634e-19, kC = 299792458.0;
constexpr double kElectronAmu = 510998.95 / 931494102.42;

// A session holding a table: (code, length, field, radius) rows from row 3,
// system end appended, evaluated to first order.
struct System {
  abertest::Session t;
  tavo::Lattice lat;
  std::string why;
  bool ok = false;
  System(double charge, double amu, double mev, const std::vector<std::array<double, 4>>& rows)
      : t(charge, amu, mev) {
    int r = 3;
    for (const auto& v : rows) {
      for (int c = 0; c < 4; ++c) t.s.bdata(r, c + 1) = v[c];
      ++r;
    }
    t.s.bdata(r, 1) = 9.0;
    tavo::Mat4 a;
    tavo::stigmat(t.s, 1, a);
    ok = tavo::buildLattice(t.s, lat, why);
  }
  tavo::RoundOptics optics(double fine = 1.0) {
    tavo::MapSettings set;
    set.fineness = fine;
    set.fringe = t.s.fringe;
    tavo::RoundOptics o;
    EXPECT_TRUE(tavo::roundOptics(lat, set, 0.0, lat.zend, o, why)) << "roundOptics: " << why;
    return o;
  }
};

// Q e / p from the kinetic energy (eV) and rest energy (eV).
inline double inverseRigidity(double q, double t, double rest) {
  return q * kC / std::sqrt(t * t + 2.0 * t * rest);
}

// Composite Simpson rule with n (even) intervals.
inline double simpson(const std::function<double(double)>& f, double a, double b, int n) {
  const double h = (b - a) / n;
  double s = f(a) + f(b);
  for (int i = 1; i < n; ++i) s += f(a + i * h) * (i % 2 ? 4.0 : 2.0);
  return s * h / 3.0;
}

// Scherzer's integrals of a magnetic round lens for the axial ray h
// (h(zo) = 0, h'(zo) = 1) up to the image zi, k = q B / (2 p):
//   Cs = int (3/2 k^4 h^4 + 1/2 k'^2 h^4 - 1/2 k^2 h^2 h'^2) dz ... (see the
//   test for the form used), Cc = 2 (T + mc^2)/(T + 2 mc^2) int k^2 h^2 dz.
struct AxialRay {
  double h, hp;
};

// d^n tanh(u)/du^n as a polynomial in t = tanh u, n = 0..6, by
// differentiating P(t) with dt/du = 1 - t^2.
inline std::array<double, 7> tanhD(double u) {
  static const std::vector<std::vector<double>> p = [] {
    std::vector<std::vector<double>> q(7);
    q[0] = {0.0, 1.0};
    for (int n = 1; n < 7; ++n) {
      q[n].assign(q[n - 1].size() + 2, 0.0);
      for (size_t j = 1; j < q[n - 1].size(); ++j) {
        q[n][j - 1] += j * q[n - 1][j];
        q[n][j + 1] -= j * q[n - 1][j];
      }
    }
    return q;
  }();
  const double t = std::tanh(u);
  std::array<double, 7> out{};
  for (int n = 0; n < 7; ++n) {
    double v = 0.0;
    for (size_t j = p[n].size(); j-- > 0;) v = v * t + p[n][j];
    out[n] = v;
  }
  return out;
}

}  // namespace roundtest
