// SORT: the rays at a plane counted into the cells of a square grid, for an
// external grid-plotting program; with a percentage table, an edge scan, or
// instead of the grid a radial count or intensity profile.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

namespace {

constexpr int kMaxGrid = 90;
constexpr int kDefaultGrid = 25;
constexpr int kAnnuli = 1000;
constexpr double kMargin = static_cast<double>(0.025f);
constexpr double kWiden = static_cast<double>(1.05f);
constexpr double kMicron = static_cast<double>(1.0E-6f);
constexpr double kPi = static_cast<double>(3.1415927f);

std::string g12(double v) { return gx::fG(v, 12, 5, 1); }
std::string g13(double v) { return gx::fG(v, 13, 5, 1); }

// Percentages in four columns: fewer decimals as they grow.
std::string percent(double p) {
  if (p >= 100.0) return gx::fF(p, 4, 0);
  if (p >= 10.0) return gx::fF(p, 4, 1);
  return gx::fF(p, 4, 2);
}

class Sort {
 public:
  Sort(Kestrim& k, char qual) : k_(k), io_(k.gx.io), qual_(qual) {}
  void run(const std::string& line);

 private:
  void say(const std::string& s) { kqsay(k_, s); }
  bool grid();
  void table(const std::string& stem);
  void edge(const std::string& stem);
  void radial(const std::string& stem);
  // Opens a text file that must not exist yet on unit 2.
  bool openNew(const std::string& name);

