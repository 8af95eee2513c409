// The coefficient file: any file read by cofin, then used to map rays and
// for the focal positions, the matrices and the caption.
#include <sstream>

#include "fuzz_support.h"
#include "kestrim/kq.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  tkfuzz::noTerminal();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tkfuzz::freshScratch();
  tkfuzz::writeFile("f.cof", tkfuzz::cut(data, size));
  std::istringstream in;
  std::ostringstream out;
  kestrim::Kestrim k(in, out);
  std::string name = "f.cof";
  if (kestrim::cofin(k, name) == 0) {
    double xo, tho, yo, pho, fx, fy, d1, d2;
    for (double r : {0.0, 1e-4, -3e-3}) {
      kestrim::cofcheck(k, r, -r, 2 * r, r);
      kestrim::coftran(k, r, -r, 2 * r, r, r, xo, tho, yo, pho);
      kestrim::cofsole(k, r, -r, 2 * r, r, r, xo, tho, yo, pho);
    }
    kestrim::coffocal(k, fx, fy);
    (void)kestrim::cof1(k);
    kestrim::cof3(k, d1, d2);
    (void)kestrim::cofcap(k);
  }
  return 0;
}
