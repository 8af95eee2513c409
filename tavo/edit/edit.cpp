// Changing the element table row by row. An element's rotation,
// displacement and link belong to it and move with its row.
#include "tavo/edit/edit.h"
#include "tavo/model/model.h"

namespace tavo {

void copyRow(Tavo& s, int to, int from) {
  for (int c = 1; c <= kCols; ++c) s.bdata(to, c) = s.bdata(from, c);
  s.rotat[to] = s.rotat[from];
  s.displ[to] = s.displ[from];
  s.coupl[to] = s.coupl[from];
}

void clearRow(Tavo& s, int row) {
  for (int c = 1; c <= kCols; ++c) s.bdata(row, c) = 0.0;
  s.rotat[row] = 0.0;
  s.displ[row] = {0.0, 0.0};
  s.coupl[row] = 0;
}

double totalLength(Tavo& s) {
  double z = 0.0;
  for (int i = 3; i <= kRows; ++i) {
    const int raw = rawCode(s, i);
    if (raw == 9) break;
    if (raw >= 20) continue;   // superimposed: no length of its own
    if (raw == 3) {
      z += s.bdata(i, 2);
    } else if (raw != 5 && raw != 0 && raw != 1) {
      z += raw == 13 ? 0.005 : s.bdata(i, 2);   // the gap lens has a fixed length
    }
  }
  return z;
}

void insertDrift(Tavo& s, int after) {
  const int count = s.syspa;
  for (int r = count; r > after; --r) copyRow(s, r + 1, r);
  clearRow(s, after + 1);
  s.bdata(after + 1, 1) = 3.0;
  s.syspa = count + 1;
}

void removeRow(Tavo& s, int row) {
  const int count = s.syspa;
  for (int r = row; r < count; ++r) copyRow(s, r, r + 1);
  clearRow(s, count);
  s.syspa = count - 1;
}

}  // namespace tavo
