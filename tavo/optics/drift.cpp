// Field-free drift.
#include <cmath>

#include "tavo/optics/optics.h"

namespace tavo {

void driftMatrix(Tavo& s, int i, Mat4& m) {
  m = Mat4::identity();
  m(1, 2) = s.bdata(i, 2);
  m(3, 4) = s.bdata(i, 2);
  // A drift forms no image: its lens parameters are cleared.
  for (int c = 5; c <= 12; ++c) s.bdata(i, c) = 0.0;
}

void drift(Tavo& s, int i, Mat4& m) { driftMatrix(s, i, m); }

bool axialFileRow(const Tavo& s, int i) {
  const double r = s.bdata(i, 4);
  return std::isfinite(r) && r <= -0.5 && r > -1e6;
}

void axialFileDrift(Tavo& s, int i, Mat4& m) {
  m = Mat4::identity();
  m(1, 2) = s.bdata(i, 2);
  m(3, 4) = s.bdata(i, 2);
  // The centre stays: the exact map places the field file by it.
  for (int c = 6; c <= 12; ++c) s.bdata(i, c) = 0.0;
}

}  // namespace tavo
