// P: the fields of the coupled lenses, one coupling code at a time.
#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/model/model.h"

namespace tavo {

void cmdP(Tavo& s, Command&) {
  couple(s);
  if (s.blk1.nv == 0) {
    say(s, "No variable first order elements.");
    return;
  }
  for (int n = 1; n <= s.blk1.nv; ++n) {
    const std::string text = " Lenses with coupling code " + gx::fI(n, 2) + " have fields " +
                             gx::fG(s.blk1.x[n], 12, 5, 1) + " new > ";
    if (gx::gxaskupdate(s.gx, s.inout.cmd, s.inout.term, s.imacr, text, s.blk1.x[n]) ==
        gx::Reply::End)
      return;  // abandoned: the table is not touched
  }
  reload(s);
}

}  // namespace tavo
