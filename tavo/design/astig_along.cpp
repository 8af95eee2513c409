// The astigmatism of the partial system along z, written as (z, a) pairs.
// a(z) is the distance between the x and the y image of the axial object
// point formed by the system truncated at z: the x image lies
// -A(1,2)/A(2,2) behind z and the y image -A(3,4)/A(4,4), so
// a(z) = A(3,4)/A(4,4) - A(1,2)/A(2,2) (m); zero where the partial system
// is stigmatic, and its sign tells which image comes first.
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/design/design.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"
#include "tavo/talk.h"

namespace tavo {

namespace {

constexpr double kTiny = static_cast<double>(1.0e-20f);

double nonzero(double v) { return v == 0.0 ? kTiny : v; }

}  // namespace

void astigmatismAlong(Tavo& s, double z0, double z1, double steps, int unit) {
  auto& io = s.gx.io;
  Mat4 full;
  stigmat(s, 1, full);
  const double zlen = s.syspb.totlen;
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
    truncatedSystem(s, 1, z, dz, iz, a, ray);
    const double astig = a(3, 4) / nonzero(a(4, 4)) - a(1, 2) / nonzero(a(2, 2));
    io.write(unit, " " + gx::fG(z, 13, 5, 1) + "," + gx::fG(astig, 13, 5, 1));
  }
  // The file gets its name when it is closed: a full disk or a size limit
  // shows there, and the old file then stays.
  const std::string name = io.nameOf(unit);
  if (!io.close(unit)) say(s, "?SPEC- Unable to write " + name + io.reason() + "; not written.");
}

}  // namespace tavo