  Kestrim& k_;
  gx::Io& io_;
  char qual_;
  static constexpr int kUnit = 2;
  int n_ = kDefaultGrid;
  double z_ = 0.0, lo_ = 0.0, r_ = 0.0;
  std::vector<long long> cells_;   // n x n, cell (i, j) at (j - 1) * n + i - 1
  long long max_ = 0;
  long long& cell(int i, int j) { return cells_[static_cast<size_t>((j - 1) * n_ + (i - 1))]; }
};

bool Sort::openNew(const std::string& name) {
  if (!io_.open(kUnit, name, gx::OpenStatus::New, gx::Access::Write)) {
    say("?KQSORT - Unable to open " + name + " (it may exist already); nothing written.");
    return false;
  }
  return true;
}

void Sort::run(const std::string& line) {
  const std::string dashes(78, '-');
  say(dashes);
  say(std::string(20, ' ') + "Ray sorting options");
  say(dashes);

  std::string name = kqarg(line).substr(0, 30);
  if (kqblank(name)) name = k_.rayFile;
  if (kqblank(name)) {
    if (kqask(k_, "Output filename > ", name, 30) != gx::Reply::Ok || kqblank(name)) return;
  }
  name = kqstem(name) + ".agp";
  const size_t paren = name.find(')');
  if (paren != std::string::npos) name = name.substr(paren + 1);
  const std::string stem = name.substr(0, name.size() - 4);
  say(std::string(20, ' ') + "Output in file " + name);

  const bool withGrid = qual_ != 'C';
  if (withGrid) {
    if (!io_.open(kUnit, name, gx::OpenStatus::Replace, gx::Access::Write)) {
      say("?KQSORT - Unable to open " + name + io_.reason());
      say("");
      say("");
      return;
    }
    double a = 0.0;
    if (gx::gxaskupdate(k_.gx, k_.io.in, k_.io.out, k_.io.macro,
                        "Size of grid (NxN) (CR for N=25) > ", a) != gx::Reply::Ok) {
      io_.close(kUnit, false);
      return;
    }
    if (a != 0.0) n_ = static_cast<int>(std::trunc(std::clamp(a + 0.5, -1e9, 1e9)));
    if (n_ > kMaxGrid) {
      n_ = kMaxGrid;
      say("Index too big, grid set to " + std::to_string(n_) + "x" + std::to_string(n_));
    } else if (n_ < 1) {
      n_ = 1;
      say("Index too small, grid set to 1x1");
    }
    cells_.assign(static_cast<size_t>(n_ * n_), 0);
  }

  double ximg = 0.0, yimg = 0.0;
  kqimage(k_, ximg, yimg, true);
  say("X image = " + g13(1e6 * ximg) + " um Y image = " + g13(1e6 * yimg) + " um");
  double a = 0.0;
  if (gx::gxaskupdate(k_.gx, k_.io.in, k_.io.out, k_.io.macro,
                      "Image distance (micron) (CR for 0) > ", a) != gx::Reply::Ok) {
    if (withGrid) io_.close(kUnit, false);
    return;
  }
  z_ = a / 1e6;

  if (withGrid) {
    if (!grid()) {
      io_.close(kUnit, false);
      return;
    }
    if (!io_.close(kUnit)) {
      say("?KQSORT - Unable to write " + name);
      return;
    }
    if (qual_ == 'P') table(stem);
    if (qual_ == 'F') edge(stem);
    if (k_.graphDevice != ' ') {
      // Cell centres from lo to lo + r: the square's edges lie half a cell out.
      const double half = n_ > 1 ? r_ / (n_ - 1) / 2.0 : 0.0;
      kqgreymap(k_, "Intensity " + kqstrip(k_.rayFile), n_, lo_ - half, lo_ + r_ + half, cells_);
    }
  } else {
    radial(stem);
  }
}

bool Sort::grid() {
  // Extent at the plane: ray 1 and the beam rays.
  const Extent e = kqextent(k_, z_, 1, true);
  double xmin = e.xmin, xmax = e.xmax, ymin = e.ymin, ymax = e.ymax;
  say("Xmax = " + g13(xmax) + " X min = " + g13(xmin));
  say("Ymax = " + g13(ymax) + " Y min = " + g13(ymin));
  say("");
  if (!((xmax - xmin) * (ymax - ymin) != 0.0) || !std::isfinite((xmax - xmin) * (ymax - ymin))) {
    say("?KQSORT - Zero range.");
    return false;
  }
  const double lo = std::min(xmin, ymin), hi = std::max(xmax, ymax), range = hi - lo;
  lo_ = lo - kMargin * range;
  r_ = kWiden * range;
  double a = 1e6 * r_;
  if (gx::gxaskupdate(k_.gx, k_.io.in, k_.io.out, k_.io.macro,
                      "Range = " + g12(1e6 * r_) + "micron, required range (micron) > ", a) !=
      gx::Reply::Ok)
    return false;
  // Any answer, the offered one too, centres the square on the axis.
  if (a != 0.0) {
    r_ = std::fabs(a) / 1e6;
    lo_ = -r_ / 2.0;
  }
  say("Using a maximum range of " + g12(1e6 * r_) + " micron");
  say("Rmin " + g12(1e6 * lo_) + " micron.");

  // Cell centres lie on a grid whose outer points are the square's edges;
  // a single cell is the whole square.
  const double hiEdge = lo_ + r_;
  kqeach(k_, 3, [&](int, double x, double th, double y, double ph, double) {
    const double X = x + z_ * th, Y = y + z_ * ph;
    int i = 1, j = 1;
    if (std::isnan(X) || std::isnan(Y)) return;   // a NaN ray lies in no cell
    if (n_ == 1) {
      if (X < lo_ || X > hiEdge || Y < lo_ || Y > hiEdge) return;
    } else {
      // Far outside the square the nearest index saturates: count in 64 bits.
      const long long ii = gx::gxnint((n_ - 1) * (X - lo_) / r_) + 1LL;
      const long long jj = gx::gxnint((n_ - 1) * (Y - lo_) / r_) + 1LL;
      if (ii < 1 || ii > n_ || jj < 1 || jj > n_) return;
      i = static_cast<int>(ii);
      j = static_cast<int>(jj);
    }
    max_ = std::max(max_, ++cell(i, j));
  });

  io_.write(kUnit, " " + kqtrim(k_.caption));
  io_.write(kUnit, " X (^gg^rm)");
  io_.write(kUnit, " Y (^gg^rm)");
  const double step = n_ > 1 ? r_ / (n_ - 1) : 0.0;
  const double off = n_ > 1 ? lo_ : lo_ + r_ / 2.0;
  for (int j = 1; j <= n_; ++j)
    for (int i = 1; i <= n_; ++i)
      io_.write(kUnit, " " + g12(((i - 1) * step + off) * 1e6) + "," +
                           g12(((j - 1) * step + off) * 1e6) + "," + kqcount(cell(i, j), 5));
  return true;
}

void Sort::table(const std::string& stem) {
  say("Writing a percentage file.");
  std::string reply;
  if (kqask(k_, "Percent of Total or Maximum > ", reply, 40) != gx::Reply::Ok) return;
  const std::string r = kqstrip(reply);
  const bool ofMax = !r.empty() && std::toupper(static_cast<unsigned char>(r[0])) == 'M';
  const long long t = ofMax ? max_ : k_.ntot;
  const std::string name = stem + ".lpt";
  if (!openNew(name)) return;
  say("Output in file " + name);
  std::string rec = kqcount(t, 4) + "- ";
  for (int i = 1; i <= n_; ++i) rec += kqcount(i, 4) + " ";
  io_.write(kUnit, rec);
  for (int j = 1; j <= n_; ++j) {
    rec = kqcount(j, 4) + "- ";
    for (int i = 1; i <= n_; ++i)
      rec += percent(t > 0 ? 100.0 * static_cast<double>(cell(i, j)) / static_cast<double>(t) : 0.0) +
             " ";
    io_.write(kUnit, rec);
  }
  io_.write(kUnit, "");
  io_.write(kUnit, "Data expressed as a percentage of " + kqcount(t, 10) + " counts.");
  io_.write(kUnit, ofMax ? "This is the highest count in a channel."
                         : "This is the total number of counts.");
  io_.write(kUnit, "Image distance = " + g12(1e6 * z_) + " micron.      " + " Sort region = " +
                       g12(1e6 * r_) + " square microns.");
  io_.write(kUnit, "");
  if (!io_.close(kUnit)) say("?KQSORT - Unable to write " + name);
}

void Sort::edge(const std::string& stem) {
  say("Writing an edge scan file.");
  const std::string name = stem + ".FIT";
  if (!openNew(name)) return;
  say("Output in file " + name);
  for (const std::string& h : {"Edge scan " + stem, std::string("Channel"),
                               std::string("Number of counts"), std::string("12,1"),
                               std::string("0"), std::string("0"), std::string("0")})
    io_.write(kUnit, " " + h);
  long long e = 0;
  for (int i = 1; i <= n_; ++i) {
    for (int j = 1; j <= n_; ++j) e += cell(i, j);
    io_.write(kUnit, " " + kqcount(i, 2) + "," + kqcount(e, 9) + "," +
                         g13(std::sqrt(static_cast<double>(e))));
  }
  if (!io_.close(kUnit)) say("?KQSORT - Unable to write " + name);
}

void Sort::radial(const std::string& stem) {
  say("Writing a count file.");
  double a = 0.0;
  if (gx::gxaskupdate(k_.gx, k_.io.in, k_.io.out, k_.io.macro,
                      "Step size along radius (def=1micron), micron > ", a) != gx::Reply::Ok)
    return;
  const double dr = a != 0.0 ? std::fabs(a) * kMicron : kMicron;
  std::vector<long long> hist(kAnnuli + 1, 0);
  const std::string name = stem + ".fit";
  if (!openNew(name)) return;
  say("Output in file " + name);
  long long last = 0;
  kqeach(k_, 1, [&](int, double x, double th, double y, double ph, double) {
    const double X = x + z_ * th, Y = y + z_ * ph;
    const double r = std::sqrt(X * X + Y * Y) / dr;
    const double kk = 1.0 + std::floor(r);
    last = kk < 2147483647.0 ? static_cast<long long>(kk) : 2147483647LL;
    if (kk <= kAnnuli)
      ++hist[static_cast<size_t>(kk)];
    else
      say("Radius out of range, I = " + kqcount(last, 10) + " r = " + g13(r));
  });
  k_.ireg[1] = static_cast<int>(last);
  std::string reply;
  if (kqask(k_, "Intensity or Counts along Y ? (Def. I) > ", reply, 40) != gx::Reply::Ok) {
    io_.close(kUnit, false);
    return;
  }
  const std::string r = kqstrip(reply);
  const bool counts = !r.empty() && std::toupper(static_cast<unsigned char>(r[0])) == 'C';
  if (counts) {
    for (const char* h : {" Counts as a function of radius", " Radius (^Gg^Rm)", " Counts", " 12,1",
                          " 0", " 0", " 0"})
      io_.write(kUnit, h);
  } else {
    for (const char* h : {" Intensity as a function of radius.", " Radius (^Gg^Rm)",
                          " Intensity (Counts/^Gg^Rm^U2^R)", " 12,1", " 0", " 0", " 0"})
      io_.write(kUnit, h);
  }
  const double drum = dr * 1e6;
  for (int kk = 1; kk <= kAnnuli; ++kk) {
    const long long c = hist[static_cast<size_t>(kk)];
    if (c == 0) continue;
    const double rbar = (kk - 0.5) * drum;
    const double cd = static_cast<double>(c);
    if (counts) {
      io_.write(kUnit, " " + g13(rbar) + "," + kqcount(c, 5) + "," + g13(std::sqrt(cd)));
      continue;
    }
    const double r0 = (kk - 1) * drum, r1 = kk * drum;
    const double area = kPi * (r1 * r1 - r0 * r0);
    if (!(area > 0.0)) {
      say("Bad area at annulus " + std::to_string(kk));
      continue;
    }
    io_.write(kUnit, " " + g13(rbar) + "," + g13(cd / area) + "," + g13(std::sqrt(cd) / area));
  }
  if (!io_.close(kUnit)) say("?KQSORT - Unable to write " + name);
}

}  // namespace

void kqsort(Kestrim& k, KqLine& cmd) {
  std::string line = cmd.typed();
  const char qual = cmd.qual;
  Sort s(k, qual);
  s.run(line);
}

}  // namespace kestrim
