// Tolerance ensembles. Each variant carries build errors drawn from the
// portable generator (so a seed means the same ensemble on every machine):
// displacement and rotation of each lens, excitation errors of each lens
// and of each power supply (coupled lenses share one), and stray sextupole
// and octupole content of each quadrupole with a random orientation. The
// operator then refocuses: the coupled fields are refitted until the first-
// order image terms (x|theta) and (y|phi) are the nominal system's again.
// The variant's polynomial comes from the closed form (the stray multipoles
// as superimposed parasitic lenses, as PARASI places them) or from the
// soft-edged map integrated through the displaced and rotated fields.
#include "tavo/edit/tolerance.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "gxlib/fortran/fortio.h"
#include "gxlib/math/prng.h"
#include "tavo/aber/aber.h"
#include "tavo/cof/cof.h"
#include "tavo/edit/edit.h"
#include "tavo/exact/exact.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace tavo {

namespace fs = std::filesystem;

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr int kMaxSteps = 40;        // Newton steps of the refocusing
constexpr double kFocusTol = 1e-12;  // m/rad: the refit stops below this
constexpr double kFocusOk = 1e-9;    // m/rad: a variant counts as refocused

double draw(gx::Prng& g, ErrorLaw law) {
  return law == ErrorLaw::Uniform ? g.uniformUnit() : g.gaussCut3();
}

std::string num17(double v) {
  char b[40];
  std::snprintf(b, sizeof b, "%.17g", v + 0.0);
  return b;
}

// The first-order image terms that refocusing restores.
bool focusTerms(Tavo& s, bool exact, double& e12, double& e34, std::string& why) {
  if (!exact) {
    Mat4 a;
    stigmat(s, 1, a);
    e12 = a(1, 2);
    e34 = a(3, 4);
    return std::isfinite(e12) && std::isfinite(e34);
  }
  const da::Space sp(4, 1);
  std::vector<da::Poly> map;
  if (!softSystemMap(s, sp, map, why)) return false;
  e12 = map[0].coef({0, 1, 0, 0, 0});
  e34 = map[2].coef({0, 0, 0, 1, 0});
  return std::isfinite(e12) && std::isfinite(e34);
}

// The nominal system as the ensemble starts from it.
struct Nominal {
  TableCopy table;
  std::vector<double> x;               // fit variables X(1..NV), x[0] unused
  int nv = 0;
  double t12 = 0, t34 = 0;             // the image terms to restore
  std::vector<int> lenses;             // every lens row
  std::array<int, kRows + 1> supplyOf{};
  int nsupplies = 0;
  explicit Nominal(Tavo& s) : table(s) {}
};

// Fields of the variant: each row's nominal field times its lens and supply
// factor, and for coupled rows times the change of its fit variable.
void setFields(Tavo& s, const Nominal& n, const std::array<double, kRows + 1>& factor,
               const std::vector<double>& x) {
  for (int r = 3; r < n.table.syspa; ++r) {
    double f = n.table.bdata(r, 3) * factor[r];
    const int l = std::abs(n.table.coupl[r]);
    if (l >= 1 && l <= n.nv && n.x[l] != 0.0) f *= x[l] / n.x[l];
    s.bdata(r, 3) = f;
  }
}

