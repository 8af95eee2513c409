// Adjacent drifts become one drift of their summed length.
#include "tavo/edit/edit.h"
#include "tavo/model/model.h"

namespace tavo {

void squeez(Tavo& s) {
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
}

}  // namespace tavo
