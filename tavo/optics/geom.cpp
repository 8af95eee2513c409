// Reading the evaluation: geometric printout, system focal length,
// magnification products and the matrix printer.
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

namespace {
bool focusing(const Tavo& s, int k) {
  return std::fabs(s.bdata(k, 3)) > 1e-7 && rawCode(s, k) < 20;
}
}  // namespace

void mag(Tavo& s, int iz, double& mx, double& my, bool warn) {
  mx = my = 1.0;
  bool told = false;
  int last = iz < kRows ? iz : kRows;
  for (int k = 3; k <= last; ++k) {
    int raw = rawCode(s, k);
    if (!focusing(s, k) || raw == 8 || raw == 18 || raw == 3 || raw == 5) continue;
    mx *= s.bdata(k, 9);
    my *= s.bdata(k, 10);
    if (warn && !told && mx * my == 0.0) {
      told = true;
      s.gx.io.write(s.inout.term, " ?MAG - ELEMENT " + gx::fI(k, 3) + " HAS ZERO MAGNIFICATION");
      s.gx.io.write(s.inout.term, " XMAG = " + gx::fG(mx, 13, 5, 1) + "  YMAG = " +
                                      gx::fG(my, 13, 5, 1));
    }
  }
}

void focal(Tavo& s, int iz, double& fx, double& fy, bool warn) {
  double sx = 0.0, sy = 0.0, mkx = 1.0, mky = 1.0;
  int last = iz < kRows ? iz : kRows;
  for (int k = 3; k <= last; ++k) {
    int raw = rawCode(s, k);
    if (!focusing(s, k) || raw == 6 || raw == 16 || raw == 8 || raw == 18) continue;
    int kp;
    double dx, dy;
    lastFocusing(s, k, kp, dx, dy);
    double ax, ay, px = 1.0, py = 1.0;
    mag(s, k, ax, ay, false);
    if (kp != 2) mag(s, kp, px, py, false);
    double f11 = s.bdata(k, 11), f12 = s.bdata(k, 12);
    if (std::fabs(f11 * f12) >= 1e-10) {
      sx += px * ax / f11;
      sy += py * ay / f12;
      mkx = ax;
      mky = ay;
    }
  }
  if (std::fabs(sx * sy) < 1e-10) {
    fx = fy = 1e10;
    if (warn)
      s.gx.io.write(s.inout.term, " %FOCAL- Infinite focal length (sub)system IZ = " + gx::fI(iz, 2));
    return;
  }
  fx = mkx / sx;
  fy = mky / sy;
}

void matprint(Tavo& s, int mode, const Mat4& m) {
  auto& io = s.gx.io;
  std::string name = mode == 5 ? "System    " : kindName(mode);
  io.write(s.inout.term, " " + gx::pad(name, 10) + "  MATRIX");
  char letter = mode == 5 ? 'B' : 'A';
  for (int r = 1; r <= 4; ++r) {
    std::string rec = " ";
    for (int c = 1; c <= 4; ++c) {
      rec += std::string(1, letter) + "(" + std::to_string(r) + "," + std::to_string(c) +
             ") = " + gx::fG(m(r, c), 13, 6);
      if (c < 4) rec += " ";
    }
    io.write(s.inout.term, rec);
  }
}

namespace {
std::string val(double v) { return gx::fG(v, 14, 6, 1); }
std::string label(const std::string& t) { return " " + gx::pad(t, 29); }
}  // namespace

