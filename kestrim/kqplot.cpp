// PLOT: any two ray quantities against each other at a plane: positions X
// and Y at the plane, angles T and P, energy deviation E. Spot, phase-space
// (emittance) and chromatic plots of the current ray set.
#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <string>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/plot/plot.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

namespace {

constexpr float kTextHeight = 0.75f;
const std::string kLetters = "XTYPE";

std::string g12(double v) { return gx::fG(v, 12, 5, 1); }

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

double quantity(char q, double z, double x, double th, double y, double ph, double de) {
  switch (q) {
    case 'X': return x + z * th;
    case 'T': return th;
    case 'Y': return y + z * ph;
    case 'P': return ph;
    default: return de;
  }
}

struct Ranges {
  // X, T, Y, P, E in the order of kLetters.
  std::array<Range, 5> q{};
  const Range& of(char c) const { return q[std::min<size_t>(kLetters.find(c), 4)]; }
};

void summary(Kestrim& k, const Ranges& r) {
  kqsay(k, kqcount(k.ntot, 7) + " rays.");
  auto line = [&](char c, double f, const char* unit) {
    const std::string n(1, c);
    const Range& q = r.of(c);
    kqsay(k, n + "min = " + g12(f * q.lo) + " to " + n + "max = " + g12(f * q.hi) + unit + "\t\t\t" + n +
                 "range = " + g12(f * (q.hi - q.lo)) + unit);
  };
  line('X', 1e6, " micron");
  line('T', 1000.0, " mrad");
  line('Y', 1e6, " micron");
  line('P', 1000.0, " mrad");
  line('E', 1.0, "");
}

bool askAxis(Kestrim& k, const std::string& prompt, char& q) {
  for (;;) {
    std::string reply;
    if (kqask(k, std::string(7, ' ') + prompt, reply, 40) != gx::Reply::Ok) return false;
    const std::string a = kqstrip(reply);
    q = upper(a.empty() ? ' ' : a[0]);
    if (q != ' ' && kLetters.find(q) != std::string::npos) return true;
  }
}

void drawPoints(Kestrim& k, char dev, const Kestrim::kqlastplot& p) {
  kqeach(k, k.mapopts.paraxial ? 1 : 3, [&](int, double x, double th, double y, double ph, double de) {
    const float h = static_cast<float>(quantity(p.h, p.z, x, th, y, ph, de));
    const float v = static_cast<float>(quantity(p.v, p.z, x, th, y, ph, de));
    if (h >= p.xmin && h <= p.xmax && v >= p.ymin && v <= p.ymax) kqpoint(k, dev, h, v);
  });
}

// A scale bar makes sense only where both axes are lengths; its basis is
// half the horizontal span and it sits in the box's lower-left corner.
void scaleBar(Kestrim& k, char dev, const Kestrim::kqlastplot& p) {
  if (k.flags.scaleDraw == 0) return;
  const bool lengths = (p.h == 'X' || p.h == 'Y') && (p.v == 'X' || p.v == 'Y');
  if (!lengths) return;
  const double w = (static_cast<double>(p.xmax) - p.xmin) / 2.0;
  for (int n = 1000000; n >= 1; n /= 10) {
    if (n / 1e6 <= 1.7 * std::fabs(w)) {
      kqscaleat(k, dev, n, w, p.xmin + 0.05 * w, p.ymin + 0.05 * w);
      return;
    }
  }
}

// Draws the last plot again (PLOT/R).
void redraw(Kestrim& k) {
  gx::Lib& g = k.gx;
  if (!k.lastPlot.valid) {
    kqsay(k, "?PLOT- No previous plot to draw again.");
    return;
  }
  const Kestrim::kqlastplot p = k.lastPlot;
  gx::gxbox_load(g, p.xmin, p.xmax, p.ymin, p.ymax);
  k.pointWx = p.xmax - p.xmin;
  k.pointWy = p.ymax - p.ymin;
  drawPoints(k, p.device, p);
  scaleBar(k, p.device, p);
  gx::gxend(g, p.device);
}

// Asks the two axes and their limits until the window has an area; dh and
// dv are its width and height as typed. False when the input ended.
bool askWindow(Kestrim& k, const Ranges& r, Kestrim::kqlastplot& p, float& dh, float& dv) {
  gx::Lib& g = k.gx;
  for (;;) {
    if (!askAxis(k, "Parameter on horizontal ? (X,T,Y,P,E) > ", p.h)) return false;
    if (!askAxis(k, "  Parameter on vertical ? (X,T,Y,P,E) > ", p.v)) return false;
    double hl = r.of(p.h).lo, hh = r.of(p.h).hi;
    if (gx::gxaskupdate(g, k.io.in, k.io.out, k.io.macro,
                        "Limits on " + std::string(1, p.h) + "-axis (" + kqstrip(g12(hl)) + "," +
                            kqstrip(g12(hh)) + ") > ",
                        hl, hh) != gx::Reply::Ok)
      return false;
    double vl = r.of(p.v).lo, vh = r.of(p.v).hi;
    if (gx::gxaskupdate(g, k.io.in, k.io.out, k.io.macro,
                        "Limits on " + std::string(1, p.v) + "-axis (" + kqstrip(g12(vl)) + "," +
                            kqstrip(g12(vh)) + ") > ",
                        vl, vh) != gx::Reply::Ok)
      return false;
    p.xmin = static_cast<float>(hl);
    p.xmax = static_cast<float>(hh);
    p.ymin = static_cast<float>(vl);
    p.ymax = static_cast<float>(vh);
    dh = p.xmax - p.xmin;
    dv = p.ymax - p.ymin;
    if (std::fabs(static_cast<double>(dh) * dv) >= 1e-30 && std::isfinite(dh * dv)) break;
    kqsay(k, std::isfinite(dh * dv) ? "Zero range on one axis"
                                     : "Limits beyond single precision on one axis");
    summary(k, r);
  }
  return true;
}

// An axis's title: the quantity's letter and the unit of its ticks (the
// limits are asked and drawn in metres and radians, the energy deviation
// in per cent).
std::string axisTitle(char q) {
  const char* unit = (q == 'X' || q == 'Y') ? "m" : (q == 'T' || q == 'P') ? "rad" : "%";
  return std::string(1, q) + " (" + unit + ")";
}

// The caption, the axis titles and the ray-set name around the box.
// xsym: the left end of the vertical tick labels.
void drawLabels(Kestrim& k, char dev, const Kestrim::kqlastplot& p, float mv, float xsym) {
  gx::Lib& g = k.gx;
  float ux = 0, uy = 0;
  gx::gxunit(g, ux, uy);
  const std::string hs = axisTitle(p.h), vs = axisTitle(p.v);
  if (k.mapopts.captions) {
    const std::string cap = kqstrip(k.caption);
    const float cl = gx::gxsymlen(g, kTextHeight, cap, -1);
    gx::gxsymbol(g, dev, (p.xmin + p.xmax) / 2.0f - cl / 2.0f, p.ymax + 0.5f * mv, kTextHeight, 0.0f,
                 cap, -1);
  }
  // The vertical letter stands left of the tick labels; its length, measured
  // along x, is turned into y units.
  const float vl = ux != 0.0f ? gx::gxsymlen(g, kTextHeight, vs, -1) / ux * uy : 0.0f;
  gx::gxsymbol(g, dev, std::min(xsym, p.xmin - 3.0f * ux), (p.ymin + p.ymax) / 2.0f - vl / 2.0f,
               kTextHeight, 90.0f, vs, -1);
  const float hl = gx::gxsymlen(g, kTextHeight, hs, -1);
  gx::gxsymbol(g, dev, (p.xmin + p.xmax) / 2.0f - hl / 2.0f, p.ymin - 3.0f * uy, kTextHeight, 0.0f,
               hs, -1);
  if (k.mapopts.captions) {
    const std::string file = kqstrip(k.rayFile);
    const float fl = gx::gxsymlen(g, kTextHeight, file, -1);
    gx::gxsymbol(g, dev, p.xmax - fl, p.ymax + 0.5f * mv, kTextHeight, 0.0f, file, -1);
  }
}

}  // namespace

