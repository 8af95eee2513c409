// SQUEEZ: adjacent drifts become one drift of their summed length.
#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/edit/edit.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace tavo {

void cmdSqueez(Tavo& s, Command&) {
  if (!haveSystem(s)) return;
  const int count = s.syspa;
  squeez(s);
  Mat4 a;
  stigmat(s, 1, a);
  couple(s);
  if (s.syspa != count)
    say(s, "No. of elements changed by " + gx::fI(s.syspa - count, 2) + " to " +
               gx::fI(s.syspa, 2));
}

}  // namespace tavo
