// Tick marks and numeric labels along the frame of the current window,
// linear or logarithmic (decades), with minor ticks between the majors.
#include <cmath>
#include <vector>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/plot/plot.h"
#include "gxlib/plot/plotint.h"

namespace gx {

namespace {

struct Step {
  double step = 0;
  bool five = false;  // a five-step: 5 x 10^n
};

// A step of 1, 2 or 5 x 10^n giving about n divisions of the span.
Step tickStep(double span, int n) {
  Step s;
  double r = std::fabs(span / n);
  s.step = std::pow(10.0, std::floor(std::log10(r) + 1e-6));
  if (span < 0) s.step = -s.step;
  if (n > std::fabs(span / s.step)) s.step /= 10;
  for (int guard = 0; guard < 60 && std::fabs(span / s.step) - 3 > n; ++guard) {
    s.five = false;
    if (n < std::fabs(span / s.step) - 3) s.step *= 2;
    if (n < std::fabs(span / s.step) - 3) {
      s.step *= 2.5;
      s.five = true;
    }
    if (n < std::fabs(span / s.step) - 3) {
      s.step *= 2;
      s.five = false;
    }
  }
  return s;
}

int decimalsFor(double span) {
  span = std::fabs(span);
  if (span >= 20) return 0;
  if (span >= 2) return 1;
  if (span >= 0.2) return 2;
  if (span >= 0.02) return 3;
  if (span >= 0.002) return 4;
  if (span >= 0.0002) return 5;
  return 6;
}

std::string fontEscape(int font) {
  switch (font) {
    case 1: case 2: case 6: return "^1";
    case 3: case 4: case 7: return "^3";
    case 5: return "^5";
    default: return "^0";
  }
}

std::string stripLead(const std::string& s) {
  size_t i = s.find_first_not_of(' ');
  return i == std::string::npos ? std::string() : s.substr(i);
}

std::string label(double v, int d, bool decade, int font) {
  std::string t;
  if (decade) {
    t = "10^U" + std::to_string(gxnint(v));
  } else if (std::fabs(v) < 1e-30) {
    t = "0";
  } else if (std::fabs(v) >= 1e7 || std::fabs(v) < 0.002) {
    t = fE(v, 8, 1, 1);
  } else if (d == 0) {
    t = fI(gxnint(v), 10);
  } else {
    t = fF(v, 10, d);
  }
  return fontEscape(font) + stripLead(t);
}

// One axis: the positions of its major and minor ticks.
struct Axis {
  bool ok = false;
  bool log = false;
  Step st;
  std::vector<double> major, minor;
};

Axis ticks(double lo, double hi, int n, bool log, const MarkSettings& m) {
  Axis a;
  double span = hi - lo;
  if (n <= 0 || !std::isfinite(span) || span == 0) return a;
  a.log = log && std::fabs(span) <= 20;
  a.st = a.log ? Step{span < 0 ? -1.0 : 1.0, false} : tickStep(span, n);
  double step = a.st.step;
  if (!std::isfinite(step) || step == 0) return a;
  a.ok = true;
  const double mn = std::min(lo, hi), mx = std::max(lo, hi);
  const double tol = 1e-5 * std::fabs(step);
  auto inside = [&](double t) { return t >= mn - tol && t <= mx + tol; };
  const double base = std::trunc(lo / step) * step;
  int sub = 0;
  if (!a.log) {
    if (a.st.five)
      sub = m.five ? 5 : 0;
    else
      sub = gxnint(m.minor);
  }
  for (int k = -101; k <= 99; ++k) {
    double t = k * step + base;
    if (std::fabs(t) < 1e-9 * std::fabs(step)) t = 0;
    if (inside(t)) a.major.push_back(t);
    if (a.log) {
      for (int j = 2; j <= 9; ++j) {
        double u = t + std::log10(static_cast<double>(j)) * step;
        if (inside(u)) a.minor.push_back(u);
      }
    } else if (sub > 1) {
      for (int j = 1; j < sub; ++j) {
        double u = t + j * step / sub;
        if (inside(u)) a.minor.push_back(u);
      }
    }
  }
  return a;
}

float markAxes(Lib& g, char device, int nx, int ny, float size, bool ylog) {
  PlotState& p = g.plot;
  const MarkSettings& m = p.mark;
  float ux, uy;
  gxunit(g, ux, uy);
  if (!(size > 0)) size = 1;
  if (m.marks == 0) return p.xsym - ux;
  const bool back = deviceCode(device) == 'O';
  const float xmin = p.xmin, xmax = p.xmax, ymin = p.ymin, ymax = p.ymax;
  auto tick = [&](float xa, float ya, float xb, float yb) {
    gxplot(g, device, xa, ya, 3);
    gxplot(g, device, xb, yb, 2);
    if (back) gxplot(g, device, xa, ya, 2);
  };
  const float lsize = 0.75f * size;

  Axis ax = ticks(xmin, xmax, nx, m.xlog != 0, m);
  if (ax.ok) {
    const float len = m.tick * uy;
    for (int pass = 0; pass < 2; ++pass) {
      const auto& list = pass == 0 ? ax.major : ax.minor;
      const float l = pass == 0 ? len : len / 2;
      for (double t : list) {
        float x = static_cast<float>(t);
        if (m.full && pass == 0) {
          tick(x, ymin, x, ymax);
          continue;
        }
        tick(x, ymin, x, ymin + l);
        if (m.top) tick(x, ymax, x, ymax - l);
      }
    }
    if (m.xlabels) {
      int d = m.xdec >= 0 ? m.xdec : decimalsFor(xmax - xmin);
      float below = (ax.log ? 1.98f : 1.8f) * uy;
      for (double t : ax.major) {
        std::string s = label(t, d, ax.log, p.font);
        float w = gxsymlen(g, lsize, s, -1);
        gxsymbol(g, device, static_cast<float>(t) - w / 2, ymin - below, lsize, 0, s, -1);
      }
    }
  }

  Axis ay = ticks(ymin, ymax, ny, ylog, m);
  if (ay.ok) {
    const float len = m.tick * ux;
    for (int pass = 0; pass < 2; ++pass) {
      const auto& list = pass == 0 ? ay.major : ay.minor;
      const float l = pass == 0 ? len : len / 2;
      for (double t : list) {
        float y = static_cast<float>(t);
        if (m.full && pass == 0) {
          tick(xmin, y, xmax, y);
          continue;
        }
        tick(xmin, y, xmin + l, y);
        if (m.right) tick(xmax, y, xmax - l, y);
      }
    }
    if (m.ylabels) {
      int d = m.ydec >= 0 ? m.ydec : decimalsFor(ymax - ymin);
      for (double t : ay.major) {
        std::string s = label(t, d, ay.log, p.font);
        float w = gxsymlen(g, lsize, s, -1);
        float x = xmin - 0.5f * ux - w;
        // Cap height of a label is 6/5 of its height in text units.
        float y = static_cast<float>(t) - 0.6f * lsize * uy;
        gxsymbol(g, device, x, y, lsize, 0, s, -1);
        if (x < p.xsym) p.xsym = x;
      }
    }
  }
  return p.xsym - ux;
}

}  // namespace

float gxmark(Lib& g, char device, int nx, int ny, float size) {
  return markAxes(g, device, nx, ny, size, false);
}

float gxmark_log(Lib& g, char device, int nx, int ny, float size) {
  return markAxes(g, device, nx, ny, size, true);
}

double gxmark_step(double span, int n, bool& five) {
  if (n <= 0 || !std::isfinite(span) || span == 0) {
    five = false;
    return 0;
  }
  Step s = tickStep(span, n);
  five = s.five;
  return s.step;
}

std::string gxmark_label(Lib& g, double value, int decimals, bool decade) {
  return label(value, decimals, decade, g.plot.font);
}

void gxmark_setup(Lib& g, char key, int ivalue, float value) {
  MarkSettings& m = g.plot.mark;
  switch (plotUpper(key)) {
    case 'K': if (value > 1e-10f) m.tick = value; break;
    case 'G': if (value >= 0) m.minor = value; break;
    case 'I': m.xdec = ivalue; break;
    case 'J': m.ydec = ivalue; break;
    case 'X': m.xlog = ivalue; break;
    case 'U': m.top = ivalue; break;
    case 'R': m.right = ivalue; break;
    case '5': m.five = ivalue; break;
    case 'L': m.full = ivalue; break;
    case 'V': m.xlabels = ivalue; break;
    case 'W': m.ylabels = ivalue; break;
    default: break;
  }
}

}  // namespace gx