// Newton refit of the coupled fields: the step of least change that
// restores (x|theta) and (y|phi). False when the image cannot be restored.
bool refocus(Tavo& s, const Nominal& n, bool exact, const std::array<double, kRows + 1>& factor,
             std::vector<double>& x, std::string& why) {
  x = n.x;
  setFields(s, n, factor, x);
  double e12 = 0, e34 = 0;
  if (!focusTerms(s, exact, e12, e34, why)) return false;
  double r0 = e12 - n.t12, r1 = e34 - n.t34;
  double norm = std::hypot(r0, r1);
  if (n.nv == 0) return norm <= kFocusOk;
  for (int it = 0; it < kMaxSteps && norm > kFocusTol; ++it) {
    // Jacobian by forward differences.
    std::vector<double> j0(n.nv + 1), j1(n.nv + 1);
    for (int v = 1; v <= n.nv; ++v) {
      std::vector<double> xp = x;
      const double h = 1e-7 * std::max(std::fabs(x[v]), 1e-9);
      xp[v] += h;
      setFields(s, n, factor, xp);
      double f12 = 0, f34 = 0;
      if (!focusTerms(s, exact, f12, f34, why)) return false;
      j0[v] = (f12 - e12) / h;
      j1[v] = (f34 - e34) / h;
    }
    // Least-change step: dx = -J^T (J J^T)^-1 r; one variable: least squares.
    std::vector<double> dx(n.nv + 1, 0.0);
    double a = 0, b = 0, c = 0;
    for (int v = 1; v <= n.nv; ++v) {
      a += j0[v] * j0[v];
      b += j0[v] * j1[v];
      c += j1[v] * j1[v];
    }
    const double det = a * c - b * b;
    if (n.nv >= 2 && std::fabs(det) > 1e-24 * (a * c + 1e-300)) {
      const double w0 = (c * r0 - b * r1) / det, w1 = (a * r1 - b * r0) / det;
      for (int v = 1; v <= n.nv; ++v) dx[v] = -(j0[v] * w0 + j1[v] * w1);
    } else if (a + c > 0.0) {
      const double g = (a + c);
      for (int v = 1; v <= n.nv; ++v) dx[v] = -(j0[v] * r0 + j1[v] * r1) / g;
    } else {
      break;
    }
    // Halve the step until the residual falls.
    bool better = false;
    for (int half = 0; half < 12 && !better; ++half) {
      std::vector<double> xt = x;
      const double f = std::ldexp(1.0, -half);
      for (int v = 1; v <= n.nv; ++v) xt[v] += f * dx[v];
      setFields(s, n, factor, xt);
      double f12 = 0, f34 = 0;
      if (!focusTerms(s, exact, f12, f34, why)) return false;
      const double t = std::hypot(f12 - n.t12, f34 - n.t34);
      if (t < norm) {
        better = true;
        x = xt;
        e12 = f12;
        e34 = f34;
        r0 = f12 - n.t12;
        r1 = f34 - n.t34;
        norm = t;
      }
    }
    if (!better) break;
  }
  setFields(s, n, factor, x);
  return norm <= kFocusOk;
}

// Adds a stray multipole of kind 6 or 8 to the quadrupole at row q: a
// superimposed row after the quadrupole's own superimposed rows, or, in the
// closed form when one of that kind is there already, on top of it (the
// closed form sees only the first of a kind). f is the fraction of the
// quadrupole field at the bore, angle the orientation. The closed form
// models mid-plane symmetric fields only: its parasitic lens carries the
// upright part f cos(n angle); the exact map takes the rotated field.
bool addStray(Tavo& s, int q, int kind, double f, double angle, bool exact, std::string& why) {
  if (f == 0.0) return true;
  const int n = kind == 6 ? 3 : 4;
  const TypeCode tq = decodeType(s, s.bdata(q, 1));
  int last = q;
  while (last + 1 < s.syspa && decodeType(s, s.bdata(last + 1, 1)).superposed) {
    ++last;
    if (!exact && decodeType(s, s.bdata(last, 1)).kind == kind) {
      const double ratio = std::pow(s.bdata(last, 4) / s.bdata(q, 4), n - 1);
      s.bdata(last, 3) += f * std::cos(n * angle) * s.bdata(q, 3) * ratio;
      return true;
    }
  }
  if (s.syspa >= kRows) {
    why = "The stray multipoles need more than " + std::to_string(kRows) + " rows.";
    return false;
  }
  for (int r = s.syspa; r > last; --r) copyRow(s, r + 1, r);
  clearRow(s, last + 1);
  const int k = last + 1;
  s.bdata(k, 1) = (tq.field > 0 ? 20.0 : 30.0) + kind;
  for (int c = 2; c <= kCols; ++c) s.bdata(k, c) = s.bdata(q, c);
  if (exact) {
    s.bdata(k, 3) = f * s.bdata(q, 3);
    s.rotat[k] = angle;
  } else {
    s.bdata(k, 3) = f * std::cos(n * angle) * s.bdata(q, 3);
  }
  ++s.syspa;
  return true;
}

