// DIAG: the diagnostic level of the evaluation.
#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace tavo {

void cmdDiag(Tavo& s, Command& c) {
  int n = gx::gxnint(c.value);
  if (n != 0) {
    s.bdata(1, 5) = n;
    s.idiag = n;
    say(s, "Diagnostic set to " + gx::fI(n, 3));
  } else {
    std::string reply;
    long long v = 0;
    if (askUntil(s, "Current diagnostic is " + gx::fI(s.idiag, 3) + " > ", reply, 80,
                 [&](const std::string& r) {
                   return gx::readInt(std::string_view(gx::pad(r, 3)), v);
                 }) == gx::Reply::End)
      return;
    n = static_cast<int>(v);
    if (n != 0) {
      s.bdata(1, 5) = n;
      s.idiag = n;
    }
  }
  // The thin-lens level works on a fresh evaluation; there is nothing to
  // evaluate before a system is loaded.
  if (s.idiag == -6 && s.syspa >= 1) {
    Mat4 a;
    stigmat(s, 1, a);
  }
}

}  // namespace tavo
