// Transfer maps from the fields: the lens system's magnetic multipoles and
// solenoids, their off-axis fields from the scalar potential, and the ray
// equation x'' = (q/p) s [y'Bz - (1+x'^2)By + x'y'Bx],
// y'' = (q/p) s [-x'Bz + (1+y'^2)Bx - x'y'By], s = sqrt(1+x'^2+y'^2),
// integrated for the whole map at once.
#include "tavo/exact/exact.h"

#include <algorithm>
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/model/model.h"
#include "tavo/exact/fieldfile.h"
#include "tavo/exact/round.h"
#include "tavo/optics/optics.h"

namespace tavo {

using da::Poly;

namespace {

// Fringe tails are followed out to this many fringe lengths (tanh is then
// within 1e-17 of its limit).
constexpr double kTail = 20.0;
// Integration steps one map may take: a few hundred times what the systems
// of the examples need, seconds of work at fifth order.
constexpr long long kMaxSteps = 200000;

std::string rowName(Tavo& s, int row) {
  TypeCode tc = decodeType(s, s.bdata(row, 1));
  std::string name = kindName(tc.kind);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return "row " + std::to_string(row) + " (" + fieldLabel(tc.field) + " " + name + ")";
}

double lambdaOf(const FieldLens& e, const MapSettings& set) { return set.fringe * e.bore; }

// Extent of the lens's field along z.
void extent(const FieldLens& e, const MapSettings& set, double& lo, double& hi) {
  const double w = set.model == EdgeModel::Soft ? kTail * lambdaOf(e, set) : 0.0;
  lo = e.zin - w;
  hi = e.zout + w;
}

// g^(k)(z), k = 0..m, of g = (tanh((z - zin)/l) - tanh((z - zout)/l)) / 2.
std::vector<double> gDerivs(const FieldLens& e, double lam, double z, int m) {
  std::vector<double> a = tanhDerivs((z - e.zin) / lam, m);
  std::vector<double> b = tanhDerivs((z - e.zout) / lam, m);
  std::vector<double> g(m + 1);
  double f = 0.5;
  for (int k = 0; k <= m; ++k) {
    g[k] = f * (a[k] - b[k]);
    f /= lam;
  }
  return g;
}

// Field of a solenoid (already multiplied by Qe/p) at (xr, yr) added to
// (bx, by, bz): Bz = sum c_k b^(2k) r^2k, Br = -r sum c_k b^(2k+1) r^2k /
// (2k+2), c_k = (-1)^k / (4^k k!^2).
void solenoidField(const FieldLens& e, const MapSettings& set, double z, const Poly& xr,
                   const Poly& yr, Poly& bx, Poly& by, Poly& bz) {
  const da::Space& sp = xr.space();
  const int order = sp.order();
  if (set.model != EdgeModel::Soft) {
    bz += e.k;
    return;
  }
  const int m = order + 1;
  std::vector<double> g = gDerivs(e, lambdaOf(e, set), z, m);
  const Poly r2 = xr * xr + yr * yr;
  Poly rp(sp, 1.0);   // r^2k
  Poly sr(sp);        // sum c_k b^(2k+1) r^2k / (2k+2)
  double c = 1.0;
  for (int k = 0; 2 * k <= order; ++k) {
    if (2 * k <= order - 1) bz.axpy(e.k * c * g[2 * k], rp);
    if (2 * k + 1 <= order) sr.axpy(c * g[2 * k + 1] / (2.0 * k + 2.0), rp);
    c *= -1.0 / (4.0 * (k + 1) * (k + 1));
    rp = rp * r2;
  }
  bx.addProduct(xr, sr * -e.k);
  by.addProduct(yr, sr * -e.k);
}

// The soft-edged multipole's field in its own frame (u, v), w^(n-1) = pr +
// i pi, from the potential Psi = sum_k a_k r^2k h, h = Im(w^n)/n,
// a_k = -K (-1)^k g^(2k) / prod_j 4j(j+n), as B = -grad Psi.
void softMultipole(const FieldLens& e, const MapSettings& set, double z, const Poly& u,
                   const Poly& v, const Poly& pr, const Poly& pi, Poly& bu, Poly& bv, Poly& bw) {
  const da::Space& sp = u.space();
  const int order = sp.order();
  const int n = e.n;
  const int kmax = (order - n + 1) / 2;
  std::vector<double> g = gDerivs(e, lambdaOf(e, set), z, 2 * kmax + 1);
  const Poly h = (pr * v + pi * u) * (1.0 / n);
  const Poly r2 = u * u + v * v;
  Poly rp(sp, 1.0), rpm(sp);   // r^2k, r^(2k-2)
  double d = 1.0;
  for (int k = 0; k <= kmax; ++k) {
    const double sgn = k % 2 == 0 ? 1.0 : -1.0;
    const double ak = -e.k * sgn * g[2 * k] / d;
    const double akp = -e.k * sgn * g[2 * k + 1] / d;
    Poly t = rp * pi;
    Poly q = rp * pr;
    if (k > 0) {
      const Poly rh = rpm * h * (2.0 * k);
      t.addProduct(rh, u);
      q.addProduct(rh, v);
    }
    bu.axpy(-ak, t);
    bv.axpy(-ak, q);
    if (n + 2 * k <= order - 1) bw.addProduct(rp * -akp, h);
    rpm = rp;
    rp = rp * r2;
    d *= 4.0 * (k + 1) * (k + 1 + n);
  }
}

// Field of one lens (already multiplied by Qe/p) added to (bx, by, bz).
void lensField(const FieldLens& e, const MapSettings& set, double z, const Poly& xs,
               const Poly& ys, Poly& bx, Poly& by, Poly& bz) {
  const da::Space& sp = xs.space();
  const bool soft = set.model == EdgeModel::Soft;
  if (!soft && (z < e.zin || z > e.zout)) return;
  const Poly xr = xs + e.dx, yr = ys + e.dy;

  if (e.n == 0) {
    solenoidField(e, set, z, xr, yr, bx, by, bz);
    return;
  }

  // Multipole of order n in its own frame: By + i Bx = K g(z) w^(n-1) on the
  // midplane, w = u + i v.
  const Poly u = xr * e.cosa + yr * e.sina;
  const Poly v = yr * e.cosa - xr * e.sina;
  Poly pr(sp, 1.0), pi(sp);   // w^(n-1)
  for (int j = 1; j < e.n; ++j) {
    Poly nr = pr * u - pi * v;
    Poly ni = pr * v + pi * u;
    pr = std::move(nr);
    pi = std::move(ni);
  }
  Poly bu(sp), bv(sp), bw(sp);
  if (!soft) {
    bu.axpy(e.k, pi);
    bv.axpy(e.k, pr);
  } else {
    softMultipole(e, set, z, u, v, pr, pi, bu, bv, bw);
  }
  bx.axpy(e.cosa, bu);
  bx.axpy(-e.sina, bv);
  by.axpy(e.sina, bu);
  by.axpy(e.cosa, bv);
  bz += bw;
}

// Ray-equation right-hand side for the field (bx, by, bz) (already Qe/p).
void rayForce(const std::vector<Poly>& y, const Poly& rho, const Poly& s, const Poly& bx,
              const Poly& by, const Poly& bz, Poly& fx, Poly& fy) {
  const Poly& xp = y[1];
  const Poly& yp = y[3];
  const Poly xy = xp * yp;
  Poly ax = yp * bz - (xp * xp + 1.0) * by + xy * bx;
  Poly ay = (yp * yp + 1.0) * bx - xp * bz - xy * by;
  const Poly f = rho * s;
  fx = f * ax;
  fy = f * ay;
}

// Thin Maxwellian edge of a hard-edged quadrupole (third order), entrance
// sign +1, exit -1.
void quadEdge(const FieldLens& e, const Poly& rho, double sign, std::vector<Poly>& y) {
  const Poly xr = y[0] + e.dx, yr = y[2] + e.dy;
  const Poly u = xr * e.cosa + yr * e.sina;
  const Poly v = yr * e.cosa - xr * e.sina;
  const Poly up = y[1] * e.cosa + y[3] * e.sina;
  const Poly vp = y[3] * e.cosa - y[1] * e.sina;
  const Poly k = rho * (sign * e.k);
  const Poly u2 = u * u, v2 = v * v, uv = u * v, r2 = u2 + v2;
  Poly du = k * (u * (u2 + v2 * 3.0)) * (1.0 / 12.0);
  Poly dv = k * (v * (v2 + u2 * 3.0)) * (-1.0 / 12.0);
  Poly dup = k * (r2 * up - uv * vp * 2.0) * -0.25;
  Poly dvp = k * (r2 * vp - uv * up * 2.0) * 0.25;
  y[0].axpy(e.cosa, du).axpy(-e.sina, dv);
  y[2].axpy(e.sina, du).axpy(e.cosa, dv);
  y[1].axpy(e.cosa, dup).axpy(-e.sina, dvp);
  y[3].axpy(e.sina, dup).axpy(e.cosa, dvp);
}

// Thin edge of a hard-edged solenoid (first order only: the third order of a
// field step diverges).
void solenoidEdge(const FieldLens& e, const Poly& rho, double sign, std::vector<Poly>& y) {
  const Poly k = rho * (0.5 * sign * e.k);
  y[1].addProduct(k, y[2] + e.dy);
  y[3].addProduct(k, -(y[0] + e.dx));
}

// A round lens from its axial field in a file: column 4 = -n names the
// file axial<n>.dat, column 3 scales it (its z from the element's centre).
bool tableLens(Tavo& s, int i, int kind, Lattice& lat, std::string& why) {
  const int n = static_cast<int>(std::lround(-s.bdata(i, 4)));
  auto t = std::make_shared<AxialTable>();
  if (!readAxialTable("axial" + std::to_string(n) + ".dat", *t, why)) {
    why += " (" + rowName(s, i) + ")";
    return false;
  }
  AxialLens l;
  l.row = i;
  l.shape = AxialShape::Table;
  l.electric = kind != 19;
  l.zc = s.bdata(i, 5);
  l.scale = s.bdata(i, 3);
  l.width = t->width;
  if (!l.electric) {
    double peak = 0.0;
    for (double f : t->f) peak = std::max(peak, std::fabs(f));
    if (std::fabs(t->f.front()) > 1e-3 * peak || std::fabs(t->f.back()) > 1e-3 * peak) {
      why = "The field file " + t->name + " is too short: the magnetic field has not died away at its ends (" +
            rowName(s, i) + ").";
      return false;
    }
  }
  l.table = std::move(t);
  if (l.scale != 0.0) lat.axial.push_back(l);
  return true;
}

// A round lens row as its axial function: einzel (V2/V1, centre-electrode
// length, tube radius), two-tube immersion lens (V2/V1, radius) and the
// bell-shaped magnetic lens (B0, half-width).
bool axialLens(Tavo& s, int i, int kind, Lattice& lat, std::string& why) {
  const double v = s.bdata(i, 3);
  const double r = s.bdata(i, 4);
  if (std::isfinite(r) && r <= -0.5 && r > -1e6) return tableLens(s, i, kind, lat, why);
  if (kind == 19 ? v == 0.0 : v == 1.0) return true;   // no field: a drift
  if (!std::isfinite(v) || !std::isfinite(r) || !(r > 0.0)) {
    why = "The round-lens model needs a positive radius in column 4 of " + rowName(s, i) + ".";
    return false;
  }
  if (kind != 19 && !(v > 0.0)) {
    why = "The voltage ratio of " + rowName(s, i) + " stops the particle: it must be positive.";
    return false;
  }
  AxialLens l;
  l.row = i;
  l.zc = s.bdata(i, 5);
  l.width = r;
  if (kind == 19) {
    l.shape = AxialShape::Bell;
    l.electric = false;
    l.b0 = v;
  } else {
    l.shape = kind == 15 ? AxialShape::Einzel : AxialShape::Immersion;
    l.ratio = v;
    if (kind == 15) {
      l.len = s.bdata(i, 2);
      if (!(l.len > 0.0)) {
        why = "The einzel model needs the centre-electrode length in column 2 of " +
              rowName(s, i) + ".";
        return false;
      }
    }
  }
  lat.axial.push_back(l);
  return true;
}

// The step at one end of the accelerating section in row i towards row j
// (i - 1 or i + 1): shaped by a gap lens there (its radius, column 3), none
// when the neighbour is a section of the same field. False when the field
// would step with nothing to give the step a length.
bool rampEnd(Tavo& s, int i, int j, double field, double& radius, std::string& why) {
  radius = 0.0;
  const TypeCode tc = decodeType(s, s.bdata(j, 1));
  if (j >= 3 && j < s.syspa && !tc.superposed && tc.kind == 13) {
    radius = s.bdata(j, 3);
    if (std::isfinite(radius) && radius > 0.0) return true;
    why = "The gap lens of " + rowName(s, j) + " needs its radius (column 3) to shape the "
          "field step of the accelerating section next to it.";
    return false;
  }
  if (j >= 3 && j < s.syspa && !tc.superposed && tc.kind == 10 && s.bdata(j, 2) > 0.0 &&
      std::fabs(s.bdata(j, 3) / s.bdata(j, 2) - field) <= 1e-12 * std::fabs(field))
    return true;
  why = "The field of the accelerating section in " + rowName(s, i) +
        " steps at its " + (j < i ? "entrance" : "exit") +
        " with no gap lens there: the field map needs a gap lens (its radius in column 3) "
        "at each end of an accelerating section.";
  return false;
}

// An accelerating section: a uniform axial field, the potential rising by
// column 3 (MV; the kinetic energy by Q times it, MeV) over column 2; its
// ends are the field steps the gap lenses beside it shape.
bool rampLens(Tavo& s, int i, Lattice& lat, std::string& why) {
  AxialLens l;
  l.row = i;
  l.shape = AxialShape::Ramp;
  l.len = s.bdata(i, 2);
  l.zc = s.bdata(i, 5);
  l.volts = s.bdata(i, 3) * 1e6;
  if (!(l.len > 0.0) || !std::isfinite(l.volts)) {
    why = "The accelerating section in " + rowName(s, i) + " needs a length and a voltage.";
    return false;
  }
  const double field = s.bdata(i, 3) / l.len;
  if (!rampEnd(s, i, i - 1, field, l.width, why) || !rampEnd(s, i, i + 1, field, l.width2, why))
    return false;
  lat.axial.push_back(l);
  return true;
}

// The rows the round model takes from their axial functions: 1 when row i
// is one and taken, -1 with the reason when it cannot be modelled, 0 when
// it is none of them.
int roundRow(Tavo& s, int i, const TypeCode& tc, Lattice& lat, std::string& why) {
  if (tc.kind == 15 || tc.kind == 17 || tc.kind == 19)
    return axialLens(s, i, tc.kind, lat, why) ? 1 : -1;
  if (tc.superposed) return 0;
  // A gap lens is the shape of the field steps of the sections beside it.
  if (tc.kind == 13) return 1;
  if (tc.kind == 10 && s.bdata(i, 3) != 0.0) return rampLens(s, i, lat, why) ? 1 : -1;
  return 0;
}

// The particle in the round model's constants and the potential levels of
// the electric lenses: each lens's ratio applies to the potential it meets,
// and the whole is scaled so that the object sees the particle's energy.
bool roundLevels(Tavo& s, Lattice& lat, std::string& why) {
  lat.charge = std::fabs(s.bdata(1, 2));
  lat.rest = restEnergy(s.bdata(1, 3));
  lat.t0 = kineticEnergyMeV(s, 3) * 1e6 * lat.charge;
  const double pc = std::sqrt(lat.t0 * lat.t0 + 2.0 * lat.t0 * lat.rest);
  const double kb = pc > 0.0 ? lat.charge * roundk::kLight / pc : 0.0;
  if (!lat.lens.empty()) {
    Kinematics kin = kinematics(s, lat.lens.front().row);
    lat.kfix = kin.qep > 0.0 ? kb / kin.qep : 1.0;
  }
  lat.vbase = lat.charge > 0.0 ? lat.t0 / lat.charge : 0.0;
  if (lat.axial.empty()) return true;
  if (!(lat.t0 > 0.0) || !(lat.charge > 0.0)) {
    why = "The round lenses need a particle with charge and energy.";
    return false;
  }
  // The potential is affine in the far-before level (the tube lenses scale
  // with it, the field files add their own volts): two trials fix it.
  auto levels = [&](double base) {
    lat.vbase = base;
    Lattice before = lat;   // the lenses met so far
    before.axial.clear();
    for (AxialLens& l : lat.axial) {
      if (l.electric) {
        // A tube lens's ratio applies to the potential it meets.
        double d[1];
        axialPotential(before, l.zc, 0, d);
        l.vbefore = d[0];
      }
      before.axial.push_back(l);
    }
    double d[1];
    axialPotential(lat, 0.0, 0, d);
    return d[0];
  };
  const double target = lat.t0 / lat.charge;
  const double p1 = levels(target), p2 = levels(2.0 * target);
  const double slope = (p2 - p1) / target;
  if (!(slope > 0.0)) {
    why = "The electric lenses leave the particle no energy at the object.";
    return false;
  }
  levels(target + (target - p1) / slope);
  return true;
}

}  // namespace

std::vector<double> tanhDerivs(double u, int m) {
  // d/du P(t) = P'(t) (1 - t^2) for t = tanh u: derivatives as polynomials in t.
  const double t = std::tanh(u);
  std::vector<double> out(m + 1);
  std::vector<double> p = {0.0, 1.0};
  for (int k = 0; k <= m; ++k) {
    double v = 0.0;
    for (size_t j = p.size(); j-- > 0;) v = v * t + p[j];
    out[k] = v;
    std::vector<double> q(p.size() + 1, 0.0);
    for (size_t j = 1; j < p.size(); ++j) {
      const double c = p[j] * static_cast<double>(j);
      q[j - 1] += c;
      q[j + 1] -= c;
    }
    p = std::move(q);
  }
  return out;
}

void fieldAt(const Lattice& lat, const MapSettings& set, double z, const Poly& x, const Poly& y,
             Poly& bx, Poly& by, Poly& bz, int onlyHost) {
  for (const FieldLens& e : lat.lens) {
    if (onlyHost > 0 && e.host != onlyHost) continue;
    if (onlyHost < 0 && e.host == -onlyHost) continue;
    double lo, hi;
    extent(e, set, lo, hi);
    if (z < lo || z > hi) continue;
    lensField(e, set, z, x, y, bx, by, bz);
  }
}

namespace {
// An empty lattice whose integrations poll the session for Ctrl-C.
Lattice sessionLattice(Tavo& s) {
  Lattice lat;
  lat.lib = &s.gx;
  return lat;
}
}  // namespace

bool buildLattice(Tavo& s, Lattice& lat, std::string& why) {
  lat = sessionLattice(s);
  if (s.syspa < 3) {
    why = "No lens system loaded: type DATA first.";
    return false;
  }
  lat.zend = s.syspb.totlen;
  int host = 0;
  bool energy = false;
  for (int i = 3; i < s.syspa; ++i) {
    TypeCode tc = decodeType(s, s.bdata(i, 1));
    if (tc.field == 0) continue;
    if (!tc.superposed) host = i;
    const double b3 = s.bdata(i, 3);
    const int round = roundRow(s, i, tc, lat, why);
    if (round < 0) return false;
    if (round > 0) continue;
    const bool multipole = tc.kind == 4 || tc.kind == 6 || tc.kind == 8;
    const bool modelled = tc.field > 0 && (multipole || tc.kind == 11);
    if (!modelled) {
      // A field-free element of another kind is a drift.
      if (b3 == 0.0 && (tc.kind != 2 || s.bdata(i, 4) == 0.0)) continue;
      why = "The field map models magnetic multipoles and solenoids only: " + rowName(s, i) +
            " is not modelled.";
      return false;
    }
    if (tc.superposed && host == 0) {
      why = "The superimposed " + rowName(s, i) + " has no lens to lie on.";
      return false;
    }
    if (b3 == 0.0) continue;
    Kinematics kin = kinematics(s, i);
    if (kin.p <= 0.0) {
      why = "No particle energy at " + rowName(s, i) + ".";
      return false;
    }
    if (!energy) {
      const double tc2 = kin.t / s.cnst.c;
      lat.pa = tc2 * tc2;
      lat.pb = 2.0 * kin.m * kin.t / s.cnst.e;
      energy = true;
    }
    FieldLens e;
    e.row = i;
    e.host = host;
    const double a = std::fabs(s.bdata(i, 4));
    e.bore = std::fabs(s.bdata(host, 4));
    if (tc.kind == 11) {
      e.n = 0;
      e.k = kin.qep * b3;
    } else {
      e.n = tc.kind == 4 ? 2 : tc.kind == 6 ? 3 : 4;
      if (a == 0.0) {
        why = "Zero bore radius in " + rowName(s, i) + ".";
        return false;
      }
      e.k = kin.qep * b3 / std::pow(a, e.n - 1);
      // A positive octupole field pushes outwards on the x axis
      // (x'' = +K x^3), the sense the octupole correction is computed in.
      if (e.n == 4) e.k = -e.k;
    }
    const double len = s.bdata(host, 2);
    const double zc = s.bdata(host, 5);
    e.zin = zc - len / 2.0;
    e.zout = zc + len / 2.0;
    double angle = s.rotat[host];
    if (host != i) angle += s.rotat[i];
    e.cosa = std::cos(angle);
    e.sina = std::sin(angle);
    if (std::fabs(angle) <= 1e-10) {
      e.cosa = 1.0;
      e.sina = 0.0;
    }
    e.dx = s.displ[host][0];
    e.dy = s.displ[host][1];
    lat.lens.push_back(e);
  }
  return roundLevels(s, lat, why);
}

namespace {

// Whether the model can give a map of this order. False with the reason.
bool mapPossible(const Lattice& lat, const MapSettings& set, int order, std::string& why) {
  const bool soft = set.model == EdgeModel::Soft;
  for (const FieldLens& e : lat.lens) {
    if (soft && e.bore <= 0.0) {
      why = "A soft edge needs the bore radius of row " + std::to_string(e.host) + ".";
      return false;
    }
    if (soft && set.fringe <= 0.0) {
      why = "The fringe-field factor must be positive.";
      return false;
    }
    if (!soft && e.n == 0 && order > 1) {
      why = "A hard-edged solenoid (row " + std::to_string(e.row) +
            ") has no finite third-order aberration: use the soft edge.";
      return false;
    }
  }
  if (!soft && order > 3) {
    why = "A hard edge has no finite fifth-order limit: the hard-edge map stops at third order.";
    return false;
  }
  return true;
}

// Relative rigidity (p/p0)^-1 as a series in delta.
Poly rigidity(const Lattice& lat, const da::Space& sp) {
  Poly rho(sp, 1.0);
  if (sp.vars() >= 5 && lat.pa + lat.pb > 0.0) {
    const Poly ep = Poly::var(sp, 4) * 0.01;
    Poly r = (ep + 1.0) * (ep + 1.0) * lat.pa + (ep + 1.0) * lat.pb;
    r *= 1.0 / (lat.pa + lat.pb);
    rho = da::recip(da::sqrt(r));
  }
  return rho;
}

// Break points: edges, ends of tails, object and system end.
std::vector<double> breakPoints(const Lattice& lat, const MapSettings& set) {
  std::vector<double> zs = {0.0, lat.zend};
  for (const FieldLens& e : lat.lens) {
    double lo, hi;
    extent(e, set, lo, hi);
    for (double z : {lo, hi, e.zin, e.zout})
      if (z > 0.0 && z < lat.zend) zs.push_back(z);
  }
  std::sort(zs.begin(), zs.end());
  zs.erase(std::unique(zs.begin(), zs.end()), zs.end());
  return zs;
}

// What sets a segment's step: the lens (index into lat.lens) and why.
enum class StepLimit { Body, Fringe, Strength };

// Step length h in the segment of length len around mid, from the fringe
// lengths and the focusing strengths met. False when the segment is
// field-free.
bool stepLength(const Lattice& lat, const MapSettings& set, double mid, double len, double& h,
                size_t& limit, StepLimit& reason) {
  const bool soft = set.model == EdgeModel::Soft;
  h = len;
  bool field = false;
  for (size_t i = 0; i < lat.lens.size(); ++i) {
    const FieldLens& e = lat.lens[i];
    double lo, hi;
    extent(e, set, lo, hi);
    if (mid < lo || mid > hi) continue;
    field = true;
    auto tighten = [&](double hh, StepLimit why) {
      if (!(hh >= h)) {
        h = hh;
        limit = i;
        reason = why;
      }
    };
    // A quadrupole's or solenoid's phase advance per step stays small.
    if (e.n == 2) tighten(0.02 / std::sqrt(std::fabs(e.k)), StepLimit::Strength);
    if (e.n == 0) tighten(0.04 / std::fabs(e.k), StepLimit::Strength);
    tighten(soft ? lambdaOf(e, set) / 16.0 : len / 4.0, soft ? StepLimit::Fringe : StepLimit::Body);
  }
  return field;
}

// The step count of every segment between the break points (0: field-free).
// A map that would need more than kMaxSteps (a fringe far shorter than the
// lens, a field of absurd strength) is refused before any work, naming the
// lens that asks for the most steps.
bool stepPlan(const Lattice& lat, const MapSettings& set, const std::vector<double>& zs,
              std::vector<long long>& steps, std::string& why) {
  steps.assign(zs.size(), 0);
  std::vector<double> asked(lat.lens.size(), 0.0);
  std::vector<StepLimit> reasons(lat.lens.size(), StepLimit::Body);
  double total = 0.0;
  for (size_t b = 0; b + 1 < zs.size(); ++b) {
    const double len = zs[b + 1] - zs[b];
    double h = len;
    size_t limit = 0;
    StepLimit reason = StepLimit::Body;
    if (len <= 0.0 || !stepLength(lat, set, zs[b] + 0.5 * len, len, h, limit, reason)) continue;
    h /= std::max(set.fineness, 1e-3);
    const double n = std::max(2.0, std::ceil(len / h));
    const bool ok = std::isfinite(n) && n <= static_cast<double>(kMaxSteps);
    if (ok) steps[b] = static_cast<long long>(n);
    total += ok ? n : HUGE_VAL;
    asked[limit] += ok ? n : HUGE_VAL;
    if (reason != StepLimit::Body) reasons[limit] = reason;
  }
  if (total <= static_cast<double>(kMaxSteps)) return true;
  const size_t i = static_cast<size_t>(
      std::distance(asked.begin(), std::max_element(asked.begin(), asked.end())));
  const FieldLens& e = lat.lens[i];
  const std::string detail =
      reasons[i] == StepLimit::Fringe
          ? "fringe length " + exactNum(lambdaOf(e, set)) + " m"
      : reasons[i] == StepLimit::Strength
          ? "strength " + exactNum(e.k) + " per m^" + std::to_string(e.n == 0 ? 1 : e.n)
          : "body length " + exactNum(e.zout - e.zin) + " m";
  why = "Row " + std::to_string(e.row) + ": the " + detail +
        " needs steps too short to integrate the map (more than " + std::to_string(kMaxSteps) +
        " steps).";
  return false;
}

// The ray equation's right-hand side for the whole map.
struct RayEquation {
  const Lattice& lat;
  const MapSettings& set;
  const da::Space& sp;
  const Poly& rho;
  const bool soft;
  const std::vector<Poly> ident;   // the identity map
  const Poly sIdent;               // s = sqrt(1+x'^2+y'^2) of the identity map
  // A hard-edged body's field is the same all through the segment; looked
  // up at its middle, rounding in z at the segment ends cannot switch it off.
  double segMid = 0.0;

