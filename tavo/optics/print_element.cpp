// One row of the element table in a listing.
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

namespace tavo {

void printElement(Tavo& s, int row, int ncol, int unit) {
  auto& io = s.gx.io;
  if (unit <= 0) unit = s.inout.term;
  io.write(unit, " ");
  int raw = rawCode(s, row);
  if (row == 2) {
    // The working beam vector in micron and milliradian.
    std::string r = " " + kindName(1);
    const char* unitName[4] = {" UM  ", " MR  ", " UM  ", " MR  "};
    for (int k = 0; k < 4; ++k) {
      double scale = (k % 2 == 0) ? 1e6 : 1e3;
      r += gx::fG(s.bdata(2, k + 7) * scale, 13, 5) + unitName[k];
    }
    io.write(unit, r);
    return;
  }
  if (ncol > 10) ncol = 10;
  if (raw == 3 && row != 1) {
    ncol = 2;
  } else if (ncol <= 0) {
    ncol = 1;
    for (int c = 2; c <= 10; ++c)
      if (s.bdata(row, c) != 0.0) ncol = c;
  }
  std::string name = row == 1 ? kindName(12) : kindName(decodeType(s, s.bdata(row, 1)).kind);
  std::string r = "   " + gx::fI(row, 2) + " " + gx::pad(name, 10) + gx::fF(s.bdata(row, 1), 5, 2);
  for (int c = 2; c <= ncol; ++c) r += gx::fG(s.bdata(row, c), 11, 4, 1);
  io.write(unit, r);
}

}  // namespace tavo
