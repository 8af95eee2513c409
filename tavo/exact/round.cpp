// Round lenses from their axial functions. The state carried along z is
// (x, X, y, Y), X = p x'/(s p0) the transverse kinetic momentum, so that
//   x' = X/Pz,  X' = (dP^2/dx) / (2 Pz) + (q/p0)(y' Bz - By),
//   y' = Y/Pz,  Y' = (dP^2/dy) / (2 Pz) + (q/p0)(Bx - x' Bz),
// P = p/p0 from the local kinetic potential, Pz = sqrt(P^2 - X^2 - Y^2).
// Off axis: phi(r) = phi - r^2 phi''/4 + r^4 phi''''/64 - r^6 phi^(6)/2304,
// Bz = B - r^2 B''/4 + r^4 B''''/64, Br/r = -B'/2 + r^2 B'''/16 - r^4 B^(5)/384.
#include "tavo/exact/round.h"

#include "tavo/exact/fieldfile.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace tavo {

using da::Poly;

namespace {

// Tanh fields are followed this many widths beyond their electrodes (their
// derivatives are then below 1e-17 of the peak).
constexpr double kTail = 20.0;
// How far the step rule of a tail reaches: a little beyond the break point
// that starts the tail, so that the step from that point, where the
// distance is kTail widths give or take a rounding, is a tail step and not
// one stride over the whole tail into the lens.
constexpr double kReach = kTail * (1.0 + 1e-9);
// Steps per width of a field at the finest: the tanh fields of the tube
// lenses are smoother on their width than the bell's and the solenoid's
// edges on theirs.
constexpr double kStepsPerWidth = 16.0;
constexpr double kStepsPerWidthMagnetic = 24.0;
// Integration steps one march may take: planned before the first, as for the
// multipole maps; some hundred times what a column of three lenses needs.
constexpr long kMaxSteps = 200000;

double widthOf(const AxialLens& l) {
  if (l.shape == AxialShape::Table) return 0.5 * l.table->width;
  return l.electric ? l.width / roundk::kOmega : l.width;
}

void coreOf(const AxialLens& l, double& lo, double& hi) {
  if (l.shape == AxialShape::Table) {
    lo = l.zc + l.table->z.front();
    hi = l.zc + l.table->z.back();
    return;
  }
  const bool long_ = l.shape == AxialShape::Einzel || l.shape == AxialShape::Ramp;
  const double half = long_ ? 0.5 * l.len : 0.0;
  lo = l.zc - half;
  hi = l.zc + half;
}

// d^k/dz^k of c tanh((z - z1)/w), k = 0..m, added to d.
void addTanh(double c, double z1, double w, double z, int m, double* d) {
  const std::vector<double> t = tanhDerivs((z - z1) / w, m);
  double f = c;
  for (int k = 0; k <= m; ++k) {
    d[k] += f * t[k];
    f /= w;
  }
}

// A step of the axial field of an accelerating section: dphi/dz rises by
// de (V/m) at z as (1 + tanh((z - z1)/w))/2, w = R/1.318 of the gap lens
// there, the tube lens's potential step moved to the field.
struct FieldStep {
  double z = 0.0, de = 0.0, w = 0.0;
};

// The steps at the ends of a section: none where the next section's field
// runs on unchanged.
int rampSteps(const AxialLens& l, FieldStep* st) {
  const double e = l.volts / l.len;
  int n = 0;
  if (l.width > 0.0) st[n++] = {l.zc - 0.5 * l.len, e, l.width / roundk::kOmega};
  if (l.width2 > 0.0) st[n++] = {l.zc + 0.5 * l.len, -e, l.width2 / roundk::kOmega};
  return n;
}

// phi^(k), k = 0..m, of one field step, added: phi = de w/2 ln(1 + e^(2u)),
// zero before the step and de (z - z1) well after it.
void addFieldStep(const FieldStep& f, double z, int m, double* d) {
  const double u = (z - f.z) / f.w;
  const double x = 2.0 * u;
  d[0] += 0.5 * f.de * f.w * (std::max(x, 0.0) + std::log1p(std::exp(-std::fabs(x))));
  if (m < 1) return;
  const std::vector<double> t = tanhDerivs(u, m - 1);
  d[1] += 0.5 * f.de * (1.0 + t[0]);
  double c = 0.5 * f.de / f.w;
  for (int k = 2; k <= m; ++k) {
    d[k] += c * t[k - 1];
    c /= f.w;
  }
}

// d^k/dz^k of 1/(1+u^2), k = 0..m, from (1+u^2) f = 1 differentiated:
// (1+u^2) f_n + 2 n u f_(n-1) + n (n-1) f_(n-2) = 0.
void bellDerivs(double u, int m, double* f) {
  const double w = 1.0 + u * u;
  f[0] = 1.0 / w;
  for (int n = 1; n <= m; ++n) {
    double r = 2.0 * n * u * f[n - 1];
    if (n >= 2) r += n * (n - 1.0) * f[n - 2];
    f[n] = -r / w;
  }
}

// 1/sqrt(a) in one series.
Poly rsqrt(const Poly& a) {
  const double a0 = a.constant();
  const int n = a.space().order();
  std::vector<double> d(n + 1);
  double f = 1.0 / std::sqrt(a0);
  for (int k = 0; k <= n; ++k) {
    d[k] = f;
    f *= (-0.5 - k) / a0;
  }
  return da::series(a, d);
}

// Q e / p (1/(T m)) at kinetic energy t (eV).
double inverseRigidity(double q, double t, double rest) {
  const double pc = std::sqrt(t * t + 2.0 * t * rest);   // eV
  return pc > 0.0 ? q * roundk::kLight / pc : 0.0;
}

// B^(k) of the bell lenses and field files, added.
void bellField(const std::vector<AxialLens>& lenses, double z, int m, double* d) {
  double f[8];
  for (const AxialLens& l : lenses) {
    if (l.electric) continue;
    if (l.shape == AxialShape::Table) {
      tableDerivs(*l.table, z - l.zc, m, f);
      for (int k = 0; k <= m; ++k) d[k] += l.scale * f[k];
      continue;
    }
    bellDerivs((z - l.zc) / l.width, m, f);
    double s = l.b0;
    for (int k = 0; k <= m; ++k) {
      d[k] += s * f[k];
      s /= l.width;
    }
  }
}

// What sets the step at a point: the row and the length scale of its field.
struct StepCause {
  int row = 0;
  std::string scale;   // which length, for a message
  double length = 0.0; // m
};

// Step length at z; cause, when given, is set to what asks for it.
double stepAt(const Lattice& lat, const MapSettings& set, double z, double fine,
              StepCause* cause = nullptr) {
  double h = 1e30;
  auto tighten = [&](double hh, int r, const char* scale, double length) {
    if (hh < h) {
      h = hh;
      if (cause) *cause = {r, scale, length};
    }
  };
  const double n = kStepsPerWidth * fine;
  const double nm = kStepsPerWidthMagnetic * fine;
  for (const AxialLens& l : lat.axial) {
    double lo, hi;
    coreOf(l, lo, hi);
    if (l.shape == AxialShape::Ramp) {
      FieldStep st[2];
      const int k = rampSteps(l, st);
      double reach = 0.0;
      for (int j = 0; j < k; ++j) {
        const double d = std::fabs(z - st[j].z);
        reach = std::max(reach, kReach * st[j].w);
        if (d <= kReach * st[j].w) tighten((st[j].w + d) / n, l.row, "gap lens's width R/1.318", st[j].w);
      }
      // In the uniform field the momentum changes over phi/E.
      double v[1];
      axialPotential(lat, z, 0, v);
      const double e = std::fabs(l.volts / l.len);
      if (z >= lo - reach && z <= hi + reach && v[0] > 0.0 && e > 0.0)
        tighten(v[0] / (e * nm), l.row, "accelerating field's length phi/E", v[0] / e);
      continue;
    }
    const double w = widthOf(l);
    const double d = z < lo ? lo - z : z > hi ? z - hi : 0.0;
    if (l.electric && d > kReach * w) continue;
    const char* scale = l.shape == AxialShape::Table ? "field file's sampling width"
                        : l.electric                 ? "potential's width R/1.318"
                                                     : "field's half-width";
    tighten((w + d) / (l.electric ? n : nm), l.row, scale, w);
  }
  for (const FieldLens& e : lat.lens) {
    const double lam = set.fringe * e.bore;
    const double d = z < e.zin ? e.zin - z : z > e.zout ? z - e.zout : 0.0;
    if (d > kTail * lam) continue;
    tighten((lam + 0.5 * d) / nm, e.row, "fringe length", lam);
    const double k = std::fabs(e.k * lat.kfix);
    if (e.n == 0 && k > 0.0) tighten(2.0 / (k * nm), e.row, "Larmor length 1/k", 1.0 / k);
    if (e.n == 2 && k > 0.0)
      tighten(4.0 / (std::sqrt(k) * nm), e.row, "focusing length 1/sqrt(k)", 1.0 / std::sqrt(k));
  }
  return h;
}

// One step of Butcher's sixth-order, seven-stage Runge-Kutta method.
template <class F>
void rk6Step(F&& f, double z, double h, std::vector<Poly>& y) {
  static constexpr double c[7] = {0.0, 1.0 / 3, 2.0 / 3, 1.0 / 3, 0.5, 0.5, 1.0};
  static constexpr double a[7][6] = {{0, 0, 0, 0, 0, 0},
                                     {1.0 / 3, 0, 0, 0, 0, 0},
                                     {0, 2.0 / 3, 0, 0, 0, 0},
                                     {1.0 / 12, 1.0 / 3, -1.0 / 12, 0, 0, 0},
                                     {-1.0 / 16, 9.0 / 8, -3.0 / 16, -3.0 / 8, 0, 0},
                                     {0, 9.0 / 8, -3.0 / 8, -3.0 / 4, 0.5, 0},
                                     {9.0 / 44, -9.0 / 11, 63.0 / 44, 18.0 / 11, 0, -16.0 / 11}};
  static constexpr double b[7] = {11.0 / 120, 0, 27.0 / 40, 27.0 / 40, -4.0 / 15, -4.0 / 15,
                                  11.0 / 120};
  std::vector<std::vector<Poly>> k;
  k.reserve(7);
  for (int s = 0; s < 7; ++s) {
    std::vector<Poly> t = y;
    for (int j = 0; j < s; ++j)
      if (a[s][j] != 0.0)
        for (size_t i = 0; i < y.size(); ++i) t[i].axpy(h * a[s][j], k[j][i]);
    k.push_back(f(z + c[s] * h, t));
  }
  for (int s = 0; s < 7; ++s)
    if (b[s] != 0.0)
      for (size_t i = 0; i < y.size(); ++i) y[i].axpy(h * b[s], k[s][i]);
}

// The momentum form's right-hand side, and the starting state.
struct Flow {
  const Lattice& lat;
  Lattice mag;          // the multipoles and solenoids, k in Q e / p_object
  MapSettings set;
  bool electric = false, axialMagnetic = false;
  double eps = 0.0;     // Q / (2 m c^2), 1/V
  double phio = 0.0;    // kinetic potential at the object on axis (V)
  double stario = 1.0;  // phi*(phio)
  double kb = 0.0;      // Q e / p_object (1/(T m))

