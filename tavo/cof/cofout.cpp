// The coefficient file: the system's aberration polynomial for the ray
// mapper, and the conversion of third-order sums to image-side units.
#include <cmath>
#include <string>
#include <vector>

#include "gxlib/fortran/fortio.h"
#include "tavo/aber/aber.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/talk.h"
#include "tavo/system/system.h"
#include "tavo/cof/cof.h"

namespace tavo {

namespace {

constexpr int kCofUnit = 4;               // unit of the coefficient file
constexpr size_t kLineName = 30;          // name field of the command line
constexpr size_t kPromptName = 13;        // name field of the prompt

// Scale of term j to micron and milliradian units.
constexpr double kScale[10] = {1e-3, 1e-3, 1e-6, 1e-6, 1e-6, 1e-9, 1e-9, 1e-9, 1e-12, 1e-12};
constexpr double kBack[10] = {1e3, 1e3, 1e6, 1e6, 1e6, 1e9, 1e9, 1e9, 1e12, 1e12};

std::string trimBoth(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  const size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// A number for a message: G12.5 without its padding.
std::string num(double v) { return trimBoth(gx::fG(v, 12, 5)); }

std::string joinG(const double* v, int n, int w, int d) {
  std::string r;
  for (int k = 0; k < n; ++k) {
    if (k > 0) r += ",";
    r += gx::fG(v[k] + 0.0, w, d, 1);   // no negative zeros
  }
  return r;
}

// Asks for a coefficient file name until one can be created. Returns false
// when the command is to end without a file (blank name, end of input).
bool chooseName(Tavo& s, std::string name, std::string& chosen) {
  auto& io = s.gx.io;
  const int out = s.inout.term;
  size_t limit = kLineName;
  for (;;) {
    if (name.empty()) {
      std::string reply;
      if (ask(s, "Filename for output > ", reply, 0) != gx::Reply::Ok) return false;
      name = trimBoth(reply);
      if (name.empty()) return false;
      limit = kPromptName;
    }
    std::string msg;
    if (name.size() > limit) {
      msg = "?COFOUT- File name longer than " + std::to_string(limit) + " characters.";
    } else if (name.find_first_of(" \t") != std::string::npos) {
      msg = "?COFOUT- File name must not contain blanks.";
    } else {
      if (name.find('.') == std::string::npos) name += ".cof";
      if (gx::Io::exists(name)) {
        msg = " " + name + " already exists.";
      } else if (!io.open(kCofUnit, name, gx::OpenStatus::New, gx::Access::Write)) {
        msg = "?COFOUT- Unable to open " + name + io.reason();
      }
    }
    if (msg.empty()) {
      chosen = name;
      return true;
    }
    io.write(out, msg);
    // In a macro the lines that follow are its own commands, not a second
    // try at the name: the command is refused.
    if (s.inout.cmd != gx::Io::kIn) {
      gx::gxfail(s.gx);
      return false;
    }
    name.clear();
  }
}

// Records 8 to 21 of the coefficient file from a map in (x, theta, y, phi,
// delta): first and second order of all four coordinates, third order of the
// positions with the two coupled terms, fifth order (zero unless asked for)
// and the chromatic derivatives per percent.
template <class Join>
void mapRecords(const std::vector<da::Poly>& m, bool fifth, std::vector<std::string>& rec,
                Join& join) {
  using da::Exps;
  auto c = [&](int r, int x, int t, int y, int p, int d = 0) { return m[r].coef(Exps{x, t, y, p, d}); };
  for (int r = 0; r < 4; ++r) {
    const double row[4] = {c(r, 1, 0, 0, 0), c(r, 0, 1, 0, 0), c(r, 0, 0, 1, 0), c(r, 0, 0, 0, 1)};
    rec.push_back(join(row, 4, 12, 4));
  }
  // x^2, x theta, x y, x phi, theta^2, theta y, theta phi, y^2, y phi, phi^2.
  static constexpr int kSecond[10][4] = {{2, 0, 0, 0}, {1, 1, 0, 0}, {1, 0, 1, 0}, {1, 0, 0, 1},
                                         {0, 2, 0, 0}, {0, 1, 1, 0}, {0, 1, 0, 1}, {0, 0, 2, 0},
                                         {0, 0, 1, 1}, {0, 0, 0, 2}};
  for (int r = 0; r < 4; ++r) {
    double row[10];
    for (int k = 0; k < 10; ++k) row[k] = c(r, kSecond[k][0], kSecond[k][1], kSecond[k][2], kSecond[k][3]);
    rec.push_back(join(row, 10, 12, 4));
  }
  // theta^3, theta phi^2, x theta^2, x phi^2, theta y phi, x^2 theta, theta y^2,
  // x y phi, x^3, x y^2, theta^2 phi, phi^3 (the y record mirrors it).
  static constexpr int kThird[12][4] = {{0, 3, 0, 0}, {0, 1, 0, 2}, {1, 2, 0, 0}, {1, 0, 0, 2},
                                        {0, 1, 1, 1}, {2, 1, 0, 0}, {0, 1, 2, 0}, {1, 0, 1, 1},
                                        {3, 0, 0, 0}, {1, 0, 2, 0}, {0, 2, 0, 1}, {0, 0, 0, 3}};
  for (int p = 0; p < 2; ++p) {
    double row[12];
    for (int k = 0; k < 12; ++k) {
      const int* e = kThird[k];
      row[k] = p == 0 ? c(0, e[0], e[1], e[2], e[3]) : c(2, e[2], e[3], e[0], e[1]);
    }
    rec.push_back(join(row, 12, 11, 4));
  }
  for (int p = 0; p < 2; ++p) {
    double row[6];
    for (int k = 0; k < 6; ++k)
      row[k] = !fifth ? 0.0 : p == 0 ? c(0, 0, 5 - k, 0, k) : c(2, 0, k, 0, 5 - k);
    rec.push_back(fifth ? join(row, 6, 12, 4) : std::string("0,0,0,0,0,0"));
  }
  const double ch1[2] = {c(0, 0, 1, 0, 0, 1), c(2, 0, 0, 0, 1, 1)};
  const double ch2[2] = {c(0, 1, 0, 0, 0, 1), c(2, 0, 0, 1, 0, 1)};
  rec.push_back(join(ch1, 2, 12, 5));
  rec.push_back(join(ch2, 2, 12, 5));
}

// The title, the object and aperture half-widths and the collimator
// distance; the collimator is taken to stand at the end of the first
// element row.
template <class Join>
void beamRecords(Tavo& s, std::vector<std::string>& rec, Join& joinG) {
  rec.push_back(" " + gx::pad(s.title, 50));
  const double bx = s.bdata(2, 2), bt = s.bdata(2, 3), by = s.bdata(2, 4), bp = s.bdata(2, 5);
  const double lc = s.bdata(3, 2);
  const double object[4] = {bx, 0.0, by, 0.0};
  const double aperture[4] = {bx + lc * bt, 0.0, by + lc * bp, 0.0};
  rec.push_back(joinG(object, 4, 12, 4));
  rec.push_back(joinG(aperture, 4, 12, 4));
  rec.push_back(" " + gx::fF(lc, 12, 7));
  s.gx.io.write(s.inout.term, " Collimator distance assumed to be " + num(lc) + " m");
}

// The collimator's shape, S or C. False when the input ended.
bool askShape(Tavo& s, char& shape) {
  std::string reply;
  if (ask(s, "Square or Circular aperture collimator? > ", reply, 0) != gx::Reply::Ok) return false;
  const std::string r = trimBoth(reply);
  shape = (!r.empty() && (r[0] == 's' || r[0] == 'S')) ? 'S' : 'C';
  return true;
}

// The records of the closed-form model: the first-order matrix, the
// second-order terms, the third-order terms in the file's units and the
// chromatic terms.
template <class Join>
void modelRecords(Tavo& s, const Mat4& a, std::vector<std::string>& rec, Join& joinG) {
  auto& io = s.gx.io;
  const int out = s.inout.term;
  for (int r = 1; r <= 4; ++r) {
    const double row[4] = {a(r, 1), a(r, 2), a(r, 3), a(r, 4)};
    rec.push_back(joinG(row, 4, 12, 4));
  }
  for (int r = 1; r <= 4; ++r) {
    double row[10];
    for (int c = 5; c <= 14; ++c) row[c - 5] = s.aber2(r, c);
    rec.push_back(joinG(row, 10, 12, 4));
  }
  double c[2][10];
  imageCoefficients(s, s.syspa, s.aber3.total, c);
  for (int p = 0; p < 2; ++p) {
    double row[10];
    for (int j = 0; j < 10; ++j) row[j] = c[p][j] * kBack[j];
    rec.push_back(joinG(row, 10, 11, 4) + ",0,0");
  }
  rec.push_back("0,0,0,0,0,0");
  rec.push_back("0,0,0,0,0,0");

  double dp = 0.5;
  chroma(s, dp);
  io.write(out, " Chromatic coefficients calculated with a " + trimBoth(gx::fF(dp, 6, 1)) +
                    "% energy spread.");
  io.write(out, " (X/XDe and Y/YDe are probably inaccurate.)");
  const double ch1[2] = {s.aber0(1), s.aber0(2)};
  const double ch2[2] = {s.aber0(3), s.aber0(4)};
  rec.push_back(joinG(ch1, 2, 12, 5));
  rec.push_back(joinG(ch2, 2, 12, 5));
  rec.push_back(" Coefficients from TAVO");
}

// A coefficient that is not a finite number: nothing is written, and the
// multipoles with a field but no bore radius are named.
void reportNotFinite(Tavo& s, const std::string& name) {
  auto& io = s.gx.io;
  const int out = s.inout.term;
  io.write(out, "?COFOUT- Coefficients that are not finite numbers: " + name + " not written.");
  for (int row = 3; row <= s.syspa && row <= kRows; ++row) {
    const int kind = decodeType(s, s.bdata(row, 1)).kind;
    const bool multipole = kind == 4 || kind == 6 || kind == 8;
    if (multipole && s.bdata(row, 3) != 0.0 && s.bdata(row, 4) == 0.0)
      io.write(out, " Element " + gx::fI(row, 2) + " (" + trimBoth(kindName(kind)) +
                        ") has a zero bore radius.");
  }
}

}  // namespace

void imageCoefficients(Tavo& s, int iz, const Third& t, double c[2][10]) {
  double mx = 1.0, my = 1.0;
  mag(s, iz, mx, my);
  for (int j = 0; j < 10; ++j) {
    c[0][j] = mx * t(1, j + 1) * kScale[j];
    c[1][j] = my * t(2, j + 1) * kScale[j];
  }
}

void cofout(Tavo& s, const Mat4& a, const std::string& line, const std::vector<da::Poly>* map,
            bool fifth) {
  auto& io = s.gx.io;
  const int out = s.inout.term;
  const std::string arg = line.size() > 7 ? trimBoth(line.substr(7)) : std::string();
  std::string name;
  if (!chooseName(s, arg, name)) return;

  try {
    std::vector<std::string> rec;
    // KESTRIM cannot read a value that is not a finite number: such a file
    // is never written.
    bool finite = true;
    auto joinG = [&finite](const double* v, int n, int w, int d) {
      for (int k = 0; k < n; ++k) finite = finite && std::isfinite(v[k]);
      return tavo::joinG(v, n, w, d);
    };
    beamRecords(s, rec, joinG);
    char shape = 'C';
    if (!askShape(s, shape)) {
      io.close(kCofUnit, false);
      return;
    }
    io.write(out, shape == 'S' ? " Square aperture collimators." : " Circular aperture collimatior.");
    rec.push_back(std::string(" ") + shape);

    const double shadow = 0.1;
    io.write(out, " Shadow plane distance assumed to be " + num(shadow) + " m");
    rec.push_back(gx::fF(shadow, 12, 7));
    io.write(out, " Total system length " + num(s.syspb.totlen) + " m");
    rec.push_back(gx::fF(s.syspb.totlen, 12, 7));

    if (map != nullptr) {
      mapRecords(*map, fifth, rec, joinG);
      rec.push_back(" Coefficients from TAVO");
      io.write(out, fifth ? " Every record from the soft-edge map; chromatic terms are exact derivatives."
                          : " Every record from the hard-edge map; chromatic terms are exact derivatives.");
    } else {
      modelRecords(s, a, rec, joinG);
    }

    finite = finite && std::isfinite(s.syspb.totlen);
    if (!finite) {
      io.close(kCofUnit, false);
      reportNotFinite(s, name);
      return;
    }
    for (const auto& r : rec) io.write(kCofUnit, r);
    if (!io.close(kCofUnit)) {
      io.write(out, "?COFOUT- Unable to write " + name + io.reason());
      return;
    }
    io.write(out, " Coefficients written to " + name + ".");
  } catch (...) {
    // End of input in the dialog: nothing is left under the user's name.
    io.close(kCofUnit, false);
    throw;
  }
}

}  // namespace tavo
