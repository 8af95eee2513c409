// ELEMEN: the interactive editor of one row of the element table.
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/edit/edit.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/talk.h"

namespace tavo {

namespace {

// Editable columns and the first title of the row's group, by kind.
struct Layout {
  int n = 4;
  int group = 1;
};

Layout layoutOf(int kind, bool changed) {
  Layout l;
  switch (kind) {
    case 0: l = {5, 19}; break;
    case 1: l = {6, 13}; break;
    case 3: l = {2, 1}; break;
    case 9: l = {1, 1}; break;
    case 2: l.group = 24; break;
    case 12: l.group = 48; break;
    case 5: l.group = 44; break;
    case 7: l.group = 32; break;
    case 15: l.group = 28; break;
    case 13:
      l.group = 36;
      if (changed) l.n = 3;   // its fourth column has no meaning
      break;
    case 17: l.group = 40; break;
    default: break;
  }
  return l;
}

// Kinds the evaluation knows as elements of a lens system.
bool elementKind(int kind) {
  switch (kind) {
    case 2: case 3: case 4: case 5: case 6: case 7: case 8:
    case 10: case 11: case 12: case 13: case 15: case 17:
      return true;
    default:
      return false;
  }
}

std::string f105(double v) { return gx::fF(v, 10, 5) + "  "; }
std::string title(int k) { return std::string(kTitles[k]) + "  "; }

void showRow(Tavo& s, int row, const TypeCode& tc, const Layout& l) {
  const std::string head = gx::fX(10) + "ELEMENT - " + gx::fI(row, 2);
  if (tc.kind == 0 || tc.kind == 1) {
    const bool particle = tc.kind == 0;
    say(s, head + (particle ? "  Particle data" : " Beam Data"));
    std::string t, v;
    for (int j = 1; j <= l.n; ++j) t += title(l.group + j - 1);
    v = gx::fF(s.bdata(row, 1), 5, 2) + gx::fX(7);
    for (int j = 2; j <= l.n; ++j) v += f105(s.bdata(row, j));
    say(s, t);
    say(s, v);
    return;
  }
  say(s, head + "  " + fieldLabel(tc.field) + " " + supraLabel(tc.superposed) + kindName(tc.kind));
  say(s, "");
  std::string t;
  for (int j = 1; j <= l.n; ++j) t += title(l.group + j - 1);
  say(s, t);
  say(s, "");
  std::string v;
  for (int j = 1; j <= l.n; ++j) {
    v += gx::fG(s.bdata(row, j), 10, 3, 1) + "  ";
    if (j % 6 == 0 || j == l.n) {
      say(s, v);
      v.clear();
    }
  }
  say(s, "");
  if (tc.field != 0) {
    std::string t5, v5, t11, v11;
    for (int j = 5; j <= 10; ++j) {
      t5 += title(j);
      v5 += gx::fG(s.bdata(row, j), 10, 3, 1) + "  ";
    }
    for (int j = 11; j <= 12; ++j) {
      t11 += title(j);
      v11 += gx::fG(s.bdata(row, j), 10, 3, 1) + "  ";
    }
    say(s, t5);
    say(s, v5);
    say(s, t11);
    say(s, v11);
  }
}

}  // namespace

bool element(Tavo& s, int row) {
  TypeCode tc = decodeType(s, s.bdata(row, 1));
  Layout l = layoutOf(tc.kind, false);
  showRow(s, row, tc, l);

  std::string reply;
  if (ask(s, "New data? > ", reply, 1) != gx::Reply::Ok) return false;
  if (reply.empty() || (reply[0] != 'Y' && reply[0] != 'y')) return true;

  say(s, gx::fX(15) + "Changing element " + gx::fI(row, 2));
  // The row is edited in a copy and stored only when the edit is complete,
  // so an edit abandoned at the end of the input changes nothing.
  std::array<double, kCols + 1> v{};
  for (int j = 1; j <= kCols; ++j) v[j] = s.bdata(row, j);
  const bool fixedCode = tc.kind == 0 || tc.kind == 1;
  const bool systemEnd = tc.kind == 9;

  for (int j = 1; j <= l.n; ++j) {
    const std::string label = std::string(fieldLabel(tc.field)) + " " +
                              supraLabel(tc.superposed) + kindName(tc.kind) + " " +
                              kTitles[l.group + j - 1] + " = " + gx::fG(v[j], 12, 5, 1);
    if (j == 1 && fixedCode) {
      say(s, label);
      continue;
    }
    for (;;) {
      double x = v[j];
      const std::string text = " " + label + "  new > ";
      if (gx::gxaskupdate(s.gx, s.inout.cmd, s.inout.term, s.imacr, text, x) == gx::Reply::End)
        return false;
      if (!std::isfinite(x)) {
        say(s, "%ELEM- Not a finite number.");
        continue;
      }
      if (j == 1) {
        if (x == 0.0) break;   // keeps the old code
        TypeCode nc;
        if (x > 0.0) nc = decodeType(s, x);
        if (nc.kind == 9) return true;   // the edit ends, the row unchanged
        if (x < 0.0 || !elementKind(nc.kind)) {
          say(s, "%ELEM- " + gx::fF(x, 10, 2) + " Illegal type code");
          continue;
        }
        if (systemEnd) {
          say(s, "%ELEM- The system end must stay; INSERT adds an element before it.");
          continue;
        }
        v[1] = x;
        tc = nc;
        l = layoutOf(tc.kind, true);
        break;
      }
      if (tc.kind == 0 && j == 4 && x <= 0.0) {
        say(s, "%ELEM- The particle energy must be positive.");
        continue;
      }
      if (tc.kind == 0 && j == 3 && x <= 0.0) {
        say(s, "%ELEM- The particle mass must be positive.");
        continue;
      }
      v[j] = x;
      break;
    }
  }
  for (int j = 1; j <= kCols; ++j) s.bdata(row, j) = v[j];
  if (tc.kind == 0) s.bdata(row, 12) = s.bdata(row, 4);
  return true;
}

}  // namespace tavo