  Flow(const Lattice& l, const MapSettings& s, double zobj) : lat(l), mag(l), set(s) {
    set.model = EdgeModel::Soft;
    set.only = 0;
    for (const AxialLens& a : l.axial) (a.electric ? electric : axialMagnetic) = true;
    eps = l.rest > 0.0 ? l.charge / (2.0 * l.rest) : 0.0;
    double d[1];
    axialPotential(l, zobj, 0, d);
    phio = d[0];
    stario = phio * (1.0 + eps * phio);
    kb = inverseRigidity(l.charge, l.charge * phio, l.rest);
    // The lattice's strengths are Q e B / p at the system's object.
    const double sys = inverseRigidity(l.charge, l.t0, l.rest);
    for (FieldLens& e : mag.lens) e.k *= sys > 0.0 ? l.kfix * kb / sys : 0.0;
  }

  // P^2 and (dP^2/dx)/x at the position (x, y) and z.
  void momentum(double z, const Poly& x, const Poly& y, const Poly* delta, Poly& p2,
                Poly& g) const {
    const Poly r2 = x * x + y * y;
    momentumR(z, r2, r2 * r2, delta, p2, g);
  }
  // The same from r^2 and r^4.
  void momentumR(double z, const Poly& r2, const Poly& r4, const Poly* delta, Poly& p2,
                Poly& g) const {
    const da::Space& sp = r2.space();
    const int order = sp.order();
    double d[7] = {0, 0, 0, 0, 0, 0, 0};
    axialPotential(lat, z, electric ? 6 : 0, d);
    Poly phi(sp, d[0]);
    g = Poly(sp);
    if (electric) {
      phi.axpy(-d[2] / 4.0, r2);
      g += -d[2] / 2.0;
      if (order >= 3) {
        phi.axpy(d[4] / 64.0, r4);
        g.axpy(d[4] / 16.0, r2);
        if (order >= 5) {
          g.axpy(-d[6] / 384.0, r4);
          if (order >= 6) phi.axpy(-d[6] / 2304.0, r4 * r2);
        }
      }
    }
    if (delta) phi.axpy(0.01 * phio, *delta);
    p2 = (phi + eps * (phi * phi)) * (1.0 / stario);
    if (electric) g = (phi * (2.0 * eps) + 1.0) * g * (1.0 / stario);
  }

