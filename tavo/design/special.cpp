// SPEC: the astigmatism of the partial system along z, written as (z, a)
// pairs. a(z) is the distance between the x and the y image of the axial
// object point formed by the system truncated at z: the x image lies
// -A(1,2)/A(2,2) behind z and the y image -A(3,4)/A(4,4), so
// a(z) = A(3,4)/A(4,4) - A(1,2)/A(2,2) (m); zero where the partial system
// is stigmatic, and its sign tells which image comes first.
#include <cmath>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/design/design.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

namespace {

constexpr double kTiny = static_cast<double>(1.0e-20f);

double nonzero(double v) { return v == 0.0 ? kTiny : v; }

bool readReals(const std::string& reply, double* v, int n) {
  gx::ListScanner sc(n);
  if (!sc.add(reply)) return false;
  if (static_cast<int>(sc.items().size()) < n) return false;
  for (int i = 0; i < n; ++i) {
    const gx::ListItem& it = sc.items()[i];
    if (it.null) continue;
    double x;
    if (!gx::listReal(it.text, x) || !std::isfinite(x)) return false;
    v[i] = x;
  }
  return true;
}

std::string trim(const std::string& t) {
  const size_t b = t.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  const size_t e = t.find_last_not_of(" \t");
  return t.substr(b, e - b + 1);
}

}  // namespace

void special(Tavo& s, const std::string& line) {
  auto& io = s.gx.io;
  const int unit = 20;
  say(s, "Generate a file of (Z, Astig) ordered pairs.");
  say(s, "");
  std::string name = trim(gx::pad(line.size() > 7 ? line.substr(7) : std::string(), 13));
  for (;;) {
    if (name.empty()) {
      std::string reply;
      if (ask(s, "Filename for output > ", reply, 30) != gx::Reply::Ok) return;
      name = trim(reply);
      if (name.empty()) return;
    }
    if (io.isOpen(unit)) io.close(unit);
    if (io.open(unit, name, gx::OpenStatus::New, gx::Access::Write)) break;
    say(s, "Unable to open " + name + (gx::Io::exists(name) ? " (it exists)" : io.reason()));
    // In a macro the next lines are its commands, not another name.
    if (s.inout.cmd != gx::Io::kIn) return;
    name.clear();
  }
  double v[3] = {0.0, 0.0, 0.0};
  std::string reply;
  if (askUntil(s, "Z initial, Z final, Number of steps  > ", reply, 0, [&](const std::string& r) {
        return readReals(r, v, 3);
      }) == gx::Reply::End) {
    io.close(unit, false);
    return;
  }
  Mat4 full;
  stigmat(s, 1, full);
  const double zlen = s.syspb.totlen;
  double z0 = v[0], z1 = v[1], steps = v[2];
  if (z1 <= z0) z1 = zlen;
  if (z1 > zlen) z1 = zlen;
  if (z1 < z0) z0 = 0.0;
  // A step count that is not a positive number gives one step over the range.
  if (!(steps >= 1.0)) steps = 1.0;
  if (steps > 100000.0) steps = 100000.0;
  const double dz = (z1 - z0) / steps;
  const long long npts = dz > 0.0 ? static_cast<long long>(std::floor((z1 - z0) / dz + 1e-9)) + 1 : 1;
  for (int k = 0; k < 4; ++k) s.trace.ray[k] = s.bdata(2, k + 2);
  for (long long i = 0; i < npts; ++i) {
    const double z = z0 + static_cast<double>(i) * dz;
    int iz;
    Mat4 a;
    double ray[4];
    bupdate(s, 1, z, dz, iz, a, ray);
    const double astig = a(3, 4) / nonzero(a(4, 4)) - a(1, 2) / nonzero(a(2, 2));
    io.write(unit, " " + gx::fG(z, 13, 5, 1) + "," + gx::fG(astig, 13, 5, 1));
  }
  // The file stays on the listing unit until another command closes it;
  // its contents are flushed to the name now.
  io.close(unit);
}

}  // namespace tavo

namespace tavo {

void cmdSpec(Tavo& s, Command& c) {
  if (s.syspa < 3) {
    say(s, "No lens system loaded: type DATA first.");
    return;
  }
  // The name as typed: the decoder would rewrite a name that starts like a number.
  special(s, c.line.substr(0, 7) + gx::pad(c.typedArg(), 33));
}

}  // namespace tavo
