// The system evaluation: walks the element table to the system end,
// multiplies the element matrices, collects the second- and third-order
// terms, traces the beam vector and prints what the diagnostic level asks.
#include <cmath>
#include <cstdlib>

#include "gxlib/fortran/fortio.h"
#include "tavo/aber/aber.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace tavo {

namespace {

void elementStep(Tavo& s, int level, int i, const TypeCode& tc, const Mat4& em,
                 const Mat4& sys, const Third& t) {
  if (level <= 0 || level == 6 || level == 7) return;
  printElement(s, i, 10);
  bool matrices = !tc.superposed;
  switch (level) {
    case 1: printElement(s, 2, 5); break;
    case 2: if (matrices) matprint(s, tc.kind, em); break;
    case 3: if (matrices) matprint(s, 5, sys); break;
    case 4: if (matrices) geom(s, i, em); break;
    case 5:
      if (matrices) {
        matprint(s, tc.kind, em);
        geom(s, i, em);
      }
      break;
    case 8:
    case 9:
      if (tc.field != 0) {
        printThird(s, 1, t);
        if (level == 9) printThird(s, 2, s.aber3.total);
      }
      break;
    default: break;
  }
}

// One walk of the element table: the system matrix and the traces built up
// element by element.
struct Walk {
  Tavo& s;
  const int iord;
  Mat4& a;
  int n = 1;                 // order of the evaluation, 1..3
  bool secondOrder = false;  // the second-order matrix is built
  int level = 0;             // diagnostic level
  Mat4 em = Mat4::identity();
  double v[4], v0[4];        // the beam vector, and as it started
  Third t{};                 // the element's own third-order terms
  double z = 0.0, start = 0.0, end = 0.0;   // z, and the lens section's ends
  bool anyField = false;

  Walk(Tavo& ts, int order, Mat4& sys) : s(ts), iord(order), a(sys) {}