  // Qe/p0 times the field of the bell lenses and solenoids, added.
  void field(double z, const Poly& x, const Poly& y, const Poly& r2, const Poly& r4, Poly& bx,
             Poly& by, Poly& bz) const {
    fieldAt(mag, set, z, x, y, bx, by, bz);
    if (!axialMagnetic) return;
    const da::Space& sp = x.space();
    double d[6] = {0, 0, 0, 0, 0, 0};
    bellField(lat.axial, z, 5, d);
    for (double& v : d) v *= kb;
    bz += d[0];
    bz.axpy(-d[2] / 4.0, r2);
    bz.axpy(d[4] / 64.0, r4);
    Poly br(sp, -d[1] / 2.0);
    br.axpy(d[3] / 16.0, r2);
    br.axpy(-d[5] / 384.0, r4);
    bx.addProduct(x, br);
    by.addProduct(y, br);
  }

  std::vector<Poly> operator()(double z, const std::vector<Poly>& s) const {
    const da::Space& sp = s[0].space();
    const Poly* delta = nullptr;
    Poly dv(sp);
    if (sp.vars() >= 5) {
      dv = Poly::var(sp, 4);
      delta = &dv;
    }
    Poly p2(sp), g(sp);
    const Poly r2 = s[0] * s[0] + s[2] * s[2];
    const Poly r4 = r2 * r2;
    momentumR(z, r2, r4, delta, p2, g);
    const Poly ip = rsqrt(p2 - s[1] * s[1] - s[3] * s[3]);
    const Poly xp = s[1] * ip, yp = s[3] * ip;
    Poly bx(sp), by(sp), bz(sp);
    field(z, s[0], s[2], r2, r4, bx, by, bz);
    std::vector<Poly> f = {xp, yp * bz - by, yp, bx - xp * bz};
    if (electric) {
      const Poly half = ip * g * 0.5;
      f[1].addProduct(half, s[0]);
      f[3].addProduct(half, s[2]);
    }
    if (s.size() > 4) {
      // Larmor angle on the axis: -(q B / 2 p).
      const double pax = std::sqrt(std::max(p2.constant(), 1e-300));
      f.push_back(Poly(sp, -0.5 * bz.constant() / pax));
    }
    return f;
  }