// The image offset of the axial ray: the first-order trace with the
// displacements less the same trace without them (zero, to the bit, when
// nothing is displaced).
void closedOffset(Tavo& s, double off[4]) {
  Mat4 a;
  stigmat(s, 1, a);
  double with[4];
  for (int k = 0; k < 4; ++k) with[k] = s.bdata(2, k + 7);
  const auto displ = s.displ;
  for (auto& d : s.displ) d = {0.0, 0.0};
  stigmat(s, 1, a);
  for (int k = 0; k < 4; ++k) off[k] = with[k] - s.bdata(2, k + 7);
  s.displ = displ;
}

// One variant from its drawn errors: the table perturbed, refocused, the
// stray multipoles placed, and the coefficient records made.
bool makeVariant(Tavo& s, const Nominal& n, const ToleranceSpec& spec, Variant& v,
                 std::string& why) {
  n.table.restore(s);
  std::array<double, kRows + 1> factor;
  factor.fill(1.0);
  for (const LensErrors& e : v.errors) {
    s.displ[e.row][0] += e.dx;
    s.displ[e.row][1] += e.dy;
    s.rotat[e.row] += e.rot;
  }
  // A supply error acts on every lens that the supply feeds.
  std::vector<bool> drawnSupply(n.nsupplies, false);
  for (const LensErrors& e : v.errors) {
    factor[e.row] *= 1.0 + e.lens;
    drawnSupply[e.supply] = true;
  }
  for (int r : n.lenses)
    if (drawnSupply[n.supplyOf[r]]) factor[r] *= 1.0 + v.supplies[n.supplyOf[r]];

  std::string w;
  v.refocused = refocus(s, n, spec.exact, factor, v.fields, w);
  if (!w.empty()) {
    why = w;
    return false;
  }
  // Stray multipoles from the last quadrupole up, so rows above stay put.
  for (auto it = v.errors.rbegin(); it != v.errors.rend(); ++it) {
    if (decodeType(s, s.bdata(it->row, 1)).kind != 4) continue;
    if (!addStray(s, it->row, 8, it->oct, it->octAngle, spec.exact, why)) return false;
    if (!addStray(s, it->row, 6, it->sext, it->sextAngle, spec.exact, why)) return false;
  }

  Mat4 a;
  bool finite = true;
  if (!spec.exact) {
    closedOffset(s, v.offset);
    stigmat(s, 3, a);
    v.records = cofRecords(s, a, nullptr, false, spec.shape, finite);
  } else {
    stigmat(s, 3, a);
    Lattice lat;
    const da::Space sp(5, 5);
    std::vector<da::Poly> map;
    MapSettings set;
    set.model = EdgeModel::Soft;
    set.fringe = s.fringe;
    if (!buildLattice(s, lat, why) || !systemMap(lat, set, sp, map, why)) return false;
    for (int k = 0; k < 4; ++k) v.offset[k] = map[k].constant();
    v.records = cofRecords(s, a, &map, true, spec.shape, finite);
  }
  if (!finite) {
    why = "Variant " + std::to_string(v.index) + " has coefficients that are not finite numbers.";
    return false;
  }
  return true;
}

}  // namespace

std::vector<int> lensRows(Tavo& s) {
  std::vector<int> rows;
  for (int r = 3; r < s.syspa && r <= kRows; ++r) {
    const TypeCode tc = decodeType(s, s.bdata(r, 1));
    if (tc.field != 0 && !tc.superposed) rows.push_back(r);
  }
  return rows;
}

