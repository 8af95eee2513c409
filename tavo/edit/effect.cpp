// The quadrupoles' lengths become effective lengths, the fringe
// fields taken as 0.55 bore radii at either end, taken from the drifts on
// either side.
#include "gxlib/fortran/fortio.h"
#include "tavo/edit/edit.h"
#include "tavo/model/model.h"
#include "tavo/talk.h"

namespace tavo {

void effectiveLengths(Tavo& s) {
  auto isDrift = [&](int r) { return gx::gxnint(s.bdata(r, 1)) == 3; };
  for (int i = 3; i <= s.syspa; ++i) {
    TypeCode tc = decodeType(s, s.bdata(i, 1));
    if (tc.kind != 4 || tc.superposed) continue;
    const double r = s.bdata(i, 4);
    const std::string pos = gx::fI(i, 2);
    s.bdata(i, 2) += 1.1 * r;
    say(s, "Quadrupole lens in position " + pos + " extended by " + gx::fG(1.1 * r, 12, 5, 1) +
               " m (1.1*[bore radius]).");
    // The lens ends where its superimposed multipoles end.
    int after = i + 1;
    while (after < s.syspa && rawCode(s, after) >= 20) ++after;
    const int prior = i - 1;
    if (prior >= 3 && isDrift(prior)) {
      s.bdata(prior, 2) -= 0.55 * r;
      if (s.bdata(prior, 2) < 0.0) {
        s.bdata(prior, 2) = 0.0;
        say(s, "Prior flanking drift of lens in position " + pos +
                   " not long enough, setting it to zero.");
      }
    } else {
      say(s, " No prior flanking drift on lens in position " + pos +
                 ", unable to accomodate effective length.");
    }
    if (after <= s.syspa && isDrift(after)) {
      s.bdata(after, 2) -= 0.55 * r;
      if (s.bdata(after, 2) < 0.0) {
        s.bdata(after, 2) = 0.0;
        say(s, "Following flanking drift of lens in position " + pos +
                   " not long enough, setting it to zero.");
      }
    } else {
      say(s, " No following flanking drift of lens in position " + pos +
                 ", unable to accomodate effective length.");
    }
  }
}

}  // namespace tavo