  // p^2 at z for the state's position; the energy deviation is the fifth
  // variable when the space has one.
  Poly momentumSquared(double z, const std::vector<Poly>& y) const {
    const da::Space& sp = y[0].space();
    Poly dv(sp);
    const Poly* delta = nullptr;
    if (sp.vars() >= 5) {
      dv = Poly::var(sp, 4);
      delta = &dv;
    }
    Poly p2(sp), g(sp);
    momentum(z, y[0], y[2], delta, p2, g);
    return p2;
  }

  // State at zobj for the object coordinates (x, slope, y, slope).
  std::vector<Poly> start(const da::Space& sp, double zobj) const {
    std::vector<Poly> y;
    for (int v = 0; v < 4; ++v) y.push_back(Poly::var(sp, v));
    const Poly p2 = momentumSquared(zobj, y);
    const Poly s = da::sqrt(y[1] * y[1] + y[3] * y[3] + 1.0);
    const Poly f = da::sqrt(p2) * da::recip(s);
    y[1] = f * y[1];
    y[3] = f * y[3];
    return y;
  }

  // Slopes back from the momenta.
  void finish(double z, std::vector<Poly>& y) const {
    const Poly p2 = momentumSquared(z, y);
    const Poly ip = rsqrt(p2 - y[1] * y[1] - y[3] * y[3]);
    y[1] = y[1] * ip;
    y[3] = y[3] * ip;
  }

