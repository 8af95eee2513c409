// SHADOW: the current ray set passed through a fine square-mesh grid; the
// rays that get through form a new ray set, whose map at a shadow plane
// shows the grid's shadow pattern.
#include <cctype>
#include <cmath>
#include <string>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

namespace {

constexpr double kPeriod = static_cast<double>(12.7f);     // micron
constexpr double kBar = static_cast<double>(6.35f);        // micron
constexpr double kTwoPi = static_cast<double>(6.2831855f);
constexpr double kMicron = 1e-6;

std::string g13(double v) { return gx::fG(v, 13, 5, 1); }

// A ray, folded into one grid cell, lies in a hole: bar at the origin, the
// hole runs from b1 to b2 on each axis; hole at the origin, the hole is
// [0, H/2] and [P - H/2, P].
bool passes(double x, double y, bool barAtOrigin, double b1, double b2, double h, double p) {
  if (barAtOrigin) return b1 <= x && x <= b2 && b1 <= y && y <= b2;
  auto open = [&](double v) { return (v >= 0.0 && v <= h / 2.0) || (v >= p - h / 2.0 && v <= p); };
  return open(x) && open(y);
}

// The grid: its plane (m from the reference plane), hole or bar at the
// origin, period, bar width (micron) and rotation (degrees).
struct Grid {
  double z = 0.0;
  bool bar = false;
  double period = 0.0, width = 0.0, alpha = 0.0;
};

// Opens the output ray set named by the argument, or asked for, on the
// append channel; false when there is none.
bool openOutput(Kestrim& k, const std::string& line, std::string& name) {
  name = kqarg(line).substr(0, 30);
  if (kqblank(name)) {
    const std::string cur = kqstem(k.rayFile);
    const std::string def = cur.empty() ? std::string("shadow.bin") : cur + "s.bin";
    std::string reply;
    if (kqask(k, "Filename for output rayset (CR for " + def + ") > ", reply, 30) != gx::Reply::Ok)
      return false;
    name = kqblank(reply) ? def : reply;
  }
  name = kqstrip(name);
  if (!kqhasdot(name)) {
    if (name.find(' ') == std::string::npos && name.size() > 26) {
      kqsay(k, "?KQGRID - Name too long for a ray set: " + name);
      return false;
    }
    name = kqfirstword(name) + ".bin";
  }
  std::string outName = gx::pad(name, 100);
  int ierr = 1;
  kqio(k, 'A', outName, ierr);
  if (ierr != 0) {
    kqsay(k, "?KQGRID - Unable to open " + name + ".");
    kqsay(k, "");
    return false;
  }
  return true;
}

// The plane of the grid, shown against the image planes.
bool askPlane(Kestrim& k, Grid& g) {
  double ximg = 0.0, yimg = 0.0;
  kqimage(k, ximg, yimg, false);
  kqsay(k, "");
  kqsay(k, "     X Image = " + g13(1e6 * ximg) + " um");
  kqsay(k, "     Y Image = " + g13(1e6 * yimg) + " um");
  double a = 0.0;
  if (gx::gxaskupdate(k.gx, k.io.in, k.io.out, k.io.macro, " Plane for grid (micron, CR for 0) > ",
                      a) != gx::Reply::Ok)
    return false;
  g.z = a / 1e6;
  return true;
}

bool askOrigin(Kestrim& k, Grid& g) {
  for (;;) {
    std::string reply;
    if (kqask(k, "          Hole or Bar at origin? (CR for Hole) > ", reply, 40) != gx::Reply::Ok)
      return false;
    const std::string r = kqstrip(reply);
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(r.empty() ? 'H' : r[0])));
    if (c == 'H' || c == 'B') {
      g.bar = c == 'B';
      break;
    }
    kqsay(k, "B   Bar at origin");
    kqsay(k, "H   Hole at origin");
  }
  return true;
}

bool askSpacing(Kestrim& k, Grid& g) {
  if (gx::gxaskupdate(k.gx, k.io.in, k.io.out, k.io.macro,
                      "          Period of grid (micron, CR for 12.7) > ", g.period) != gx::Reply::Ok)
    return false;
  if (g.period <= 1e-10) g.period = kPeriod;
  if (gx::gxaskupdate(k.gx, k.io.in, k.io.out, k.io.macro,
                      "          Bar full width (micron, CR for 6.35) > ", g.width) != gx::Reply::Ok)
    return false;
  if (g.width <= 1e-10) g.width = kBar;
  if (gx::gxaskupdate(k.gx, k.io.in, k.io.out, k.io.macro,
                      "        Rotation of grid (degrees, CR for 0.0) > ", g.alpha) != gx::Reply::Ok)
    return false;
  if (std::fabs(g.alpha) <= 1e-10) g.alpha = 0.0;
  return true;
}