int powerSupplies(Tavo& s, std::array<int, kRows + 1>& supplyOf) {
  supplyOf.fill(-1);
  std::vector<int> codes;   // coupling code of each shared supply, 0 for own
  int n = 0;
  for (int r : lensRows(s)) {
    const int c = std::abs(decodeType(s, s.bdata(r, 1)).coupling);
    int found = -1;
    for (size_t k = 0; c != 0 && k < codes.size(); ++k)
      if (codes[k] == c) found = static_cast<int>(k);
    if (found < 0) {
      codes.push_back(c);
      found = n++;
    }
    supplyOf[r] = found;
  }
  return n;
}

bool buildEnsemble(Tavo& s, const ToleranceSpec& spec,
                   const std::function<bool(const Variant&, std::string&)>& sink,
                   std::string& why) {
  Mat4 a;
  stigmat(s, 1, a);
  couple(s);   // the links of the coupled fields, kept in the copy
  Nominal n(s);
  n.nv = s.blk1.nv;
  n.x.assign(s.blk1.x.begin(), s.blk1.x.begin() + n.nv + 1);
  n.lenses = lensRows(s);
  n.nsupplies = powerSupplies(s, n.supplyOf);
  bool ok = focusTerms(s, spec.exact, n.t12, n.t34, why);
  if (!ok && why.empty()) why = "The nominal system has no finite image terms.";
  std::vector<int> rows = spec.rows.empty() ? n.lenses : spec.rows;
  gx::Prng g(spec.seed);
  for (int i = 0; ok && i <= spec.variants; ++i) {
    Variant v;
    v.index = i;
    v.supplies.assign(n.nsupplies, 0.0);
    // Every draw is made whatever the sizes, in a fixed order (lens by lens,
    // then the supplies), so the same seed gives the same errors.
    for (int r : rows) {
      LensErrors e;
      e.row = r;
      e.supply = n.supplyOf[r];
      e.dx = spec.dx * draw(g, spec.law);
      e.dy = spec.dy * draw(g, spec.law);
      e.rot = spec.rot * draw(g, spec.law);
      e.lens = spec.lens * draw(g, spec.law);
      e.sext = spec.sext * draw(g, spec.law);
      e.sextAngle = kTwoPi * g.uniform();
      e.oct = spec.oct * draw(g, spec.law);
      e.octAngle = kTwoPi * g.uniform();
      v.errors.push_back(e);
    }
    for (double& u : v.supplies) u = spec.supply * draw(g, spec.law);
    if (i == 0) {
      // The nominal system: no errors, the same path through the code.
      for (LensErrors& e : v.errors) e = LensErrors{e.row, e.supply};
      for (double& u : v.supplies) u = 0.0;
    }
    if (!makeVariant(s, n, spec, v, why) || !sink(v, why)) ok = false;
  }
  n.table.restore(s);
  stigmat(s, 1, a);
  return ok;
}

std::string manifestHeader(const ToleranceSpec& spec, const std::vector<int>& rows,
                           int nsupplies, int nfields) {
  std::string h = "variant file refocused x0 th0 y0 ph0";
  for (int r : rows) {
    const std::string t = std::to_string(r);
    for (const char* k : {"dx.", "dy.", "rot.", "exc.", "sext.", "sang.", "oct.", "oang."})
      h += " " + std::string(k) + t;
  }
  for (int p = 1; p <= nsupplies; ++p) h += " psu." + std::to_string(p);
  for (int f = 1; f <= nfields; ++f) h += " field." + std::to_string(f);
  (void)spec;
  return h;
}

std::string manifestRow(const Variant& v, const std::string& file) {
  std::string r = std::to_string(v.index) + " " + file + " " + (v.refocused ? "1" : "0");
  for (double o : v.offset) r += " " + num17(o);
  for (const LensErrors& e : v.errors)
    for (double x : {e.dx, e.dy, e.rot, e.lens, e.sext, e.sextAngle, e.oct, e.octAngle})
      r += " " + num17(x);
  for (double u : v.supplies) r += " " + num17(u);
  for (size_t f = 1; f < v.fields.size(); ++f) r += " " + num17(v.fields[f]);
  return r;
}