  bool reflected(double z) const {
    double d[1];
    axialPotential(lat, z, 0, d);
    return !(d[0] > 0.0);
  }
};

// Break points of the integration between za and zb.
std::vector<double> breaks(const Lattice& lat, double za, double zb) {
  std::vector<double> zs = {za, zb};
  auto add = [&](double z) {
    if (z > za && z < zb) zs.push_back(z);
  };
  for (const AxialLens& l : lat.axial) {
    double lo, hi;
    coreOf(l, lo, hi);
    add(lo);
    add(hi);
    // Where a tube lens's tail begins: a step from field-free space must
    // not reach into it.
    if (l.shape == AxialShape::Ramp) {
      FieldStep st[2];
      const int k = rampSteps(l, st);
      for (int j = 0; j < k; ++j) {
        add(st[j].z - kTail * st[j].w);
        add(st[j].z + kTail * st[j].w);
      }
    } else if (l.electric && l.shape != AxialShape::Table) {
      add(lo - kTail * widthOf(l));
      add(hi + kTail * widthOf(l));
    }
  }
  for (const FieldLens& e : lat.lens) {
    add(e.zin);
    add(e.zout);
  }
  std::sort(zs.begin(), zs.end());
  zs.erase(std::unique(zs.begin(), zs.end()), zs.end());
  return zs;
}

// The next step from z towards the break point z1.
double stepTo(const Flow& flow, double z, double z1, double fine, StepCause* cause = nullptr) {
  double h = stepAt(flow.lat, flow.set, z, fine, cause);
  if (z + h >= z1 || z + 1.25 * h >= z1) h = z1 - z;
  return h;
}

// The march from za to zb counted before any step is taken: steps shorter
// than the field's scale allows (a field of absurd strength, a lens far
// thinner than the rest) would integrate for hours. False with the row
// that asks for most of them and why.
bool planMarch(const Flow& flow, const std::vector<double>& zs, double fine, std::string& why) {
  long count = 0;
  std::vector<long> asked;
  std::vector<StepCause> causes;
  for (size_t b = 0; b + 1 < zs.size(); ++b) {
    for (double z = zs[b]; z < zs[b + 1];) {
      StepCause c;
      const double h = stepTo(flow, z, zs[b + 1], fine, &c);
      if (static_cast<size_t>(c.row) >= asked.size()) {
        asked.resize(c.row + 1, 0);
        causes.resize(c.row + 1);
      }
      ++asked[c.row];
      causes[c.row] = c;
      if (++count > kMaxSteps) {
        const size_t r = static_cast<size_t>(
            std::distance(asked.begin(), std::max_element(asked.begin(), asked.end())));
        why = "Row " + std::to_string(r) + ": the " + causes[r].scale + " of " +
              exactNum(causes[r].length) +
              " m needs steps too short to integrate the map (more than " +
              std::to_string(kMaxSteps) + " steps).";
        return false;
      }
      z = z + h >= zs[b + 1] ? zs[b + 1] : z + h;
    }
  }
  return true;
}

// Integrates y from za to zb; hook(zfrom, zto, before, after) is called
// after each step (false stops the march).
template <class Hook>
bool march(const Flow& flow, double za, double zb, std::vector<Poly>& y, std::string& why,
           Hook&& hook) {
  const std::vector<double> zs = breaks(flow.lat, za, zb);
  const double fine = std::max(flow.set.fineness, 1e-3);
  if (!planMarch(flow, zs, fine, why)) return false;
  for (size_t b = 0; b + 1 < zs.size(); ++b) {
    double z = zs[b];
    const double z1 = zs[b + 1];
    while (z < z1) {
      const double h = stepTo(flow, z, z1, fine);
      if (flow.electric && flow.reflected(z + h)) {
        why = "The particle is stopped by the electric field near z = " + exactNum(z + h) +
              " m: no map.";
        return false;
      }
      if (flow.lat.lib) gx::gxpoll(*flow.lat.lib);
      std::vector<Poly> before = y;
      rk6Step(flow, z, h, y);
      const double zn = (z + h >= z1) ? z1 : z + h;
      if (!hook(z, zn, before, y)) return true;
      z = zn;
    }
  }
  return true;
}

std::complex<double> rotated(double x, double y, double theta) {
  return std::complex<double>(x, y) * std::polar(1.0, -theta);
}

}  // namespace

