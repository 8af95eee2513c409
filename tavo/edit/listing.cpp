// The final listing: the lens system and its evaluation at the diagnostic
// level in effect, written to the listing file named after the system file.
#include "gxlib/fortran/fortio.h"
#include "tavo/design/design.h"
#include "tavo/edit/edit.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/talk.h"
#include "tavo/system/system.h"

namespace tavo {

void finalListing(Tavo& s) {
  auto& io = s.gx.io;
  const int terminal = s.inout.term;
  std::string file(gx::trimRight(s.file));
  while (!file.empty() && file[0] == ' ') file.erase(0, 1);
  std::string name = file + ".lpt";
  int unit = s.inout.lst;
  // An existing listing is never overwritten.
  if (file.empty() || !io.open(unit, name, gx::OpenStatus::New, gx::Access::Write)) {
    say(s, "Unable to open " + name + " for output.");
    unit = terminal;
    name = "CONSOLE";
  }
  say(s, "Output data in file " + name);

  // Everything the evaluation prints goes into the listing.
  s.inout.term = unit;
  const std::string sysName = file.find('.') == std::string::npos ? file + ".tav" : file;
  say(s, std::string(gx::trimRight(s.title)) + "    file " + sysName);
  // Up to the system end also straight after a load, when the element
  // count still stands one row before it.
  int last = s.syspa;
  for (int r = 3; r <= kRows; ++r)
    if (rawCode(s, r) == 9) {
      last = r;
      break;
    }
  for (int r = 1; r <= last && r <= kRows; ++r) {
    for (int c = 2; c <= 5; ++c) s.bdata(2, c + 5) = s.bdata(2, c);
    printElement(s, r, 4);
  }
  say(s, "");
  say(s, gx::fX(7) + "TOTAL LENGTH = " + gx::fF(totalLength(s), 10, 5));
  say(s, "Diagnostic set to " + gx::fI(gx::gxnint(s.bdata(1, 5)), 2));
  Mat4 a;
  stigmat(s, 3, a);
  geom(s, s.syspa, a);
  if (s.nlens.nquad < 5) {
    double p = 0.0, sc = 0.0, pb = 0.0, sb = 0.0;
    fishk(s, p, sc, pb, sb);
  }
  s.inout.term = terminal;
  if (unit != terminal && !io.close(unit))
    say(s, "?TAVO- The listing " + name + " could not be written.");
}

}  // namespace tavo