  void begin();
  void finish(int i);
  bool elementMatrix(int i, const TypeCode& tc);
  int skipToEnd(int i) const;
  void carry(int i, const TypeCode& tc);
};

// Clears what the walk builds and prints the initial beam vector.
void Walk::begin() {
  auto& io = s.gx.io;
  n = std::abs(iord);
  if (n < 1) n = 1;
  if (n > 3) n = 3;
  secondOrder = n >= 2 && iord != -3;

  s.nlens = tavo_nlens{};
  s.walkStop = 0;
  a = Mat4::identity();
  for (int k = 0; k < 4; ++k) {
    v[k] = v0[k] = s.bdata(2, k + 2);
    s.bdata(2, k + 7) = v[k];
  }
  if (secondOrder) s.aber2 = Mat14::identity();
  if (n == 3 && iord != -5) {
    s.aber3.total.fill(0.0);
    s.aber3.quad.fill(0.0);
    s.aber3.octu.fill(0.0);
  }
  level = diagLevel(s);
  if (level > 9) {
    level = 1;
    s.bdata(1, 5) = 1.0;
  }
  if (level > 0) {
    io.write(s.inout.term, " Initial beam vector;");
    printElement(s, 2, 5);
  }
  s.bdata(1, 4) = s.bdata(1, 12);
  s.syspb = tavo_syspb{};
  for (int k = 0; k < 4; ++k) s.bspec[k] = s.bdata(2, k + 2);
}

// The system end at row i: its length and centre, and the higher-order
// terms of the beam vector.
void Walk::finish(int i) {
  s.bdata(1, 4) = s.bdata(1, 12);
  // Without field elements the lens section has no extent: take the
  // middle of the system.
  double centre = anyField ? start + (end - start) / 2.0 : z / 2.0;
  s.syspb = tavo_syspb{z, centre};
  s.syspa = i;
  if (n >= 2) {
    // The system's aberration polynomial applied once to the initial
    // vector, on top of the first-order trace.
    double w[4] = {v0[0], v0[1], v0[2], v0[3]};
    double f[4] = {v0[0], v0[1], v0[2], v0[3]};
    vecmul(s, iord == -3 ? -3 : n, w, a);
    vecmul(s, 1, f, a);
    for (int k = 0; k < 4; ++k) {
      v[k] += w[k] - f[k];
      s.bspec[k] += w[k] - f[k];
      s.bdata(2, k + 7) = v[k];
    }
  }
  if (level > 0) {
    s.gx.io.write(s.inout.term, " Final beam vector;");
    printElement(s, 2, 5);
  }
}

// The element's matrix into em and, at third order, its terms into t and
// the system's sums. False for an unknown kind.
bool Walk::elementMatrix(int i, const TypeCode& tc) {
  t.fill(0.0);
  switch (tc.kind) {
    case 3: drift(s, i, em); z += s.bdata(i, 2); break;
    case 4:
      quad(s, i, em);
      ++s.nlens.nquad;
      if (n == 3) {
        third(s, i, t);
        addReferredToObject(s, i, t, s.aber3.total);
        addReferredToObject(s, i, t, s.aber3.quad);
      }
      break;
    case 6: sext(s, i, em); ++s.nlens.nsext; break;
    case 7: velselect(s, i, em); break;
    case 8:
      octu(s, i, em);
      ++s.nlens.noct;
      if (n == 3) {
        third(s, i, t);
        addReferredToObject(s, i, t, s.aber3.total);
        addReferredToObject(s, i, t, s.aber3.octu);
      }
      break;
    case 10: accel(s, i, em); break;
    case 11:
      solenoid(s, i, em);
      if (n == 3) {
        third(s, i, t);
        addReferredToObject(s, i, t, s.aber3.total);
      }
      break;
    case 13: gap(s, i, em); break;
    case 15: einzel(s, i, em); break;
    case 17: cyl(s, i, em); break;
    case 19: bell(s, i, em); break;
    case 2:
    case 12: dipole(s, i, em); break;
    default:
      s.gx.io.write(s.inout.term, " ?STIGMAT- Unknown element type at IZ = " + gx::fI(i, 2) +
                                      " ITYPE=" + gx::fF(s.bdata(i, 1), 6, 2));
      return false;
  }
  return true;
}

// The row before the system end after row i (the last row when there is
// none), where a walk goes on when a lens could not be evaluated.
int Walk::skipToEnd(int i) const {
  int endRow = 0;
  for (int k = i + 1; k <= kRows && endRow == 0; ++k)
    if (rawCode(s, k) == 9) endRow = k;
  return endRow == 0 ? kRows : endRow - 1;
}

// The element's matrices into the system's, and the beam vectors through
// the element, displaced as the element is.
void Walk::carry(int i, const TypeCode& tc) {
  gxmatmul(em, a);
  if (secondOrder) {
    Mat14 sm;
    second(s, i, em, sm);
    gxmatmul(sm, s.aber2);
  }
  v[0] += s.displ[i][0];
  v[2] += s.displ[i][1];
  vecmul(s, 1, v, em);
  vecmul(s, 1, s.bspec.data(), em);
  if (tc.kind == 2 || tc.kind == 12) {
    dipadd(s, i, s.bspec.data());
    dipadd(s, i, v);
  }
  v[0] -= s.displ[i][0];
  v[2] -= s.displ[i][1];
  for (int k = 0; k < 4; ++k) s.bdata(2, k + 7) = v[k];
}

}  // namespace

void stigmat(Tavo& s, int iord, Mat4& a) {
  Walk w(s, iord, a);
  w.begin();
  for (int i = 3;; ++i) {
    if (i > kRows) {
      s.gx.io.write(s.inout.term, " ?STIGMAT- No end element IZ = " + gx::fI(i, 2));
      s.bdata(1, 4) = s.bdata(1, 12);
      return;
    }
    TypeCode tc = decodeType(s, s.bdata(i, 1));
    if (tc.superposed) {
      elementStep(s, w.level, i, tc, w.em, a, w.t);
      continue;
    }
    if (tc.kind == 9) {
      w.finish(i);
      return;
    }
    if (tc.kind == 5) continue;   // collimator: no matrix, no print
    if (tc.field != 0) {
      if (tc.kind == 13) s.bdata(i, 2) = 0.005;   // the gap lens has a fixed length
      double len = s.bdata(i, 2);
      if (!w.anyField) w.start = w.z;
      w.anyField = true;
      s.bdata(i, 5) = w.z + len / 2.0;
      w.z += len;
      w.end = w.z;
    }
    if (!w.elementMatrix(i, tc)) continue;
    if (s.walkStop) {
      // The lens could not be evaluated: go straight to the system end.
      i = w.skipToEnd(i);
      continue;
    }
    w.carry(i, tc);
    elementStep(s, w.level, i, tc, w.em, a, w.t);
  }
}

}  // namespace tavo