double RoundOptics::csi() const { return std::pow(m, 4) * std::pow(pratio, 3) * cs; }
double RoundOptics::c5i() const { return std::pow(m, 6) * std::pow(pratio, 5) * c5; }
double RoundOptics::c5ai() const { return std::pow(m, 6) * std::pow(pratio, 5) * c5a; }
double RoundOptics::cci() const { return m * m * pratio * tratio * cc; }

double restEnergy(double amu) {
  const double electron = roundk::kElectronRest / roundk::kAmuRest;
  const double proton = roundk::kProtonRest / roundk::kAmuRest;
  if (std::fabs(amu - electron) <= 1e-4 * electron) return roundk::kElectronRest;
  if (std::fabs(amu - proton) <= 1e-6 * proton) return roundk::kProtonRest;
  return amu * roundk::kAmuRest;
}

void axialPotential(const Lattice& lat, double z, int m, double* d) {
  for (int k = 0; k <= m; ++k) d[k] = 0.0;
  d[0] = lat.vbase;
  for (const AxialLens& l : lat.axial) {
    if (!l.electric) continue;
    if (l.shape == AxialShape::Table) {
      double f[8];
      tableDerivs(*l.table, z - l.zc, m, f);
      f[0] -= l.table->f.front();
      for (int k = 0; k <= m; ++k) d[k] += l.scale * f[k];
      continue;
    }
    if (l.shape == AxialShape::Ramp) {
      FieldStep st[2];
      const int k = rampSteps(l, st);
      for (int j = 0; j < k; ++j) addFieldStep(st[j], z, m, d);
      continue;
    }
    const double w = widthOf(l);
    const double c = 0.5 * l.vbefore * (l.ratio - 1.0);
    if (l.shape == AxialShape::Immersion) {
      d[0] += c;
      addTanh(c, l.zc, w, z, m, d);
    } else {
      addTanh(c, l.zc - 0.5 * l.len, w, z, m, d);
      addTanh(-c, l.zc + 0.5 * l.len, w, z, m, d);
    }
  }
}

void axialField(const Lattice& lat, const MapSettings& set, double z, int m, double* d) {
  for (int k = 0; k <= m; ++k) d[k] = 0.0;
  bellField(lat.axial, z, m, d);
  const double kb = inverseRigidity(lat.charge, lat.t0, lat.rest);
  for (const FieldLens& e : lat.lens) {
    if (e.n != 0 || kb <= 0.0) continue;
    const double lam = set.fringe * e.bore;
    const double b = e.k * lat.kfix / kb;   // back to tesla
    addTanh(0.5 * b, e.zin, lam, z, m, d);
    addTanh(-0.5 * b, e.zout, lam, z, m, d);
  }
}

