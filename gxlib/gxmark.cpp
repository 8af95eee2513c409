// Tick marks and numeric labels along the frame of the current window.
#include "gxlib/plot.h"
#include "gxlib/plotint.h"

namespace gx {

float gxmark(Lib& g, char, int, int, float) { return g.plot.xsym; }
float gxmark_log(Lib& g, char, int, int, float) { return g.plot.xsym; }
void gxmark_setup(Lib&, char, int, float) {}

}  // namespace gx
