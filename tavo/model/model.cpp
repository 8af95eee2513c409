// The lens-system model: name tables, the packed type code, field coupling
// into minimiser variables and the variable mask of the coefficient fit.
#include "tavo/model/model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <vector>

#include "gxlib/fortran/fortio.h"
#include "tavo/talk.h"

namespace tavo {

// Index 0 of each table is unused (the particle's kind name is entry 12).
const char* const kUnitNames[21] = {
    "?    ", "Tesla", "Gauss", "kG   ", "Hgbox", "Kqctl", "kV   ", "Volts",
    "MeV  ", "Beta ", "AmpTn", "Tesla", "Theta", "Fd Gr", "?    ", "?    ",
    "?    ", "?    ", "?    ", "?    ", "?    "};

const char* const kKindNames[21] = {
    "Particle  ", "Beam data ", "Dipole    ", "Drift     ", "Quadrupole",
    "Collimator", "Sextupole ", "V. Selec. ", "Octupole  ", "System End",
    "Accelerate", "Solenoid  ", "Particle  ", "Gap Lens  ", "?         ",
    "Einzellens", "?         ", "Cyl lens  ", "?         ", "Bell lens ",
    "?         "};

const char* const kTitles[52] = {
    "",
    // 1: general group (quadrupole, sextupole, octupole, accelerator, ...)
    " Type code", "Length (m)", " Field T,V", "Radius (m)", "  Z-center",
    " Z:X-image", " Z:Y-image", "     ALPHA", "     X-mag", "     Y-mag",
    "   X-focal", "   Y-focal",
    // 13: beam
    " Type code", " X-1/2 ext", " X-1/2 div", " Y-1/2 ext", " Y-1/2 div",
    "En-1/2 spr",
    // 19: particle
    " Type code", "    Charge", "Mass (amu)", "Energy MeV", "Diagnostic",
    // 24: magnetic dipole
    "Type code ", "Length (m)", "BX yoz (T)", "BY xoz (T)",
    // 28: einzel lens
    "Type code ", "Length (m)", "     V2/V1", "    Radius",
    // 32: velocity selector
    "Type code ", "Length (m)", "   B-Field", "   E-Field",
    // 36: gap lens
    "Type code ", "Length (m)", "    Radius", "?         ",
    // 40: cylinder lens
    "Type code ", "Length (m)", "       Gap", "     Field",
    // 44: collimator
    "Type code ", "      Zero", "    Offset", "     Width",
    // 48: electric dipole
    "Type code ", "Length (m)", "Ex (V/m)  ", "Ey (V/m)  "};

const char* fieldLabel(int field) {
  if (field < 0) return "Elec";
  if (field > 0) return "Magn";
  return "    ";
}

const char* supraLabel(int superposed) { return superposed == 1 ? "Supra-" : "      "; }

std::string kindName(int kind) {
  if (kind == 0) return kKindNames[12];
  if (kind >= 1 && kind <= 20) return kKindNames[kind];
  return "?         ";
}

namespace {

// One decimal digit of the packed code, taken the way the code was always
// decoded: from the fraction of N/10, with a small guard against the
// binary representation of tenths.
int nextDigit(double& n) {
  double q = n / 10.0;
  int d = static_cast<int>(10.0 * (q - std::trunc(q)) + 0.001);
  n = std::trunc(q + 1e-4);
  return d;
}

int signOf(int v) { return v < 0 ? -1 : 1; }

bool isFieldRow(Tavo& s, int row) { return decodeType(s, s.bdata(row, 1)).field != 0; }

int lastRow(const Tavo& s) { return std::min(std::max(s.syspa, 0), kRows); }

}  // namespace

TypeCode decodeType(Tavo& s, double code) {
  double n = 0.0;
  if (std::isfinite(code)) {
    // Only the last four digits carry meaning; fmod keeps them exactly and
    // keeps the arithmetic bounded for absurd values.
    n = std::fmod(std::trunc(code * 100.0 + 1e-4), 10000.0);
  }
  const int d = nextDigit(n);
  const int c = nextDigit(n);
  const int u = nextDigit(n);
  const int t = nextDigit(n);

  if (c != 0 && d != 0) {
    s.gx.io.write(s.inout.term, " %GXPACK - Illegal coupling codes. DTYPE = " + gx::fF(code, 7, 2));
  }
  TypeCode tc;
  tc.coupling = d != 0 ? -d : c;
  tc.kind = (t == 1 && u != 4 && u != 6 && u != 8) ? 10 + u : u;
  tc.field = 1;
  if (t == 1 || t == 3 || tc.kind == 7) tc.field = -1;
  if (tc.kind == 11 || tc.kind == 19) tc.field = 1;   // solenoid, bell lens
  if (tc.kind == 0 || tc.kind == 1 || tc.kind == 3 || tc.kind == 5 || tc.kind == 9) tc.field = 0;
  tc.superposed = t > 1 ? 1 : 0;
  return tc;
}

int rawCode(const Tavo& s, int row) {
  if (row < 1 || row > kRows) return 0;
  double v = s.bdata(row, 1);
  if (!std::isfinite(v) || std::fabs(v) > 1e9) return 0;
  return static_cast<int>(v);
}

void couple(Tavo& s) {
  s.coupl.fill(0);
  s.blk1.x.fill(0.0);
  s.blk1.nv = 0;
  std::array<int, kRows + 1> code{};  // signed coupling code of each field row
  const int last = lastRow(s);
  for (int k = 3; k <= last; ++k) {
    TypeCode tc = decodeType(s, s.bdata(k, 1));
    if (tc.field == 0) continue;
    code[k] = tc.coupling;
    const int c = tc.coupling;
    if (c == 0) continue;
    if (c * s.bdata(k, 3) < 0.0) {
      s.gx.io.write(s.inout.term, " ?COUPLE- Incorrect sign coupling at IZ = " + gx::fI(k, 2));
    }
    int earlier = 0;
    for (int j = 2; j < k; ++j) {
      if (code[j] != 0 && std::abs(code[j]) == std::abs(c)) {
        earlier = j;
        break;
      }
    }
    if (earlier != 0) {
      s.coupl[k] = std::abs(s.coupl[earlier]) * signOf(c);
    } else if (s.blk1.nv < 20) {
      s.blk1.nv += 1;
      s.blk1.x[s.blk1.nv] = std::fabs(s.bdata(k, 3));
      s.coupl[k] = s.blk1.nv * signOf(c);
    }
  }
}

void reload(Tavo& s) {
  const int last = lastRow(s);
  for (int k = 1; k <= last; ++k) {
    const int l = s.coupl[k];
    if (l == 0 || std::abs(l) > 20) continue;
    if (!isFieldRow(s, k)) continue;
    s.bdata(k, 3) = signOf(l) * s.blk1.x[std::abs(l)];
  }
}

// ---------------------------------------------------------------------------
// Variable mask.
//
// Rows of the mask are (kind, element row, column, group). Rows whose groups
// have equal absolute values move together, so the minimiser sees one
// variable per distinct group: X(v) belongs to the v-th distinct group in
// order of first appearance, which is exactly the count editMask reports.
// Within a group the first loadable row (kind 1, or kind 2 with column 1)
// supplies and receives X(v); the group's other loadable rows follow it by
// the same change, signed by the two groups' signs. A group with no loadable
// row keeps X(v) = 0 and writes nothing.

namespace {

int usedRows(const Mask& m) {
  int n = 0;
  while (n < 8 && m(n + 1, 1) != 0) ++n;
  return n;
}

// Where a mask row's value lives in the table, or nullptr when the row is
// not loaded (kinds 3 and 4, kind 2 with a column other than 1, or an
// address outside the table).
double* location(Tavo& s, const Mask& m, int r) {
  const int kind = m(r, 1), row = m(r, 2), col = m(r, 3);
  if (row < 1 || row > kRows) return nullptr;
  if (kind == 1) {
    if (col < 1 || col > kCols) return nullptr;
    return &s.bdata(row, col);
  }
  if (kind == 2 && col == 1) return &s.rotat[row];
  return nullptr;
}

struct Group {
  int absGroup = 0;
  std::vector<int> rows;  // mask rows of the group, in mask order
};

std::vector<Group> groups(const Mask& m) {
  std::vector<Group> g;
  const int n = usedRows(m);
  for (int r = 1; r <= n; ++r) {
    const int a = std::abs(m(r, 4));
    auto it = std::find_if(g.begin(), g.end(), [a](const Group& x) { return x.absGroup == a; });
    if (it == g.end()) {
      g.push_back(Group{a, {r}});
    } else {
      it->rows.push_back(r);
    }
  }
  return g;
}

}  // namespace

void loadMasked(Tavo& s, const Mask& mask, int& nv) {
  const std::vector<Group> g = groups(mask);
  nv = static_cast<int>(g.size());
  for (int v = 1; v <= 20; ++v) s.blk1.x[v] = 0.0;
  for (int v = 1; v <= nv; ++v) {
    for (int r : g[v - 1].rows) {
      if (double* p = location(s, mask, r)) {
        s.blk1.x[v] = *p;
        break;
      }
    }
  }
}

void storeMasked(Tavo& s, const Mask& mask, int nv) {
  if (nv <= 0) return;
  const std::vector<Group> g = groups(mask);
  const int n = std::min(nv, static_cast<int>(g.size()));
  for (int v = 1; v <= n; ++v) {
    const std::vector<int>& rows = g[v - 1].rows;
    size_t lead = 0;
    while (lead < rows.size() && location(s, mask, rows[lead]) == nullptr) ++lead;
    if (lead == rows.size()) continue;
    double* p = location(s, mask, rows[lead]);
    const double change = s.blk1.x[v] - *p;
    *p = s.blk1.x[v];
    const int leadSign = signOf(mask(rows[lead], 4));
    for (size_t i = lead + 1; i < rows.size(); ++i) {
      double* q = location(s, mask, rows[i]);
      if (q == nullptr || q == p) continue;
      *q += change * signOf(mask(rows[i], 4)) * leadSign;
    }
  }
}

bool editMask(Tavo& s, Mask& mask, int& n) {
  Mask m = mask;  // an abandoned edit changes nothing
  for (int r = 1; r <= 8; ++r) {
    std::string prompt = "  ";
    for (int k = 1; k <= 4; ++k) prompt += gx::fI(m(r, k), 2) + "  ";
    prompt += "   > ";
    std::array<long long, 4> typed{};
    for (;;) {
      std::string reply;
      if (ask(s, prompt, reply, 80) == gx::Reply::End) return false;
      gx::ListScanner sc(4);
      bool ok = sc.add(reply);
      typed.fill(0);
      for (size_t i = 0; ok && i < sc.items().size() && i < 4; ++i) {
        const gx::ListItem& it = sc.items()[i];
        if (it.null) continue;
        long long v = 0;
        ok = gx::listInt(it.text, v) && v > -1000000000LL && v < 1000000000LL;
        typed[i] = v;
      }
      if (ok) break;
    }
    long long sum = 0;
    for (long long v : typed) sum += std::llabs(v);
    if (sum == 1) {
      m(r, 1) = 0;
      break;
    }
    for (int k = 1; k <= 4; ++k) {
      if (typed[k - 1] != 0) m(r, k) = static_cast<int>(typed[k - 1]);
    }
  }
  const int used = usedRows(m);
  for (int r = 1; r <= used; ++r) {
    std::string line = " " + gx::fX(20);
    for (int k = 1; k <= 4; ++k) line += gx::fX(3) + gx::fI(m(r, k), 2);
    s.gx.io.write(s.inout.term, line);
  }
  std::set<int> distinct;
  for (int r = 1; r <= used; ++r) distinct.insert(std::abs(m(r, 4)));
  n = static_cast<int>(distinct.size());
  mask = m;
  return true;
}

}  // namespace tavo
