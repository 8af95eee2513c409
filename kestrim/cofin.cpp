// Placeholder: replaced by the coefficient store.
#include "kestrim/kq.h"

namespace kestrim {
int cofin(Kestrim&, std::string&) { return 1; }
void cofmod(Kestrim&, int, int, int& echo, std::string&, char, int& status) { echo = 0; status = 1; }
void cofout(Kestrim&, std::string) {}
int cofcheck(const Kestrim&, double, double, double, double) { return 1; }
void coftran(const Kestrim&, double x, double th, double y, double ph, double, double& xo, double& tho, double& yo, double& pho) { xo = x; tho = th; yo = y; pho = ph; }
void cofsole(const Kestrim&, double x, double th, double y, double ph, double, double& xo, double& tho, double& yo, double& pho) { xo = x; tho = th; yo = y; pho = ph; }
void coffocal(const Kestrim&, double& fx, double& fy) { fx = fy = 1e10; }
void cof1(const Kestrim&, double a[4][4]) { for (int i = 0; i < 4; ++i) for (int j = 0; j < 4; ++j) a[i][j] = i == j; }
void cof3(const Kestrim&, double& d1, double& d2) { d1 = d2 = 0; }
std::string cofcap(const Kestrim&) { return std::string(100, ' '); }
double gxrandom(double) { return 0; }
double gxfrac(double) { return 0; }
void kqsynth(Kestrim&, std::string&, char, double) {}
}  // namespace kestrim