bool isRound(const Lattice& lat) {
  for (const FieldLens& e : lat.lens)
    if (e.n != 0 || e.dx != 0.0 || e.dy != 0.0) return false;
  return true;
}

bool roundMap(const Lattice& lat, const MapSettings& set, const da::Space& sp, double zfrom,
              double zto, std::vector<Poly>& map, std::string& why) {
  if (!(lat.t0 > 0.0)) {
    why = "No particle energy.";
    return false;
  }
  for (const FieldLens& e : lat.lens)
    if (!(set.fringe * e.bore > 0.0)) {
      why = "A soft edge needs the bore radius of row " + std::to_string(e.host) + ".";
      return false;
    }
  const Flow flow(lat, set, zfrom);
  if (!(flow.phio > 0.0)) {
    why = "The particle has no kinetic energy at the object.";
    return false;
  }
  std::vector<Poly> y = flow.start(sp, zfrom);
  if (!march(flow, zfrom, zto, y, why,
             [](double, double, const std::vector<Poly>&, const std::vector<Poly>&) {
               return true;
             }))
    return false;
  flow.finish(zto, y);
  if (!convergedMap(y, why)) return false;
  map = std::move(y);
  return true;
}

namespace {

// Radial position of the paraxial axial ray (slope term of x, y), in the
// frame turned with the Larmor angle carried as the fifth state.
double axialRadial(const std::vector<Poly>& st) {
  const da::Exps et{0, 1, 0, 0, 0};
  return rotated(st[0].coef(et), st[2].coef(et), st[4].constant()).real();
}

// The crossing inside the step from za (state ya) to zb, by the secant
// (regula falsi, Illinois), each trial one step from za.
double crossingIn(const Flow& flow, double za, double zb, const std::vector<Poly>& ya) {
  auto at = [&](double z) {
    std::vector<Poly> t = ya;
    if (z > za) rk6Step(flow, za, z - za, t);
    return axialRadial(t);
  };
  double lo = za, hi = zb, flo = at(lo), fhi = at(hi), zi = zb;
  int side = 0;
  for (int it = 0; it < 100 && hi - lo > 1e-15 * std::max(1.0, std::fabs(hi)); ++it) {
    zi = (lo * fhi - hi * flo) / (fhi - flo);
    const double fz = at(zi);
    if (fz == 0.0) break;
    if ((fz > 0.0) == (flo > 0.0)) {
      lo = zi;
      flo = fz;
      if (side == -1) fhi *= 0.5;
      side = -1;
    } else {
      hi = zi;
      fhi = fz;
      if (side == 1) flo *= 0.5;
      side = 1;
    }
  }
  return zi;
}

// The first (or, with last, the last) crossing of the paraxial axial ray
// behind zobj. Beyond zlimit the ray is taken straight: a ray still
// converging there crosses beyond it, and with last that crossing is the
// final image (a column fitted to image on its end plane crosses there, a
// rounding either side of it). Sets zi, and beyond whether it lies past
// zlimit.
bool imageOf(const Flow& flow, double zobj, double zlimit, bool last, double& zi, bool& beyond,
             std::string& why) {
  const da::Space s1(4, 1);
  std::vector<Poly> y = flow.start(s1, zobj);
  y.push_back(Poly(s1));   // the Larmor angle
  double za = 0.0, zb = 0.0;
  std::vector<Poly> ya;
  bool found = false;
  if (!march(flow, zobj, zlimit, y, why,
             [&](double z0, double z1, const std::vector<Poly>& before,
                 const std::vector<Poly>& after) {
               const double r0 = axialRadial(before), r1 = axialRadial(after);
               if (z0 > zobj && ((r1 <= 0.0 && r0 > 0.0) || (r1 >= 0.0 && r0 < 0.0))) {
                 za = z0;
                 zb = z1;
                 ya = before;
                 found = true;
                 return last;
               }
               return true;
             }))
    return false;
  if (!found || last) {
    // Beyond the fields the ray is straight.
    const da::Exps et{0, 1, 0, 0, 0};
    std::vector<Poly> end = y;
    flow.finish(zlimit, end);
    const double r = rotated(end[0].coef(et), end[2].coef(et), end[4].constant()).real();
    const double rp = rotated(end[1].coef(et), end[3].coef(et), end[4].constant()).real();
    if (r != 0.0 && rp != 0.0 && (r > 0.0) != (rp > 0.0)) {
      zi = zlimit - r / rp;
      beyond = true;
      return true;
    }
    if (!found) {
      why = last ? "The axial ray does not cross the axis before the system end."
                 : "The axial ray does not cross the axis: no real image.";
      return false;
    }
  }
  zi = crossingIn(flow, za, zb, ya);
  beyond = false;
  return true;
}

}  // namespace

