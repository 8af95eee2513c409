// EXACT and FRINGE: the third-order coefficients of the closed-form model
// beside those of the maps integrated through the hard-edged and the
// soft-edged fields, the soft edge's fifth-order aperture terms and the
// paraxial image shift its fringe fields cause.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "gxlib/fortran/fortio.h"
#include "tavo/aber/aber.h"
#include "tavo/commands.h"
#include "tavo/exact/exact.h"
#include "tavo/exact/round.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"
#include "tavo/cof/cof.h"

namespace tavo {

namespace {

using da::Exps;
using da::Poly;

constexpr const char* kTermName[2][10] = {
    {"T3", "TP2", "XT2", "XP2", "TYP", "X2T", "TY2", "XYP", "X3", "XY2"},
    {"P3", "PT2", "YP2", "YT2", "PXT", "Y2P", "PX2", "YXT", "Y3", "YX2"}};
// Exponents (x, theta, y, phi) of the ten x-plane terms; the y plane mirrors them.
constexpr int kMono[10][4] = {{0, 3, 0, 0}, {0, 1, 0, 2}, {1, 2, 0, 0}, {1, 0, 0, 2},
                              {0, 1, 1, 1}, {2, 1, 0, 0}, {0, 1, 2, 0}, {1, 0, 1, 1},
                              {3, 0, 0, 0}, {1, 0, 2, 0}};
// Scale of term j to micron and milliradian units.
constexpr double kScale[10] = {1e-3, 1e-3, 1e-6, 1e-6, 1e-6, 1e-9, 1e-9, 1e-9, 1e-12, 1e-12};

std::string g146(double v) { return gx::fG(v + 0.0, 14, 6, 1); }

struct Table {
  bool ok = false;
  double c[2][10]{};   // micron / mrad units, image side as it stands
};

// Coefficient table of a map.
Table fromMap(const std::vector<Poly>& map) {
  Table t;
  t.ok = true;
  for (int j = 0; j < 10; ++j) {
    const Exps ex{kMono[j][0], kMono[j][1], kMono[j][2], kMono[j][3], 0};
    const Exps ey{kMono[j][2], kMono[j][3], kMono[j][0], kMono[j][1], 0};
    t.c[0][j] = map[0].coef(ex) * kScale[j];
    t.c[1][j] = map[2].coef(ey) * kScale[j];
  }
  return t;
}

Table fromClosed(Tavo& s, const Third& v) {
  Table t;
  t.ok = true;
  imageCoefficients(s, s.syspa, v, t.c);
  return t;
}

bool integrate(const Lattice& lat, EdgeModel model, double fringe, int only,
               std::vector<Poly>& map, std::string& why, const da::Space& sp) {
  MapSettings set;
  set.model = model;
  set.fringe = fringe;
  set.only = only;
  return systemMap(lat, set, sp, map, why);
}

void printTables(Tavo& s, const std::string& title, const Table& a, const Table& b,
                 const Table& c, bool all) {
  say(s, title);
  const int last = all ? 10 : 2;
  for (int p = 0; p < 2; ++p) {
    for (int j = 0; j < last; ++j) {
      std::string line = std::string(p == 0 ? " (X/" : " (Y/") + kTermName[p][j] + ")";
      line = gx::pad(line, 10);
      for (const Table* t : {&a, &b, &c})
        line += t->ok ? g146(t->c[p][j]) : std::string("             -");
      say(s, line);
    }
  }
}

// Distance from the system end to the paraxial image of the plane: where
// (x|theta) of the drifted map vanishes.
double imageDistance(const std::vector<Poly>& map, int plane) {
  const int pos = plane == 0 ? 0 : 2;
  const Exps e = plane == 0 ? Exps{0, 1, 0, 0, 0} : Exps{0, 0, 0, 1, 0};
  const double m12 = map[pos].coef(e), m22 = map[pos + 1].coef(e);
  return m22 == 0.0 ? 0.0 : -m12 / m22;
}

// Each lens with what lies on it: its own share of the system's terms,
// closed form beside the maps of its fields alone.
void printLensShares(Tavo& s, const Lattice& lat, bool hardOk, bool softOk, bool all,
                     const da::Space& s3) {
  for (int i = 3; i < s.syspa; ++i) {
    TypeCode tc = decodeType(s, s.bdata(i, 1));
    if (tc.field == 0 || tc.superposed) continue;
    bool inLattice = false;
    for (const FieldLens& e : lat.lens) inLattice = inLattice || e.host == i;
    if (!inLattice) continue;
    Third t{}, share{};
    if (tc.kind == 4 || tc.kind == 8 || tc.kind == 11) {
      third(s, i, t);
      addReferredToObject(s, i, t, share);
    }
    std::vector<Poly> mh, ms;
    std::string w;
    Table lh = hardOk && integrate(lat, EdgeModel::Hard, s.fringe, i, mh, w, s3) ? fromMap(mh) : Table{};
    Table ls = softOk && integrate(lat, EdgeModel::Soft, s.fringe, i, ms, w, s3) ? fromMap(ms) : Table{};
    std::string name = kindName(tc.kind);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    printTables(s, " Lens at row " + gx::fI(i, 2) + " (" + name + ")", fromClosed(s, share), lh, ls,
                all);
  }
}

// The soft edge's fifth-order aperture terms and, with the hard-edge map,
// the first-order terms of both and the image shift the fringes cause.
void printSoftEdge(Tavo& s, const std::vector<Poly>& hard, bool hardOk,
                   const std::vector<Poly>& soft5) {
  say(s, "");
  say(s, "Fifth-order aperture terms, soft edge (micron/mrad^5)");
  auto c5 = [&](int pos, Exps e) { return g146(soft5[pos].coef(e) * 1e-9); };
  say(s, " (X/T5)   = " + c5(0, {0, 5, 0, 0, 0}) + "   (Y/P5)   = " + c5(2, {0, 0, 0, 5, 0}));
  say(s, " (X/T3P2) = " + c5(0, {0, 3, 0, 2, 0}) + "   (Y/P3T2) = " + c5(2, {0, 2, 0, 3, 0}));
  say(s, " (X/TP4)  = " + c5(0, {0, 1, 0, 4, 0}) + "   (Y/PT4)  = " + c5(2, {0, 4, 0, 1, 0}));
  if (!hardOk) return;
  say(s, "");
  say(s, "First order, soft edge against hard edge");
  const double hx = hard[0].coef({0, 1, 0, 0, 0}), hy = hard[2].coef({0, 0, 0, 1, 0});
  const double sx = soft5[0].coef({0, 1, 0, 0, 0}), sy = soft5[2].coef({0, 0, 0, 1, 0});
  say(s, " (X/TH) hard = " + g146(hx) + "  soft = " + g146(sx) + " m/rad");
  say(s, " (Y/PH) hard = " + g146(hy) + "  soft = " + g146(sy) + " m/rad");
  const double dx = (imageDistance(soft5, 0) - imageDistance(hard, 0)) * 1e3;
  const double dy = (imageDistance(soft5, 1) - imageDistance(hard, 1)) * 1e3;
  say(s, " Image-distance shift  X = " + g146(dx) + " mm   Y = " + g146(dy) + " mm");
}

std::string g125(double v) { return gx::fG(v + 0.0, 13, 5, 1); }

// One line of the round-lens table.
struct RoundLine {
  std::string name;                     // " System" or the lens's row and kind
  bool ok = false;                      // its optics could be found
  RoundOptics o;                        // the exact optics
  std::string why;                      // why not, when not
  double closedZ = 0.0, closedM = 0.0;  // closed-form image z and magnification (NaN: none)
};

// Each lens of the system alone, in beam order, from the previous exact image.
void lensLines(Tavo& s, const Lattice& lat, const MapSettings& set, std::vector<RoundLine>& lines) {
  struct Member {
    int row;
    int k;
    bool solenoid;
  };
  std::vector<Member> members;
  // An accelerating section is part of the column, no lens of its own.
  for (size_t k = 0; k < lat.axial.size(); ++k)
    if (lat.axial[k].shape != AxialShape::Ramp) members.push_back({lat.axial[k].row, int(k), false});
  for (size_t k = 0; k < lat.lens.size(); ++k) members.push_back({lat.lens[k].row, int(k), true});
  std::sort(members.begin(), members.end(), [](const Member& x, const Member& y) { return x.row < y.row; });
  if (members.size() > 1) {
    double zobj = 0.0;
    for (const Member& mb : members) {
      RoundLine l;
      std::string name = kindName(decodeType(s, s.bdata(mb.row, 1)).kind);
      while (!name.empty() && name.back() == ' ') name.pop_back();
      l.name = " Row " + gx::fI(mb.row, 2) + " " + name;
      const Lattice one = singleLens(lat, set, mb.k, mb.solenoid);
      l.ok = roundOptics(one, set, zobj, lat.zend, l.o, l.why);
      l.closedZ = s.bdata(mb.row, 6);
      l.closedM = s.bdata(mb.row, 9);
      if (l.ok) zobj = l.o.zi;
      lines.push_back(l);
    }
  }
}

// The round-lens table of a rotationally symmetric system: the Gaussian
// image of an axial object at z = 0, its magnification, Larmor rotation and
// the aperture and chromatic coefficients, object and image side, for the
// system and for each lens alone (imaging the previous lens's image), with
// the closed-form first order beside the exact one.
void printRound(Tavo& s, const Lattice& lat, const Mat4& a) {
  MapSettings set;
  set.fringe = s.fringe;
  std::vector<RoundLine> lines;
  RoundLine sys;
  sys.name = " System";
  sys.ok = roundOptics(lat, set, 0.0, lat.zend, sys.o, sys.why);
  // Closed form: where (x|theta) of the system matrix, drifted, vanishes.
  if (a(2, 2) != 0.0) {
    const double d = -a(1, 2) / a(2, 2);
    sys.closedZ = lat.zend + d;
    sys.closedM = a(1, 1) + d * a(2, 1);
  }
  lines.push_back(sys);
  RoundLine fin;
  fin.name = " System, last image";
  fin.closedZ = sys.closedZ;
  fin.closedM = sys.closedM;
  if (sys.ok && roundOptics(lat, set, 0.0, lat.zend, fin.o, fin.why, true) &&
      std::fabs(fin.o.zi - sys.o.zi) > 1e-12 * std::fabs(sys.o.zi)) {
    fin.ok = true;
    lines[0].closedZ = lines[0].closedM = std::nan("");
    lines.push_back(fin);
  }
  lensLines(s, lat, set, lines);
  say(s, "");
  say(s, "Round lenses, axial object at z = 0 (exact fields; lenses alone from the previous image)");
  say(s, "                    Image z (m)  Magnification Rotation (rad)  Closed form: z (m)    Mag.");
  for (const RoundLine& l : lines) {
    std::string t = gx::pad(l.name, 20);
    if (!l.ok) {
      say(s, t + l.why);
      continue;
    }
    const std::string closed = std::isnan(l.closedZ)
                                   ? std::string("              -            -")
                                   : "  " + g125(l.closedZ) + g125(l.closedM);
    say(s, t + g125(l.o.zi) + "  " + g125(l.o.m) + "  " + g125(l.o.theta) + closed);
  }
  say(s, "Object side (m), slope-based:");
  say(s, "                         Cs           C5          C5a           Cc   C5 (angle)");
  for (const RoundLine& l : lines) {
    if (!l.ok) continue;
    say(s, gx::pad(l.name, 20) + g125(l.o.cs) + g125(l.o.c5) + g125(l.o.c5a) + g125(l.o.cc) +
               g125(l.o.c5 + l.o.cs));
  }
  say(s, "Image side (m):");
  say(s, "                       Cs_i         C5_i        C5a_i         Cc_i");
  for (const RoundLine& l : lines) {
    if (!l.ok) continue;
    say(s, gx::pad(l.name, 20) + g125(l.o.csi()) + g125(l.o.c5i()) + g125(l.o.c5ai()) +
               g125(l.o.cci()));
  }
}

}  // namespace

void cmdFringe(Tavo& s, Command& c) {
  std::string arg = c.arg();
  while (!arg.empty() && arg.back() == ' ') arg.pop_back();
  if (arg.find_first_not_of(' ') != std::string::npos) {
    if (!(c.value > 0.0) || !std::isfinite(c.value)) {
      say(s, "?FRINGE- The fringe factor must be a positive number.");
    } else {
      s.fringe = c.value;
    }
  }
  say(s, "Fringe length lambda = " + exactNum(s.fringe) +
             " x bore radius (g(z) = [tanh((z-z1)/lambda) - tanh((z-z2)/lambda)]/2)");
}

void cmdExact(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  if (c.qual == 'F') {
    exactFit(s, c.value);
    return;
  }
  if (c.qual == 'C') {
    exactCram(s);
    return;
  }
  Mat4 a;
  stigmat(s, -3, a);
  Lattice lat;
  std::string why;
  if (!buildLattice(s, lat, why)) {
    say(s, "?EXACT- " + why);
    return;
  }
  const bool all = c.letter == 'A';
  const da::Space s3(4, 3), s5(4, 5);

  std::vector<Poly> hard, soft, soft5;
  std::string hardWhy, softWhy;
  const bool hardOk = integrate(lat, EdgeModel::Hard, s.fringe, 0, hard, hardWhy, s3);
  const bool softOk = integrate(lat, EdgeModel::Soft, s.fringe, 0, soft5, softWhy, s5);

  say(s, "Third-order coefficients at the system end (as AB3: micron, mrad)");
  say(s, "              Closed form     Hard edge     Soft edge");
  Table ht = hardOk ? fromMap(hard) : Table{};
  Table st = softOk ? fromMap(soft5) : Table{};
  printTables(s, " System", fromClosed(s, s.aber3.total), ht, st, all);

  printLensShares(s, lat, hardOk, softOk, all, s3);
  if (all) {
    say(s, "Units: micron/mrad^3, micron/(mrad^2 micron), micron/(mrad micron^2), micron/micron^3");
  } else {
    say(s, "Units: micron/mrad^3");
  }
  if (!hardOk) say(s, "Hard edge: " + hardWhy);
  // Neither map: the command has no result of its own to give.
  if (!hardOk && !softOk) gx::gxfail(s.gx);
  if (!softOk) {
    say(s, "Soft edge: " + softWhy);
    return;
  }
  bool anyRound = !lat.axial.empty();
  for (const FieldLens& e : lat.lens) anyRound = anyRound || e.n == 0;
  if (anyRound && isRound(lat)) printRound(s, lat, a);

  printSoftEdge(s, hard, hardOk, soft5);
}

}  // namespace tavo
