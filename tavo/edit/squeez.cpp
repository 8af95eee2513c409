// SQUEEZ: adjacent drifts become one drift of their summed length.
#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/edit/edit.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

void cmdSqueez(Tavo& s, Command&) {
  if (s.syspa < 3) {
    say(s, "No lens system loaded: type DATA first.");
    return;
  }
  const int count = s.syspa;
  // Rows only move up, so the new list is built in place.
  int kept = 0;
  for (int r = 1; r <= count; ++r) {
    if (kept >= 3 && rawCode(s, r) == 3 && rawCode(s, kept) == 3) {
      s.bdata(kept, 2) += s.bdata(r, 2);
      continue;
    }
    ++kept;
    if (kept != r) copyRow(s, kept, r);
  }
  s.syspa = kept;
  Mat4 a;
  stigmat(s, 1, a);
  couple(s);
  if (s.syspa != count)
    say(s, "No. of elements changed by " + gx::fI(s.syspa - count, 2) + " to " +
               gx::fI(s.syspa, 2));
}

}  // namespace tavo