bool roundOptics(const Lattice& lat, const MapSettings& set, double zobj, double zlimit,
                 RoundOptics& out, std::string& why, bool last) {
  out = RoundOptics{};
  if (!isRound(lat)) {
    why = "The system is not rotationally symmetric.";
    return false;
  }
  const Flow flow(lat, set, zobj);
  if (!(lat.t0 > 0.0) || !(flow.phio > 0.0)) {
    why = "No particle energy at the object.";
    return false;
  }
  double zi = 0.0;
  bool beyond = false;
  if (!imageOf(flow, zobj, zlimit, last, zi, beyond, why)) return false;
  out.zi = zi;

  // The full map to the image, fifth order with the energy deviation.
  const da::Space s5(5, 5);
  std::vector<Poly> m5 = flow.start(s5, zobj);
  m5.push_back(Poly(s5));
  const double zmap = beyond ? zlimit : zi;
  if (!march(flow, zobj, zmap, m5, why,
             [](double, double, const std::vector<Poly>&, const std::vector<Poly>&) {
               return true;
             }))
    return false;
  const double theta = m5[4].constant();
  m5.pop_back();
  flow.finish(zmap, m5);
  if (beyond) {
    m5[0].axpy(zi - zlimit, m5[1]);
    m5[2].axpy(zi - zlimit, m5[3]);
  }
  out.theta = theta;
  auto u = [&](da::Exps e) { return rotated(m5[0].coef(e), m5[2].coef(e), theta); };
  const std::complex<double> ux = u({1, 0, 0, 0, 0});
  out.m = ux.real();
  out.imagCheck = std::fabs(ux.imag());
  if (out.m == 0.0) {
    why = "The magnification is zero.";
    return false;
  }
  out.cs = u({0, 3, 0, 0, 0}).real() / out.m;
  const std::complex<double> u5 = u({0, 5, 0, 0, 0});
  out.c5 = u5.real() / out.m;
  out.c5a = u5.imag() / out.m;
  out.cc = -100.0 * u({0, 1, 0, 0, 1}).real() / out.m;
  double di[1], d0[1];
  axialPotential(lat, zi, 0, di);
  axialPotential(lat, zobj, 0, d0);
  out.tratio = di[0] / d0[0];
  const double eps = lat.rest > 0.0 ? lat.charge / (2.0 * lat.rest) : 0.0;
  out.pratio = std::sqrt(di[0] * (1.0 + eps * di[0]) / (d0[0] * (1.0 + eps * d0[0])));
  return true;
}

Lattice singleLens(const Lattice& lat, const MapSettings& set, int k, bool solenoid) {
  Lattice one = lat;
  one.axial.clear();
  one.lens.clear();
  double z = 0.0;
  if (solenoid) {
    one.lens.push_back(lat.lens[k]);
    z = 0.5 * (lat.lens[k].zin + lat.lens[k].zout);
  } else {
    one.axial.push_back(lat.axial[k]);
    z = lat.axial[k].zc;
  }
  // The lens sits in the potential the system has around it.
  double d[1];
  if (!solenoid && lat.axial[k].electric) {
    one.vbase = lat.axial[k].vbefore;
  } else {
    axialPotential(lat, z, 0, d);
    one.vbase = d[0];
  }
  (void)set;
  return one;
}

}  // namespace tavo
