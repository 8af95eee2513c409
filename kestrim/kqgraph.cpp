// GRAPH: pictures of the analyses that write numbers (SORT's grid, PROFIL's
// profiles, DIFF's differential brightness) drawn on the library's devices.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/plot/plot.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

namespace {

constexpr float kTextHeight = 0.75f;
// Grey levels of the map: a cell of level L is crossed by L strokes.
constexpr int kLevels = 8;


const char* deviceName(char d) {
  switch (d) {
    case 'S': return "the terminal";
    case 'Q': return "PostScript files (pltNN.ps)";
    case 'V': return "SVG files (pltNN.svg)";
    case 'H':
    case 'P': return "HP-GL files";
    default: return "no device";
  }
}

// Opens a picture on the chosen device with a run number, as MAP does.
bool open(Kestrim& k, float xmin, float xmax, float ymin, float ymax) {
  int run = 0;
  std::string text;
  gx::gxrunup(k.gx, k.io.out, k.io.file, run, text, "kestrim.run");
  kqsay(k, "Run number " + gx::fI(run, 4) + " ......");
  int ierr = 0;
  gx::gxstart(k.gx, k.io.in, k.io.out, k.io.macro, 1.0f, k.graphDevice, xmin, xmax, ymin, ymax, ierr);
  if (ierr != 0) {
    kqsay(k, "Unable to plot at this time.");
    return false;
  }
  return true;
}

void text(Kestrim& k, float x, float y, float angle, const std::string& s, bool centred) {
  const float l = centred ? gx::gxsymlen(k.gx, kTextHeight, s, -1) : 0.0f;
  if (angle == 0.0f)
    gx::gxsymbol(k.gx, k.graphDevice, x - l / 2.0f, y, kTextHeight, angle, s, -1);
  else
    gx::gxsymbol(k.gx, k.graphDevice, x, y - l / 2.0f, kTextHeight, angle, s, -1);
}

// Frame, ticks and the three texts around a window.
void frame(Kestrim& k, float x0, float x1, float y0, float y1, const std::string& title,
           const std::string& xl, const std::string& yl) {
  const char d = k.graphDevice;
  gx::gxbox(k.gx, d, x0, x1, y0, y1);
  gx::gxmark(k.gx, d, 3, 3, kTextHeight);
  float ux = 0, uy = 0;
  gx::gxunit(k.gx, ux, uy);
  text(k, (x0 + x1) / 2.0f, y1 + 1.5f * uy, 0.0f, title, true);
  text(k, (x0 + x1) / 2.0f, y0 - 3.0f * uy, 0.0f, xl, true);
  text(k, x0 - 4.0f * ux, (y0 + y1) / 2.0f, 90.0f, yl, true);
}

// Stays inside single precision: the devices take floats.
bool drawable(double v) { return std::isfinite(v) && std::fabs(v) < 1e30; }

}  // namespace

void kqgraphcmd(Kestrim& k, KqLine& c) {
  char q = c.qual;
  if (q == ' ') {
    kqsay(k, "Analysis pictures go to " + std::string(deviceName(k.graphDevice)) + ".");
    std::string reply;
    if (kqask(k, "Device (S terminal, Q PostScript, V SVG, H/P HP-GL; D none) > ", reply, 40) !=
        gx::Reply::Ok)
      return;
    const std::string s = kqstrip(reply);
    if (s.empty()) return;
    q = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
  }
  if (q == 'D' || q == 'U') {
    k.graphDevice = ' ';
  } else if (q == 'S' || q == 'Q' || q == 'V' || q == 'H' || q == 'P') {
    k.graphDevice = q;
  } else {
    kqsay(k, "?GRAPH- Unknown device " + std::string(1, q) + "; unchanged.");
    return;
  }
  kqsay(k, "SORT, PROFIL and DIFF draw to " + std::string(deviceName(k.graphDevice)) + ".");
}

