// ELEMEN: one row of the element table edited at the terminal.
#include <cmath>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/edit/edit.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace tavo {

void cmdElemen(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  Mat4 a;
  stigmat(s, 1, a);
  const int count = s.syspa;
  int n = std::fabs(c.value) < 1e6 ? static_cast<int>(c.value) : 100000;
  if (n < 1 || n > count) {
    for (;;) {
      if (n != 0)
        say(s, "?TAVO - " + gx::fI(n, 3) + " is not a valid element number, max = " +
                   gx::fI(count, 2));
      std::string reply;
      if (ask(s, "Element number > ", reply, 2) != gx::Reply::Ok) return;
      long long v = 0;
      if (!gx::readInt(reply, v)) return;
      n = static_cast<int>(v);
      if (n >= 0 && n <= count) break;
    }
    if (n == 0) n = count - 1;
  }
  const double before = s.syspb.totlen;
  element(s, n);
  couple(s);
  stigmat(s, 1, a);
  if (s.syspb.totlen != before)
    say(s, "%System total length changed by " + gx::fG(s.syspb.totlen - before, 10, 3, 1) +
               " m.");
}

}  // namespace tavo