  RayEquation(const Lattice& l, const MapSettings& st, const da::Space& space, const Poly& r,
              const std::vector<Poly>& y)
      : lat(l), set(st), sp(space), rho(r), soft(st.model == EdgeModel::Soft), ident(y),
        sIdent(da::sqrt(ident[1] * ident[1] + ident[3] * ident[3] + 1.0)) {}

  std::vector<Poly> operator()(double zz, const std::vector<Poly>& yy) const {
    const double z = soft ? zz : segMid;
    const Poly xp2 = yy[1] * yy[1];
    const Poly yp2 = yy[3] * yy[3];
    const Poly s = da::sqrt(xp2 + yp2 + 1.0);
    std::vector<Poly> f = {yy[1], Poly(sp), yy[3], Poly(sp)};
    Poly bx(sp), by(sp), bz(sp);
    fieldAt(lat, set, z, yy[0], yy[2], bx, by, bz, set.only);
    rayForce(yy, rho, s, bx, by, bz, f[1], f[3]);
    if (set.only > 0) addLinearisedOthers(z, yy, f);
    return f;
  }

  // The other lenses focus but keep their aberrations to themselves: their
  // force linearised in the ray's present coordinates.
  void addLinearisedOthers(double z, const std::vector<Poly>& yy, std::vector<Poly>& f) const {
    Poly ox(sp), oy(sp), oz(sp), fx(sp), fy(sp);
    fieldAt(lat, set, z, ident[0], ident[2], ox, oy, oz, -set.only);
    rayForce(ident, rho, sIdent, ox, oy, oz, fx, fy);
    for (int c = 0; c < 2; ++c) {
      const Poly& lin = c == 0 ? fx : fy;
      Poly& out = f[c == 0 ? 1 : 3];
      out += lin.constant();
      for (int v = 0; v < 4; ++v) out.axpy(lin[1 + v], yy[v]);
    }
  }
};

}  // namespace

bool systemMap(const Lattice& lat, const MapSettings& set, const da::Space& sp,
               std::vector<Poly>& map, std::string& why) {
  const int order = sp.order();
  if (!lat.axial.empty()) {
    if (set.model == EdgeModel::Hard) {
      why = "Round lenses have no hard-edged model: use the soft edge.";
      return false;
    }
    if (set.only > 0) {
      why = "A single lens's share is not split off beside round lenses.";
      return false;
    }
    return roundMap(lat, set, sp, 0.0, lat.zend, map, why);
  }
  const bool soft = set.model == EdgeModel::Soft;
  if (!mapPossible(lat, set, order, why)) return false;
  const Poly rho = rigidity(lat, sp);

  std::vector<Poly> y;
  for (int v = 0; v < 4; ++v) y.push_back(Poly::var(sp, v));
  const std::vector<double> zs = breakPoints(lat, set);
  std::vector<long long> steps;
  if (!stepPlan(lat, set, zs, steps, why)) return false;

  auto thinEdges = [&](double z, bool exit) {
    if (soft) return;
    for (const FieldLens& e : lat.lens) {
      if (set.only > 0 && e.host != set.only && e.n != 0) continue;
      if ((exit ? e.zout : e.zin) != z) continue;
      if (e.zin == e.zout) continue;   // a lens of no length has no field
      if (e.n == 2 && order >= 3) quadEdge(e, rho, exit ? -1.0 : 1.0, y);
      if (e.n == 0) solenoidEdge(e, rho, exit ? -1.0 : 1.0, y);
    }
  };

  RayEquation rhs(lat, set, sp, rho, y);
  for (size_t b = 0; b + 1 < zs.size(); ++b) {
    const double z0 = zs[b], z1 = zs[b + 1];
    thinEdges(z0, true);
    thinEdges(z0, false);
    const double mid = 0.5 * (z0 + z1), len = z1 - z0;
    if (len <= 0.0) continue;
    rhs.segMid = mid;
    if (steps[b] == 0) {
      // Field-free: in slopes a drift is exactly linear.
      y[0].axpy(len, y[1]);
      y[2].axpy(len, y[3]);
      continue;
    }
    const double hs = len / static_cast<double>(steps[b]);
    for (long long k = 0; k < steps[b]; ++k) {
      if (lat.lib) gx::gxpoll(*lat.lib);
      da::rk4Step(rhs, z0 + static_cast<double>(k) * hs, hs, y);
    }
  }
  thinEdges(lat.zend, true);
  if (!convergedMap(y, why)) return false;
  map = std::move(y);
  return true;
}

}  // namespace tavo
