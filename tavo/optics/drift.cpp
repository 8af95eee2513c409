// Field-free drift.
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

}  // namespace tavo
