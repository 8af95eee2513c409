// The system evaluation: the element table walked to the system end, the
// element matrices multiplied into the system matrix and the second- and
// third-order coefficients accumulated on the way; and what is computed by
// evaluating the whole system again (the chromatic coefficients).
#pragma once

#include "tavo/state.h"

namespace tavo {

// System evaluation. iord: 1, 2, 3, -3, -5 (see stigmat.cpp).
void stigmat(Tavo& s, int iord, Mat4& a);
// Chromatic coefficients: the system evaluated at an energy raised by dp
// percent (0 taken as 0.001).
void chroma(Tavo& s, double& dp);

}  // namespace tavo