// The manifest's comment lines and column names.
void manifestHead(std::ostream& man, Tavo& s, const ToleranceSpec& spec, const std::vector<int>& rows,
                  int nsupplies, int nfields) {
  man << "# Tolerance ensemble of " << gx::trimRight(s.title) << "\n";
  man << "# model " << (spec.exact ? "soft-edge map, fifth order" : "closed form, third order")
      << "; errors " << (spec.law == ErrorLaw::Uniform ? "uniform" : "Gaussian cut at 3 sigma")
      << "; variants " << spec.variants << "; seed " << spec.seed << "\n";
  man << "# rms: dx " << num17(spec.dx) << " m, dy " << num17(spec.dy) << " m, rotation "
      << num17(spec.rot) << " rad, lens excitation " << num17(spec.lens) << ", supply "
      << num17(spec.supply) << ", sextupole " << num17(spec.sext) << ", octupole "
      << num17(spec.oct) << "\n";
  man << "# offsets x0 th0 y0 ph0 (m, rad) are added to every mapped ray;"
         " errors: dx dy (m), rot (rad), exc psu sext oct (fractions), sang oang (rad)\n";
  man << manifestHeader(spec, rows, nsupplies, nfields) << "\n";
}

bool writeEnsemble(Tavo& s, const ToleranceSpec& spec, const std::string& name, std::string& why,
                   int& unfocused) {
  unfocused = 0;
  std::error_code ec;
  const fs::path target(name);
  if (fs::exists(fs::symlink_status(target, ec))) {
    why = name + " already exists.";
    return false;
  }
  fs::path parent = target.parent_path();
  if (parent.empty()) parent = ".";
  std::string tmpl = (parent / ("." + target.filename().string() + ".tmpXXXXXX")).string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    why = "Unable to make a folder beside " + name + ": " + std::strerror(errno);
    return false;
  }
  const fs::path tmp(buf.data());
  auto discard = [&] { fs::remove_all(tmp, ec); };

  const int width = std::max(4, static_cast<int>(std::to_string(spec.variants).size()));
  std::vector<int> rows = spec.rows.empty() ? lensRows(s) : spec.rows;
  std::array<int, kRows + 1> supplyOf{};
  const int nsupplies = powerSupplies(s, supplyOf);
  couple(s);
  const int nfields = s.blk1.nv;

  std::ofstream man(tmp / "manifest.txt");
  manifestHead(man, s, spec, rows, nsupplies, nfields);

  bool ok = false;
  try {
    ok = buildEnsemble(
        s, spec,
        [&](const Variant& v, std::string& w) {
          char file[32];
          if (v.index == 0)
            std::snprintf(file, sizeof file, "nominal.cof");
          else
            std::snprintf(file, sizeof file, "v%0*d.cof", width, v.index);
          std::ofstream f(tmp / file);
          for (const auto& r : v.records) f << r << "\n";
          f.close();
          if (!f) {
            w = "Unable to write " + std::string(file) + " in " + name + ".";
            return false;
          }
          man << manifestRow(v, file) << "\n";
          if (!v.refocused) ++unfocused;
          return true;
        },
        why);
  } catch (...) {
    // Nothing half-made is left beside the folder's name.
    man.close();
    discard();
    throw;
  }
  man.close();
  if (ok && !man) {
    why = "Unable to write the manifest of " + name + ".";
    ok = false;
  }
  if (!ok) {
    discard();
    return false;
  }
  // The folder gets its name only now, and never takes an existing one's.
  if (renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
    why = errno == EEXIST ? name + " already exists." : "Unable to name the folder " + name + ": " + std::strerror(errno);
    discard();
    return false;
  }
  return true;
}

}  // namespace tavo