// The grid as it will be used, and the go-ahead.
bool confirm(Kestrim& k, const Grid& g) {
  kqsay(k, "Grid specifications;");
  kqsay(k, "         Period  " + g13(g.period) + " um");
  kqsay(k, " Bar full width  " + g13(g.width) + " um");
  kqsay(k, "Hole full width  " + g13(g.period - g.width) + " um");
  kqsay(k, "       Position  " + g13(g.z) + " m ");
  kqsay(k, "    Orientation  " + gx::fF(g.alpha, 10, 5) + " deg");
  kqsay(k, g.bar ? "Grid bar centred at origin." : "Grid hole centred at origin.");
  kqsay(k, "");
  {
    std::string reply;
    if (kqask(k, std::string(18, ' ') + "Proceed? > ", reply, 40) != gx::Reply::Ok)
      return false;
    const std::string r = kqstrip(reply);
    if (!r.empty() && (r[0] == 'N' || r[0] == 'n')) return false;
  }
  return true;
}

// Writes the paraxial pair and the rays that pass the grid to the append
// channel, counting the passed ones; false when a write failed.
bool passRays(Kestrim& k, const Grid& g, long long ntot, long long& count) {
  gx::Io& io = k.gx.io;
  const double p = g.period * kMicron, w = g.width * kMicron, h = p - w;
  const double b1 = w / 2.0, b2 = h + w / 2.0;
  const double ang = -kTwoPi * g.alpha / 360.0;
  const double ca = std::cos(ang), sa = std::sin(ang);

  // A ruler of 60 marks for the progress stars.
  kqsay(k, std::string(60, '_'));
  io.prompt("");
  const long long every = ntot / 60;

  // The paraxial pair goes ahead of the passed rays, so that the new set
  // has its own image planes for the maps and sorts made of it.
  bool failed = false;
  kqeach(k, 1, [&](long long n, double x, double th, double y, double ph, double de) {
    if (failed) return;
    if (every > 0 && n % every == 0) io.raw("*");
    if (n <= 2) {
      if (!kqrays(k, 'A', 0, x, th, y, ph, de)) failed = true;
      return;
    }
    double X = x + g.z * th, Y = y + g.z * ph;
    if (std::fabs(ang) > 1e-10) {
      const double xr = X * ca - Y * sa, yr = X * sa + Y * ca;
      X = xr;
      Y = yr;
    }
    X = std::fabs(X);
    Y = std::fabs(Y);
    if (X != 0.0) X = std::fmod(X, p);
    if (Y != 0.0) Y = std::fmod(Y, p);
    if (!passes(X, Y, g.bar, b1, b2, h, p)) return;
    if (!kqrays(k, 'A', 0, x, th, y, ph, de)) {
      failed = true;
      return;
    }
    ++count;
  });
  return !failed;
}

}  // namespace

void kqgrid(Kestrim& k, KqLine& cmd) {
  gx::Io& io = k.gx.io;
  const long long ntot = k.ntot;   // the set as it was when SHADOW began
  std::string name;
  if (!openOutput(k, cmd.typed(), name)) return;
  const int unit = k.rays.unitA;
  // Leaving before the rays are written leaves no file behind.
  auto abandon = [&]() { io.close(unit, false); };

  try {
    Grid g;
    if (!askPlane(k, g) || !askOrigin(k, g) || !askSpacing(k, g) || !confirm(k, g))
      return abandon();
    long long count = 0;
    if (!passRays(k, g, ntot, count)) {
      abandon();
      kqsay(k, "?KQGRID - " + name + " not written.");
      return;
    }
    kqsay(k, "");
    kqsay(k, "");
    kqsay(k, "Of " + kqcount(ntot, 6) + " rays processed, " + kqcount(count, 6) +
                 " passed through the grid.");
    kqsay(k, "The output rayset is in file " + name + ".");
    kqsay(k, "");
    kqioend(k, 'A');
  } catch (const gx::EndOfInput&) {
    // The terminal ended in the middle: the set is not kept.
    abandon();
    throw;
  }
}

}  // namespace kestrim
