// MAXIMA: the largest excursion of the beam in a plane.
#include <algorithm>
#include <cmath>
#include <string>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

namespace {

constexpr double kWiden = static_cast<double>(1.05f);

std::string g13(double v) { return gx::fG(v, 13, 5, 1); }

}  // namespace

void kqmaxima(Kestrim& k, KqLine& cmd) {
  std::string line = cmd.typed();
  const char qual = cmd.qual;
  const double value = cmd.value;
  if (k.ntot < 1) {
    kqsay(k, "No data!");
    return;
  }
  double ximg = 0.0, yimg = 0.0;
  kqimage(k, ximg, yimg, false);
  const std::string arg = kqarg(line);
  double a = kqregvalue(k, arg, value);
  if (value == 0.0 && arg.compare(0, 2, "  ") == 0) {
    kqsay(k, "Find the maximum extent in a particular plane");
    kqsay(k, "X focus = " + g13(1e6 * ximg) + "um");
    kqsay(k, "Y focus = " + g13(1e6 * yimg) + "um");
    a = 0.0;
    if (gx::gxaskupdate(k.gx, k.io.in, k.io.out, k.io.macro, "Z plane for maximum extent (um) > ",
                        a) != gx::Reply::Ok)
      return;
  }
  // The plane is measured from the X image plane, as MAP/I measures it, so
  // MAXIMA/0 and MAP/I with the same offset size and draw one map.
  const double z = ximg + a / 1e6;
  double m = 0.0;
  kqeach(k, 3, [&](int, double x, double th, double y, double ph, double) {
    m = std::max({m, std::fabs(x + z * th), std::fabs(y + z * ph)});
  });
  const double e = kWiden * m * 1e6;
  if (qual >= '0' && qual <= '9') k.areg[static_cast<size_t>(qual - '0')] = e;
  kqsay(k, "At Z = " + g13(a) + "um from X image plane the max. extent is " + g13(e) + " um");
}

}  // namespace kestrim
