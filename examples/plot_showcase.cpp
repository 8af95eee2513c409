// Draws the plot library's showcase on one device: a frame with ticks and
// labels, a damped oscillation, a fat line, text in several fonts with
// Greek letters, sub- and superscripts, special symbols and a box.
//
// usage: plot_showcase DEVICE [tek-destination]
//   Q PostScript (pltNN.ps), V SVG (pltNN.svg), H or P HP-GL (H1.hgl,
//   P1.hgl), S Tektronix (written to the destination, default showcase.tek).
#include <cmath>
#include <iostream>
#include <sstream>
#include <string>

#include "gxlib/plot/plot.h"

int main(int argc, char** argv) {
  const char dev = argc > 1 ? argv[1][0] : 'Q';
  std::istringstream in("1\n");  // terminal type 1 when asked
  gx::Lib g(in, std::cout);
  if (dev == 'S' || dev == 's') {
    std::string dest = argc > 2 ? argv[2] : "showcase.tek";
    gx::crtype(g, 5, 6, 0, 1);
    gx::crdest(g, dest);
  }
  int ierr = 0;
  gx::gxstart(g, 5, 6, 0, 1.4142135f, dev, -1.0f, 11.0f, -1.5f, 1.5f, ierr);
  if (ierr) return 1;
  gx::gxbox(g, dev, 0.0f, 10.0f, -1.2f, 1.2f);
  float margin = gx::gxmark(g, dev, 5, 6, 1.0f);
  gx::gxsymbol(g, dev, margin, -0.9f, 1.0f, 90.0f, "Amplitude ^GA^C (mm)", -1);
  gx::gxsymbol(g, dev, 3.0f, -1.45f, 1.0f, 0.0f, "Time t^D0^R + ^Gs^C (^Gl^Cs)", -1);
  for (int i = 0; i <= 200; ++i) {
    float t = 0.05f * i;
    float y = std::exp(-0.25f * t) * std::cos(3.0f * t);
    gx::gxplot(g, dev, t, y, i == 0 ? 3 : 2);
  }
  gx::gxfatset(g, 0.05f, 2);
  gx::gxplot(g, dev, 0.5f, -1.0f, 3);
  gx::gxplot(g, dev, 9.5f, 0.8f, 2);
  gx::gxfatset(g, 0.0f, 0);
  gx::gxline(g, 2);
  gx::gxplot(g, dev, 0.0f, 0.0f, 3);
  gx::gxplot(g, dev, 10.0f, 0.0f, 2);
  gx::gxline(g, 0);
  // The Greek fonts and ^G take the letters in alphabet order: a alpha,
  // b beta, c gamma, d delta, k lambda, l mu, p pi, s tau, x omega.
  const char* lines[] = {"^1Font 1: simplex roman 0123",  "^1Font 2: simplex Greek ^2abcdklpsx",
                         "^3Font 3: complex roman",       "^3Font 4: complex Greek ^4abcdklpsx",
                         "^5Font 5: script",              "^0Font 0: E = mc^U2^R ^GabcdklpxXD^C",
                         "^1x^U2^R + y^D0^R ^VP^C1.5^VO^C ^VI ^VL ^VT", "^1^EBoxed^E ^ZBold^Z ^TSlanted"};
  for (int i = 0; i < 8; ++i)
    gx::gxsymbol(g, dev, 5.2f, 1.05f - 0.14f * i, 0.8f, 0.0f, lines[i], -1);
  gx::gxend(g, dev);
  gx::gxquit(g, dev);
  return 0;
}