void geom(Tavo& s, int i, const Mat4& m) {
  TypeCode tc = decodeType(s, s.bdata(i, 1));
  bool sysEnd = tc.kind == 9;
  if ((tc.field == 0 && !sysEnd) || tc.superposed) return;
  int level = diagLevel(s);
  if (!(level < 1 || level == 4 || level == 5)) return;
  auto& io = s.gx.io;
  const int term = s.inout.term;

  LensParams lp = light(s, i, m);
  double ox, oy, ix, iy, theta = 0.0, beta = 0.0, amp = 0.0;
  bool magn = tc.field > 0 && !sysEnd;
  if (sysEnd) {
    int first = 0, lastFoc = 0;
    for (int k = 3; k < i; ++k) {
      TypeCode c = decodeType(s, s.bdata(k, 1));
      if (c.field != 0 && !c.superposed && first == 0) first = k;
    }
    int kl;
    double dx, dy;
    lastFocusing(s, i, kl, dx, dy);
    lastFoc = kl;
    ox = oy = first ? s.bdata(first, 5) : 0.0;
    ix = lastFoc > 2 ? s.bdata(lastFoc, 6) - s.bdata(lastFoc, 5) : 0.0;
    iy = lastFoc > 2 ? s.bdata(lastFoc, 7) - s.bdata(lastFoc, 5) : 0.0;
  } else {
    int kl;
    lastFocusing(s, i, kl, ox, oy);
    ix = lp.vx;
    iy = lp.vy;
    beta = s.bdata(i, 8);
    double len = s.bdata(i, 2);
    theta = tc.kind == 8 ? beta * std::pow(len, 4) : beta * len;
    int div = tc.kind / 2;
    if (magn && div != 0) amp = s.bdata(i, 4) * s.bdata(i, 3) / (s.cnst.mu0 * div);
  }
  double magx = std::hypot(m(1, 1), m(1, 3)), magy = std::hypot(m(3, 1), m(3, 3));
  double demx = std::hypot(m(2, 2), m(2, 4)), demy = std::hypot(m(4, 2), m(4, 4));

  io.write(term, " ");
  if (sysEnd)
    io.write(term, "  Element " + gx::fI(i, 2) + "  Whole system");
  else
    io.write(term, "  Element " + gx::fI(i, 2) + " " + fieldLabel(tc.field) + " " + kindName(tc.kind));
  io.write(term, label("Geometric Parameters") + "       X-Plane       Y-Plane");
  std::string r = label("Focal length") + val(lp.fx) + val(lp.fy);
  if (!sysEnd) r += "  beta " + val(beta) + " /m";
  io.write(term, r);
  r = label("Object distance") + val(ox) + val(oy);
  if (magn) r += "  AmpTurns " + val(amp);
  io.write(term, r);
  r = label("Image distance") + val(ix) + val(iy);
  if (!sysEnd) r += "  theta " + val(theta);
  io.write(term, r);
  io.write(term, label("Magnification") + val(magx) + val(magy));
  io.write(term, label("Demagnification") + val(demx) + val(demy));
  io.write(term, label("Entrance principle plane") + val(lp.px) + val(lp.py));
  io.write(term, label("Exit principle plane") + val(lp.qx) + val(lp.qy));
  io.write(term, " (Magnifications are RMS means)");
  if (level == -6) io.write(term, " %GEOM- Data for Thin Lens Approximation.");
  if (!sysEnd) return;

  // Particle data.
  Kinematics kin = kinematics(s, 3);
  const tavo_const& k0 = s.cnst;
  double speed = kin.p > 0 ? k0.c / std::sqrt(std::pow(k0.c * kin.m / kin.p, 2) + 1.0) : 0.0;
  double tau = std::sqrt(std::fmax(0.0, 1.0 - (speed / k0.c) * (speed / k0.c)));
  io.write(term, " ");
  io.write(term, label("Particle energy") + val(s.bdata(1, 4)) + " MeV");
  io.write(term, label("Particle Momentum") + val(k0.c * kin.p / (k0.e * 1e6)) + " Mev/c");
  io.write(term, label("Particle Speed") + val(speed) + " m/s" + val(100.0 * speed / k0.c) + " %c");
  io.write(term, label("Tau = (1 - v**2/c**2)**0.5") + val(tau));
  if (kin.q != 0.0)
    io.write(term, label("Magnetic rigidity (u.MeV/e2)") + val(s.bdata(1, 3) * s.bdata(1, 4) / (kin.q * kin.q)));
  double astig = std::hypot(m(1, 2), m(3, 4));
  if (astig > 1e-4)
    io.write(term, " This is an ASTIGMATIC system  ASTIG = " + val(astig) + " m/r");
}

}  // namespace tavo