void kqcurve(Kestrim& k, const std::string& title, const std::string& xl, const std::string& yl,
             const std::vector<double>& x, const std::vector<double>& y) {
  if (k.graphDevice == ' ') return;
  Range rx, ry;
  for (size_t i = 0; i < x.size() && i < y.size(); ++i)
    if (drawable(x[i]) && drawable(y[i])) rx.add(x[i]), ry.add(y[i]);
  if (!rx.any) {
    kqsay(k, "?GRAPH- Nothing to draw.");
    return;
  }
  // Counts and brightness start at zero; a flat curve gets some height.
  double ylo = std::min(0.0, ry.lo), yhi = ry.hi;
  if (!(yhi > ylo)) yhi = ylo + 1.0;
  double xlo = rx.lo, xhi = rx.hi;
  if (!(xhi > xlo)) xlo -= 0.5, xhi += 0.5;
  yhi += 0.05 * (yhi - ylo);
  const float x0 = static_cast<float>(xlo), x1 = static_cast<float>(xhi);
  const float y0 = static_cast<float>(ylo), y1 = static_cast<float>(yhi);
  const float mh = 0.12f * (x1 - x0), mv = 0.12f * (y1 - y0);
  if (!open(k, x0 - mh, x1 + 0.05f * (x1 - x0), y0 - mv, y1 + mv)) return;
  frame(k, x0, x1, y0, y1, title, xl, yl);
  int pen = 3;
  for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
    if (!drawable(x[i]) || !drawable(y[i])) {
      pen = 3;
      continue;
    }
    gx::gxplot(k.gx, k.graphDevice, static_cast<float>(x[i]), static_cast<float>(y[i]), pen);
    pen = 2;
  }
  gx::gxend(k.gx, k.graphDevice);
}

void kqgreymap(Kestrim& k, const std::string& title, int n, double lo, double hi,
               const std::vector<long long>& cells) {
  if (k.graphDevice == ' ' || n < 1 || cells.size() < static_cast<size_t>(n) * n) return;
  long long top = 0;
  for (long long c : cells) top = std::max(top, c);
  if (!drawable(lo) || !drawable(hi) || !(hi > lo)) {
    kqsay(k, "?GRAPH- The grid has no extent to draw.");
    return;
  }
  // The grid's square in micron.
  const float a = static_cast<float>(1e6 * lo);
  const float b = static_cast<float>(1e6 * hi);
  const float w = b - a, cw = w / static_cast<float>(n);
  // Room on the right for the scale bar: one column of the grey levels.
  const float barX = b + 0.08f * w, barW = 0.06f * w;
  if (!open(k, a - 0.15f * w, barX + barW + 0.2f * w, a - 0.15f * w, b + 0.1f * w)) return;
  const char d = k.graphDevice;
  frame(k, a, b, a, b, title, "X (micron)", "Y (micron)");
  // A cell is shaded by strokes across it, as many as its grey level.
  auto shade = [&](float x0, float y0, float cx, float cy, int level) {
    for (int s = 1; s <= level; ++s) {
      const float y = y0 + cy * static_cast<float>(s) / static_cast<float>(level + 1);
      gx::gxplot(k.gx, d, x0, y, 3);
      gx::gxplot(k.gx, d, x0 + cx, y, 2);
    }
  };
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) {
      const long long c = cells[static_cast<size_t>((j - 1) * n + (i - 1))];
      const int level = top > 0 ? static_cast<int>(std::lround(static_cast<double>(kLevels) *
                                                               static_cast<double>(c) / top))
                                : 0;
      shade(a + (i - 1) * cw, a + (j - 1) * cw, cw, cw, level);
    }
  // The scale bar: the levels from none (bottom) to the highest count.
  const float lh = w / static_cast<float>(kLevels + 1);
  gx::gxplot(k.gx, d, barX, a, 3);
  gx::gxplot(k.gx, d, barX + barW, a, 2);
  gx::gxplot(k.gx, d, barX + barW, b, 2);
  gx::gxplot(k.gx, d, barX, b, 2);
  gx::gxplot(k.gx, d, barX, a, 2);
  float ux = 0, uy = 0;
  gx::gxunit(k.gx, ux, uy);
  text(k, barX + barW + ux, a, 0.0f, "0", false);
  text(k, barX + barW + ux, b - 2.0f * uy, 0.0f, std::to_string(top), false);
  text(k, barX + barW + ux, b - 4.0f * uy, 0.0f, "counts", false);
  for (int l = 0; l <= kLevels; ++l) shade(barX, a + l * lh, barW, lh, l);
  gx::gxend(k.gx, d);
}

}  // namespace kestrim
