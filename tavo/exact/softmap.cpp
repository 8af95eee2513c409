// The soft-edged map of the system as it stands, which the fits and the
// correction of the fringe fields start from, and the numbers of their
// messages.
#include <cmath>
#include <string>
#include <vector>

#include "gxlib/fortran/fortio.h"
#include "tavo/exact/exact.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace tavo {

bool softSystemMap(Tavo& s, const da::Space& sp, std::vector<da::Poly>& map, std::string& why) {
  Mat4 a;
  stigmat(s, 1, a);
  Lattice lat;
  if (!buildLattice(s, lat, why)) return false;
  MapSettings set;
  set.model = EdgeModel::Soft;
  set.fringe = s.fringe;
  return systemMap(lat, set, sp, map, why);
}

bool convergedMap(const std::vector<da::Poly>& map, std::string& why) {
  for (const da::Poly& p : map)
    for (int m = 0; m < p.space().size(); ++m)
      if (!std::isfinite(p[m])) {
        why = "The integration did not converge (coefficients that are not finite numbers).";
        return false;
      }
  return true;
}

std::string exactNum(double v) {
  std::string t = gx::fG(v, 12, 5);
  const size_t b = t.find_first_not_of(' ');
  const size_t e = t.find_last_not_of(' ');
  return b == std::string::npos ? t : t.substr(b, e - b + 1);
}

}  // namespace tavo
