// The device-independent plot layer: the data window, the remembered move,
// fat lines, line styles and the text unit, and the dispatch of every
// operation to one device driver chosen by the device letter.
#include <cmath>
#include <iterator>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/plot/plot.h"
#include "gxlib/plot/plotint.h"

namespace gx {

namespace {

// The drivers' operations in the table's shape; each driver's state lives
// beside its code.
void tekStart(Lib& g, char, float, float xmin, float xmax, float ymin, float ymax, int&) {
  crstart(g, xmin, xmax, ymin, ymax);
}
void tekPoint(Lib& g, float x, float y, int pen) {
  static constexpr int kStyle[7] = {0, 3, 2, 1, 4, 3, 2};
  int l = g.plot.line;
  int style = (l >= 0 && l <= 6) ? kStyle[l] : 0;
  crplot(g, x, y, pen + 10 * style);
}
void tekScale(Lib& g, float s, float xo, float yo) {
  crfactor(g, s);
  croffset(g, xo, yo);
}

void psStart(Lib& g, char, float, float, float, float, float, int&) {
  psstart(g, g.plot.in, g.plot.out);
}
void psClear(Lib& g, char) { g.plot.ps.autoClear = g.plot.autoClear; }

void svgStart(Lib& g, char, float, float, float, float, float, int&) {
  svgstart(g, g.plot.in, g.plot.out);
}
void svgClear(Lib& g, char) { g.plot.svg.autoClear = g.plot.autoClear; }

void hpStart(Lib& g, char letter, float aspect, float xmin, float xmax, float ymin, float ymax,
             int& ierr) {
  hpstart(g, letter, g.plot.in, g.plot.out, g.plot.echo, aspect, xmin, xmax, ymin, ymax, ierr);
}

// Device O: announced as missing at the start, silent afterwards.
void missingStart(Lib& g, char, float, float, float, float, float, int&) {
  g.io.write(g.plot.out, " Not implemented at Kelmor.");
}

constexpr unsigned kPageFile =
    Device::kDraws | Device::kFile | Device::kScales | Device::kAutoClear;

// The devices, in the order in which settings for all devices reach them.
// H and P share one driver and its state.
const Device kDevices[] = {
    {'S', "Tektronix-compatible graphics terminal",
     Device::kDraws | Device::kScales | Device::kStyles, tekStart, tekPoint, crreset, nullptr,
     tekScale, nullptr, nullptr, nullptr, nullptr},
    {'Q', "PostScript plot file", kPageFile, psStart, psplot, psclear, psend, psscale, psClear,
     psoutput, pstext, nullptr},
    {'V', "SVG plot file for a web browser", kPageFile, svgStart, svgplot, svgclear, svgend,
     svgscale, svgClear, svgoutput, svgtext, svgtextend},
    {'H', "HP-GL/2 file for a page printer", kPageFile, hpStart, hpplot, nullptr, hpquit,
     hpscale, hpclear, hpfile, nullptr, nullptr},
    {'P', "HP-GL file for a pen plotter", kPageFile, hpStart, hpplot, nullptr, hpquit, hpscale,
     hpclear, hpfile, nullptr, nullptr},
    {'U', "no output", 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
     nullptr},
    {'O', "not available", 0, missingStart, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
     nullptr, nullptr},
};

// Dash patterns of the line styles, in text units on the page: drawn and
// left out by turns, starting with a dash. The same shapes as the
// terminal's own styles.
struct DashPattern {
  int n;
  double len[4];
  double period() const {
    double p = 0;
    for (int i = 0; i < n; ++i) p += len[i];
    return p;
  }
};

const DashPattern& dashPattern(int style) {
  static constexpr DashPattern kShort{2, {0.6, 0.4, 0, 0}}, kDotDash{4, {0.1, 0.4, 1.0, 0.4}},
      kDotted{2, {0.1, 0.4, 0, 0}}, kLong{2, {1.5, 0.5, 0, 0}};
  switch (style) {
    case 2: case 6: return kDotDash;
    case 3: return kDotted;
    case 4: return kLong;
    default: return kShort;
  }
}

// More dashes than this in one draw: the draw lies far off the page, where
// the device clips it; it is drawn whole, so the work stays bounded.
constexpr double kMaxDashes = 20000;

// Draws from the last point to (x, y) in the pattern of the line style,
// carrying the pattern's position on to the next draw. Returns the pen
// the layer remembers: 2 when the device's pen stands at (x, y).
int dashTo(Lib& g, char device, float x, float y) {
  PlotState& p = g.plot;
  const DashPattern& d = dashPattern(p.line);
  const double period = d.period();
  const float x0 = p.lastX, y0 = p.lastY;
  float ux, uy;
  gxunit(g, ux, uy);
  const double len = std::hypot((static_cast<double>(x) - x0) / ux, (static_cast<double>(y) - y0) / uy);
  if (!std::isfinite(len) || len / period > kMaxDashes) {
    if (!p.dashInk) gxvect(g, device, x0, y0, 3);
    gxfat(g, device, x0, y0, x, y);
    p.dashAt = 0;
    p.dashInk = true;
    return 2;
  }
  // The piece of the pattern the line stands in, and how far into it.
  int k = 0;
  double into = std::fmod(p.dashAt, period);
  if (!(into >= 0.0)) into = 0.0;
  for (int guard = 0; guard < d.n && into >= d.len[k]; ++guard) {
    into -= d.len[k];
    k = (k + 1) % d.n;
  }
  into = std::min(into, d.len[k]);
  // Each piece ends at a fixed distance along the draw, so every turn of
  // the loop moves on by at least the shortest piece.
  double s = 0.0;
  for (;;) {
    const double e = std::min(len, s + (d.len[k] - into));
    if (k % 2 == 0 && e > s) {
      const double ta = s / len, tb = e / len;
      const float ax = static_cast<float>(x0 + ta * (x - x0)), ay = static_cast<float>(y0 + ta * (y - y0));
      const float bx = static_cast<float>(x0 + tb * (x - x0)), by = static_cast<float>(y0 + tb * (y - y0));
      if (!(s == 0.0 && p.dashInk)) gxvect(g, device, ax, ay, 3);
      gxfat(g, device, ax, ay, bx, by);
    }
    if (e >= len) {
      into += len - s;
      break;
    }
    s = e;
    into = 0.0;
    k = (k + 1) % d.n;
  }
  // A draw of no length leaves the pen where it was.
  if (len > 0.0) p.dashInk = k % 2 == 0;
  double at = into;
  for (int i = 0; i < k; ++i) at += d.len[i];
  p.dashAt = at >= period ? 0.0 : at;
  return p.dashInk ? 2 : 3;
}

// Calls op on every device that has it, once for a driver shared by
// several letters.
template <class Op, class... Args>
void forEachDevice(Op Device::*op, Lib& g, const Args&... args) {
  for (size_t i = 0; i < std::size(kDevices); ++i) {
    const Op f = kDevices[i].*op;
    if (f == nullptr) continue;
    bool seen = false;
    for (size_t j = 0; j < i; ++j) seen = seen || kDevices[j].*op == f;
    if (!seen) f(g, args...);
  }
}

}  // namespace

char deviceCode(char device) {
  char d = plotUpper(device);
  return d == ' ' || d == '\0' ? 'S' : d;
}

const Device& deviceFor(char device) {
  const char d = deviceCode(device);
  for (const Device& e : kDevices)
    if (e.letter == d) return e;
  return kDevices[0];
}

void gxstart(Lib& g, int inunit, int outunit, int echo, float aspect, char device,
             float xmin, float xmax, float ymin, float ymax, int& ierr) {
  PlotState& p = g.plot;
  const char d = deviceCode(device);
  p.device = d;
  p.in = inunit < 1 ? 5 : inunit;
  p.out = outunit < 1 ? 6 : outunit;
  p.unit1 = inunit + 10;
  p.unit2 = inunit + 11;
  p.unit3 = inunit + 12;
  p.echo = echo;
  // A drawing area needs a positive, finite aspect ratio; anything else
  // gets the page's own (the square root of two).
  p.aspect = (std::isfinite(aspect) && aspect > 1e-5f) ? aspect : kRoot2;
  p.labelMargin = 0;
  gxbox_load(g, xmin, xmax, ymin, ymax);
  p.lastPen = 3;
  ierr = 0;
  // The HP-GL driver takes the aspect as given: it has its own default.
  const Device& dev = deviceFor(d);
  if (dev.start) dev.start(g, d, aspect, xmin, xmax, ymin, ymax, ierr);
}

void gxbox_load(Lib& g, float xmin, float xmax, float ymin, float ymax) {
  PlotState& p = g.plot;
  p.xmin = xmin;
  p.xmax = xmax;
  p.ymin = ymin;
  p.ymax = ymax;
  p.xspan = xmax - xmin;
  p.yspan = ymax - ymin;
  p.xsym = xmin - 0.05f * p.xspan;
}

void gxbox(Lib& g, char device, float xmin, float xmax, float ymin, float ymax) {
  gxbox_load(g, xmin, xmax, ymin, ymax);
  gxplot(g, device, xmin, ymin, 3);
  gxplot(g, device, xmax, ymin, 2);
  gxplot(g, device, xmax, ymax, 2);
  gxplot(g, device, xmin, ymax, 2);
  gxplot(g, device, xmin, ymin, 2);
  // Leaves the terminal's beam at the top-left corner.
  if (deviceCode(device) == 'S') gxplot(g, device, xmin, ymax, 2);
}

void gxplot(Lib& g, char device, float x, float y, int ipen) {
  PlotState& p = g.plot;
  if (!std::isfinite(x) || !std::isfinite(y)) {
    // A point that cannot be drawn breaks the line: the next draw starts
    // afresh from its own point.
    p.lastPen = 0;
    return;
  }
  if (ipen == 2) {
    const Device& dev = deviceFor(device);
    if (p.lastPen == 0) {
      // No valid point to draw from: this one becomes the start.
      ipen = 3;
      p.dashAt = 0;
      p.dashInk = false;
    } else if (p.line != 0 && dev.point && !(dev.can & Device::kStyles)) {
      ipen = dashTo(g, device, x, y);
    } else {
      if (p.lastPen == 3) gxvect(g, device, p.lastX, p.lastY, 3);
      gxfat(g, device, p.lastX, p.lastY, x, y);
      p.dashInk = true;
    }
  } else {
    // A move starts a new line, and the dash pattern from its beginning.
    ipen = 3;
    p.dashAt = 0;
    p.dashInk = false;
  }
  p.lastPen = ipen;
  p.lastX = x;
  p.lastY = y;
}

void gxvect(Lib& g, char device, float x, float y, int ipen) {
  const Device& dev = deviceFor(device);
  if (dev.point) dev.point(g, x, y, ipen);
}

void gxfat(Lib& g, char device, float x1, float y1, float x2, float y2) {
  PlotState& p = g.plot;
  gxvect(g, device, x2, y2, 2);
  const int n = p.fatCount;
  const float w = p.fatWidth;
  if (n < 1 || !(w > 1e-10f)) return;
  float ux, uy;
  gxunit(g, ux, uy);
  ux *= w;
  uy *= w;
  auto stroke = [&](float xa, float ya, float xb, float yb) {
    gxvect(g, device, xa, ya, 3);
    gxvect(g, device, xb, yb, 2);
  };
  if (std::fabs(x2 - x1) < 1e-10f) {
    float dir = (y2 - y1) < 0 ? -1.0f : 1.0f;
    float ya = y1 - dir * n * uy, yb = y2 + dir * n * uy;
    for (int i = 1; i <= n; ++i) {
      stroke(x1 + i * ux, ya, x1 + i * ux, yb);
      stroke(x1 - i * ux, ya, x1 - i * ux, yb);
    }
  } else if (std::fabs(y2 - y1) < 1e-10f) {
    float dir = (x2 - x1) < 0 ? -1.0f : 1.0f;
    float xa = x1 - dir * n * ux, xb = x2 + dir * n * ux;
    for (int i = 1; i <= n; ++i) {
      stroke(xa, y1 - i * uy, xb, y1 - i * uy);
      stroke(xa, y1 + i * uy, xb, y1 + i * uy);
    }
  } else {
    const float th = std::atan2(y2 - y1, x2 - x1);
    const float s = std::sin(th), c = std::cos(th);
    for (int i = 1; i <= n; ++i) {
      stroke(x1 + i * ux * s, y1 - i * uy * c, x2 + i * ux * s, y2 - i * uy * c);
      stroke(x2 - i * ux * s, y2 + i * uy * c, x1 - i * ux * s, y1 + i * uy * c);
    }
  }
  gxvect(g, device, x2, y2, 3);
}

void gxunit(Lib& g, float& ux, float& uy) {
  const PlotState& p = g.plot;
  if (p.unitFlag != 0) {
    ux = p.unitX;
    uy = p.unitY;
    return;
  }
  ux = 0.0225f * p.xspan;
  uy = 0.0225f * p.yspan;
  if (p.aspect >= 1.0f)
    uy *= p.aspect;
  else
    ux /= p.aspect;
}

void gxscale(Lib& g, int inunit, int outunit, int echo, char device, const std::string& name) {
  const char d = plotUpper(device);
  std::string nm = trimmedName(name);
  if (!nm.empty()) {
    if (d == '*') {
      forEachDevice(&Device::name, g, nm);
    } else {
      const Device& dev = deviceFor(d);
      if (dev.name && dev.letter == d) dev.name(g, nm);
    }
    return;
  }
  double scale = 1.0, dummy = 0.0;
  if (gxaskupdate(g, inunit, outunit, echo, "Scale factor for next plot > ", scale, dummy) != Reply::Ok)
    return;
  double xo = 0.0, yo = 0.0;
  if (gxaskupdate(g, inunit, outunit, echo, "X and Y plot offsets (mm) > ", xo, yo) != Reply::Ok) return;
  gxscale_it(g, d, static_cast<float>(scale), static_cast<float>(xo), static_cast<float>(yo));
}

void gxscale_it(Lib& g, char device, float scale, float xoffset, float yoffset) {
  const char d = plotUpper(device);
  if (d == '*') {
    forEachDevice(&Device::scale, g, scale, xoffset, yoffset);
    return;
  }
  // Only the devices named: a letter outside the table scales nothing.
  const char code = deviceCode(d);
  for (const Device& e : kDevices)
    if (e.letter == code && e.scale) e.scale(g, scale, xoffset, yoffset);
}

void gxend(Lib& g, char device) {
  const Device& dev = deviceFor(device);
  if (dev.end) dev.end(g);
}

void gxclear(Lib& g, char flag) {
  char f = plotUpper(flag);
  if (f == 'E') g.plot.autoClear = 1;
  if (f == 'D') g.plot.autoClear = 0;
  forEachDevice(&Device::clear, g, f);
}

void gxfont(Lib& g, int n) {
  if (n >= 0 && n <= 8) g.plot.font = n;
}

void gxquit(Lib& g, char) { forEachDevice(&Device::quit, g); }

void gxline(Lib& g, int style) { g.plot.line = style; }

void gxfatset(Lib& g, float width, int n) {
  g.plot.fatWidth = width;
  g.plot.fatCount = n;
}

void gxunit_set(Lib& g, int flag, float ux, float uy) {
  g.plot.unitFlag = flag;
  g.plot.unitX = ux;
  g.plot.unitY = uy;
}

Lib::~Lib() {
  // The end of a session closes the plot files properly, so they end
  // well-formed, and sends what the terminal driver still holds.
  try {
    gxquit(*this, '*');
    crsend(*this, -1);
    crclose(*this);
  } catch (...) {
  }
}

// ---- helpers shared by the plot files ----

char plotUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string trimmedName(const std::string& s) {
  std::string t(trimRight(s));
  size_t lead = t.find_first_not_of(" \t");
  return lead == std::string::npos ? std::string() : t.substr(lead);
}


int truncClamp(double v, int lo, int hi) {
  if (!(v == v)) return lo;
  if (v <= lo) return lo;
  if (v >= hi) return hi;
  return static_cast<int>(v);
}


}  // namespace gx
