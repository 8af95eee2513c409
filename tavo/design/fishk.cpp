// Thin-lens spherical aberration of a quadrupole multiplet (Fishkova's
// formulae) and its report.
#include <cmath>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "tavo/design/design.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/talk.h"

namespace tavo {

namespace {

void line(Tavo& s, int indent, const std::string& text) {
  s.gx.io.write(s.inout.term, gx::fX(indent) + text);
}

std::string g135(double v) { return gx::fG(v, 13, 5, 1); }

// The quadrupoles' thin-lens data, entries 1..n in table order.
struct Multiplet {
  int n = 0;
  double fx[5] = {}, fy[5] = {};   // focal lengths
  double len[5] = {}, z[5] = {};   // lengths and centres
  double b3[5] = {};               // fields
  double ca[5] = {}, cb[5] = {};   // shape factors of the pure and mixed terms
  double astig = 0.0;              // residual astigmatism at the last one (um)
};

// The data of the quadrupoles in rows[1..n]; with thin set, the focal
// lengths 1/(L k^2) of the thin-lens level.
Multiplet multiplet(Tavo& s, const int rows[5], int n, bool thin) {
  Multiplet q;
  q.n = n;
  for (int j = 1; j <= n; ++j) {
    const int r = rows[j];
    q.fx[j] = s.bdata(r, 11);
    q.fy[j] = s.bdata(r, 12);
    q.astig = (s.bdata(r, 6) - s.bdata(r, 7)) * 1.0e6;
    q.len[j] = s.bdata(r, 2);
    q.z[j] = s.bdata(r, 5);
    q.b3[j] = s.bdata(r, 3);
    if (thin) {
      const double k = s.bdata(r, 8);
      q.fx[j] = std::copysign(std::fabs(1.0 / (k * k * q.len[j])), q.b3[j]);
      q.fy[j] = -q.fx[j];
    }
    const double t = rawCode(s, r) == 14 ? -1.0 : 0.0;
    q.ca[j] = (3.0 * t * t - 2.0 * t + 2.0) / 6.0;
    q.cb[j] = -(t * t - 2.0 * t - 2.0) / 2.0;
  }
  return q;
}

// Heights of the unit-angle ray from the object at the lenses.
void rayHeights(const Multiplet& q, double hx[5], double hy[5]) {
  const double* fx = q.fx;
  const double* fy = q.fy;
  const double z1 = q.z[1], d12 = q.z[2] - q.z[1], d23 = q.z[3] - q.z[2];
  hx[1] = hy[1] = z1;
  if (q.n >= 2) {
    hx[2] = z1 + d12 - z1 * d12 / fx[1];
    hy[2] = z1 + d12 - z1 * d12 / fy[1];
  }
  if (q.n >= 3) {
    hx[3] = z1 + d12 + d23 - (d12 + d23) * z1 / fx[1] - (z1 + d12) * d23 / fx[2] +
            z1 * d12 * d23 / (fx[2] * fx[1]);
    hy[3] = z1 + d12 + d23 - (d12 + d23) * z1 / fy[1] - (z1 + d12) * d23 / fy[2] +
            z1 * d12 * d23 / (fy[2] * fy[1]);
  }
  if (q.n >= 4) {
    hx[4] = ((fx[2] * fx[1] - z1 * d12) * d23) / (fx[2] * fx[2]) + z1;
    hy[4] = ((fy[3] * fy[1] - z1 * d12) * d23) / (fy[3] * fy[3]) + z1;
  }
}

// The report of FISHK: the symmetry of a quadruplet, the coefficients in
// image units and Hawkes' coefficients.
void printFishk(Tavo& s, const Multiplet& q, double p, double sx, double pb, double sb,
                double mx, double my, double fsx, double fsy) {
  if (q.n == 4) {
    const double* len = q.len;
    const double* z = q.z;
    const double* b3 = q.b3;
    const double d = std::fabs(len[2] - len[3]) + std::fabs(len[1] - len[4]) +
                     std::fabs((z[2] - z[1]) - (z[4] - z[3])) +
                     100.0 * std::fabs(b3[1] * b3[1] - b3[4] * b3[4]) +
                     100.0 * std::fabs(b3[2] * b3[2] - b3[3] * b3[3]);
    say(s, "");
    say(s, "The system is " + gx::fF(100.0 * (1.0 - d), 6, 2) + "% an antisymmetric quadruplet.");
  }
  const std::string rule(33, '-');
  say(s, "");
  line(s, 20, rule);
  line(s, 20, "Spherical aberration coefficients");
  line(s, 20, rule);
  line(s, 10, "Calculated for the QUADRUPOLE contribution only using the");
  line(s, 10, "thin lens approximation by the formulae of Fishkova et al.");
  say(s, "");
  line(s, 5, "X/X     =" + gx::fF(mx, 13, 5));
  line(s, 5, "X/TH3   =" + gx::fF(mx * p * 0.001, 13, 5) + " um/mr3   P  = " + g135(p) + " m/r3");
  line(s, 5, "X/THPH2 =" + gx::fF(mx * sx * 0.001, 13, 5) + " um/mr3   S  = " + g135(sx) + " m/r3");
  line(s, 5, "Y/Y     =" + gx::fF(my, 13, 5));
  line(s, 5, "Y/PH3   =" + gx::fF(my * pb * 0.001, 13, 5) + " um/mr3   PB = " + g135(pb) + " m/r3");
  line(s, 5, "Y/TH2PH =" + gx::fF(my * sb * 0.001, 13, 5) + " um/mr3   SB = " + g135(sb) + " m/r3");
  say(s, "");
  const double cx = std::fabs(sx) > std::fabs(p) ? sx : p;
  const double cy = std::fabs(sb) > std::fabs(pb) ? sb : pb;
  line(s, 10, "Hawkes' coefficients: " + std::string("   Csx/Fx =  ") +
                  gx::fF(cx * std::pow(mx, 4) / fsx, 11, 4) + "   Csy/Fy =  " +
                  gx::fF(cy * std::pow(my, 4) / fsy, 11, 4));
}

}  // namespace

bool fishk(Tavo& s, double& p, double& sx, double& pb, double& sb, bool report) {
  int rows[5] = {0, 0, 0, 0, 0};
  int n = 0;
  const int last = std::min(s.syspa, kRows);
  for (int r = 1; r <= last; ++r) {
    if (decodeType(s, s.bdata(r, 1)).kind != 4) continue;
    if (n < 4) rows[n + 1] = r;
    ++n;
  }
  s.nlens.nquad = n;
  if (n >= 5) {
    say(s, "%FISHK- The system is unsuited for FISHK/CRAMER Number of quads = " + gx::fI(n, 2));
    return false;
  }
  if (n == 0) {
    // Without quadrupoles there is nothing these formulae describe.
    p = sx = pb = sb = 0.0;
    say(s, "%FISHK- No quadrupoles in the system; their coefficients are zero.");
    return false;
  }
  double fsx, fsy, mx, my;
  focal(s, s.syspa, fsx, fsy, false);
  mag(s, s.syspa, mx, my, false);
  const bool thin = s.idiag == -6;
  const Multiplet q = multiplet(s, rows, n, thin);
  if (report && thin) {
    say(s, "");
    say(s, "%FISHK- Approximate focal lengths F = 1/(L*B^2) used.");
  }
  if (report && std::fabs(q.astig) > 10.0) {
    say(s, "");
    say(s, "%FISHK- **Beware** " + gx::fG(q.astig, 8, 2, 1) + "um of residual astigmatism");
  }
  double hx[5] = {}, hy[5] = {};
  rayHeights(q, hx, hy);
  const double* fx = q.fx;
  const double* fy = q.fy;
  double sp = 0.0, sm = 0.0, sy = 0.0;
  for (int j = 1; j <= n && j <= 3; ++j) {
    sp += std::pow(hx[j], 4) * q.ca[j] / (fx[j] * fx[j] * q.len[j]);
    sm += -hx[j] * hx[j] * hy[j] * hy[j] * q.cb[j] / (fx[j] * q.len[j] * fy[j]);
    sy += std::pow(hy[j], 4) * q.ca[j] / (fy[j] * fy[j] * q.len[j]);
  }
  if (n == 4) {
    const double x4 = std::pow(hx[4], 4) * q.ca[4] / (fx[1] * fx[1] * q.len[4]);
    sp += x4;
    sm += -hx[4] * hx[4] * hy[4] * hy[4] * q.cb[4] / (fy[1] * fx[1] * q.len[4]);
    sy += x4;
  }
  p = sp;
  sx = sb = sm;
  pb = sy;
  if (report) printFishk(s, q, p, sx, pb, sb, mx, my, fsx, fsy);
  return true;
}

}  // namespace tavo
