// Second- and third-order aberrations and the coefficient file.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "tavo/series/damap.h"
#include "tavo/state.h"

namespace tavo {

void zero(Third& t);
// Element's own third-order coefficients (cleared first).
void third(Tavo& s, int i, Third& t);
void qspher(Tavo& s, int i, Third& t);
void supra(double k, double ux, double uy, double K, double L,
           double& ax, double& bx, double& ay, double& by);
// Adds T, referred to the system object, to S.
void addReferredToObject(Tavo& s, int i, const Third& t, Third& sv);

// Element's 14x14 second-order matrix.
void second(Tavo& s, int i, const Mat4& m, Mat14& sm);
void bsqsub(const Mat4& m, Mat14& sm);
inline double kronecker(int i, int j) { return i == j ? 1.0 : 0.0; }

// Third-order coefficient printing (diagnostic levels 8 and 9), mode 1..4.
void printThird(Tavo& s, int mode, const Third& t);


}  // namespace tavo