void kqplot(Kestrim& k, KqLine& cmd) {
  std::string line = cmd.line;
  const char qual = cmd.qual;
  gx::Lib& g = k.gx;
  if (qual == 'E' || qual == 'D') {
    const std::string a = kqarg(line);
    kqmap(k, qual, std::string(1, upper(a[0])), 0.0, 0.0);
    return;
  }
  if (qual == 'R') {
    redraw(k);
    return;
  }
  const char dev = (qual == ' ' || qual == 'I' || qual == 'J') ? 'S' : qual;
  if (k.ntot == 0) {
    kqsay(k, "? - No data for display.");
    return;
  }
  double ximg = 0.0, yimg = 0.0, z = 0.0;
  kqimage(k, ximg, yimg, false);
  if (!kqplane(k, ximg, yimg, z)) return;

  Ranges r;
  kqeach(k, 3, [&](int, double x, double th, double y, double ph, double de) {
    for (size_t i = 0; i < 5; ++i) r.q[i].add(quantity(kLetters[i], z, x, th, y, ph, de));
  });
  k.extXmin = static_cast<float>(r.of('X').lo);
  k.extXmax = static_cast<float>(r.of('X').hi);
  k.extYmin = static_cast<float>(r.of('Y').lo);
  k.extYmax = static_cast<float>(r.of('Y').hi);
  summary(k, r);

  Kestrim::kqlastplot p;
  p.z = z;
  float dh = 0, dv = 0;
  if (!askWindow(k, r, p, dh, dv)) return;
  // Limits typed the wrong way round still make a box.
  if (dh < 0) {
    std::swap(p.xmin, p.xmax);
    dh = -dh;
  }
  if (dv < 0) {
    std::swap(p.ymin, p.ymax);
    dv = -dv;
  }
  // Room on the left for the vertical tick labels and the axis letter.
  const float mh = 0.05f * dh, ml = 0.2f * dh, mv = 0.05f * dv;
  k.pointWx = dh;
  k.pointWy = dv;

  int run = 0;
  std::string text;
  gx::gxrunup(k.gx, k.io.out, k.io.file, run, text, "kestrim.run");
  kqsay(k, "Run number " + gx::fI(run, 4) + " ......");

  int ierr = 0;
  gx::gxstart(g, k.io.in, k.io.out, k.io.macro, 1.0f, dev, p.xmin - ml, p.xmax + mh,
              p.ymin - 2.0f * mv, p.ymax, ierr);
  if (ierr != 0) {
    kqsay(k, "Unable to plot at this time.");
    return;
  }
  gx::gxbox(g, dev, p.xmin, p.xmax, p.ymin, p.ymax);
  const float xsym = gx::gxmark(g, dev, 3, 3, kTextHeight);
  drawLabels(k, dev, p, mv, xsym);
  drawPoints(k, dev, p);
  scaleBar(k, dev, p);
  gx::gxend(g, dev);
  p.valid = true;
  p.device = dev;
  p.w = dh / 2.0;
  k.lastPlot = p;
}

}  // namespace kestrim

