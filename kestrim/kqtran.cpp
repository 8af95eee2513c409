// TRANS: the current ray set, taken as rays at the object, passed once more
// through a set of aberration coefficients; the rays that get through the
// aperture form a new ray set.
#include <string>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

void kqtran(Kestrim& k, KqLine& cmd) {
  std::string line = cmd.typed();
  gx::Io& io = k.gx.io;
  const std::string dashes(78, '-');
  kqsay(k, dashes);
  kqsay(k, std::string(20, ' ') + "Transfer the present rayset with a power series");
  kqsay(k, dashes);
  kqsay(k, "");

  std::string name = kqarg(line).substr(0, 30);
  if (kqblank(name)) {
    if (kqask(k, "Filename for aberration coefficients > ", name, 30) != gx::Reply::Ok) return;
    if (kqblank(name)) return;
  }
  // The output set is named after the coefficient file as typed: its stem
  // gets the ray-set extension, never the coefficient file's own.
  std::string out = gx::pad("A" + kqstem(name), 30).substr(0, 30);
  kqsay(k, "");
  kqsay(k, "<<< Obtain aberration coefficients and system parameters >>>");
  kqsay(k, "");
  int echo = 0, status = 1;
  cofmod(k, k.io.in, k.io.out, echo, name, ' ', status);
  if (status != 0) {
    kqsay(k, "Error getting coefficients");
    return;
  }

  std::string outName = gx::pad(out, 100);
  int ierr = 1;
  kqio(k, 'A', outName, ierr);
  if (ierr != 0) {
    kqsay(k, "Unable to open output file " + kqstrip(outName));
    return;
  }

  io.prompt(std::string(15, ' ') + "*");
  int stars = 1;
  long long written = 0;
  bool failed = false;
  kqeach(k, 1, [&](long long j, double x, double th, double y, double ph, double de) {
    if (failed) return;
    if (j % 100 == 0) {
      if (stars == 50) {
        io.prompt(std::string(15, ' ') + "*");
        stars = 1;
      } else {
        io.raw("*");
        ++stars;
      }
    }
    if (cofcheck(k, x, th, y, ph) != 0) return;
    double xo, tho, yo, pho;
    coftran(k, x, th, y, ph, de, xo, tho, yo, pho);
    if (!kqrays(k, 'A', 0, xo, tho, yo, pho, de)) {
      failed = true;
      return;
    }
    ++written;
  });
  if (failed) {
    // A set that could not be written in full is not kept.
    io.close(k.rays.unitA, false);
    kqsay(k, "?KQTRAN- " + kqstrip(outName) + " not written.");
    return;
  }
  kqioend(k, 'A');
  k.ntot = written;
  kqsay(k, kqcount(written, 6) + " rays passed through to end of system.");
}

}  // namespace kestrim
