// Placeholder: replaced by the third-order aberrations.
#include "tavo/aber.h"

namespace tavo {
void zero(Vec20& t) { t.fill(0.0); }
void third(Tavo&, int, Vec20& t) { t.fill(0.0); }
void qspher(Tavo&, int, Vec20& t) { t.fill(0.0); }
void supra(double, double, double, double, double, double& ax, double& bx, double& ay, double& by) { ax = bx = ay = by = 0; }
void tadd(Tavo&, int, const Vec20&, Vec20&) {}
void second(Tavo&, int, const Mat4&, Mat14& sm) { sm = Mat14::identity(); }
void bsqsub(const Mat4&, Mat14&) {}
void rconv(Tavo&, int, const Vec20&, double c[2][10]) { for (int p = 0; p < 2; ++p) for (int j = 0; j < 10; ++j) c[p][j] = 0; }
void printThird(Tavo&, int, const Vec20&) {}
void cofout(Tavo&, const Mat4&, const std::string&) {}
}  // namespace tavo
