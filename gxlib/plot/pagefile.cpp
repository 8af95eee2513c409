// What the PostScript and SVG drivers share: file names, line widths,
// scale and offsets, the run counter and the mapping onto the page.
#include <algorithm>
#include <cmath>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/plot/pagefile.h"
#include "gxlib/plot/plotint.h"

namespace gx {

std::string pageFileName(const PageFile& f, const char* ext) {
  if (!f.defined.empty()) return f.defined;
  std::string n = std::to_string(f.run);
  if (n.size() < 2) n = "0" + n;
  return "plt" + n + ext;
}

bool refuseDefined(Lib& g, int out, const PageFile& f, const std::string& tag, char device) {
  if (f.defined.empty() || !Io::exists(f.name)) return false;
  const std::string d(1, device);
  g.io.write(out, " " + tag + "- Unable to open plot file " + f.name + " (it exists); DEFINE/" + d +
                      " another name, or DEFINE/" + d + " * for numbered files.");
  return true;
}

int pageWidthUnits(const PageFile& f) {
  int w = gxnint(f.width * 5.0f * f.scale);
  return w < 1 ? 1 : (w > 99 ? 99 : w);
}

void pageScale(PageFile& f, float s, float xoffmm, float yoffmm) {
  f.scale = s;
  f.xoff = 100.0f * xoffmm / 2.54f;
  f.yoff = 100.0f * yoffmm / 2.54f;
}

namespace {

bool onThePage(float x, float y) {
  return x >= 0.0f && x <= kPageWidth && y >= 0.0f && y <= kPageHeight;
}

// Liang and Barsky's clipping of the segment (x0, y0)-(x1, y1) to the page:
// the parameters t0 <= t1 of the part inside, false when there is none.
bool clipSegment(float x0, float y0, float x1, float y1, float& t0, float& t1) {
  t0 = 0.0f;
  t1 = 1.0f;
  const float dx = x1 - x0, dy = y1 - y0;
  const float p[4] = {-dx, dx, -dy, dy};
  const float q[4] = {x0, kPageWidth - x0, y0, kPageHeight - y0};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0.0f) {
      if (q[i] < 0.0f) return false;  // parallel to this edge and beyond it
      continue;
    }
    const float r = q[i] / p[i];
    if (p[i] < 0.0f) {
      if (r > t1) return false;
      t0 = std::max(t0, r);
    } else {
      if (r < t0) return false;
      t1 = std::min(t1, r);
    }
  }
  return t0 <= t1;
}

}  // namespace

PageStep pageStep(PageFile& f, float X, float Y, int pen) {
  PageStep s;
  if (!std::isfinite(X) || !std::isfinite(Y)) {
    f.onPage = false;
    return s;
  }
  if (pen != 2) {
    f.onPage = onThePage(X, Y);
    s.move = f.onPage;
    s.mx = X;
    s.my = Y;
  } else {
    float t0 = 0, t1 = 1;
    const float x0 = f.lastX, y0 = f.lastY;
    if (clipSegment(x0, y0, X, Y, t0, t1)) {
      s.move = !f.onPage || t0 > 0.0f;
      s.mx = t0 > 0.0f ? x0 + t0 * (X - x0) : x0;
      s.my = t0 > 0.0f ? y0 + t0 * (Y - y0) : y0;
      s.draw = true;
      s.dx = t1 < 1.0f ? x0 + t1 * (X - x0) : X;
      s.dy = t1 < 1.0f ? y0 + t1 * (Y - y0) : Y;
      f.onPage = t1 >= 1.0f;
    } else {
      f.onPage = false;
    }
  }
  f.lastX = X;
  f.lastY = Y;
  return s;
}

// The next run number from the counter file; the one in memory plus one
// when the counter cannot be read and rewritten. After 99 comes 1.
int nextPlotRun(Lib& g, int run, const std::string& counter) {
  auto step = [](long long n) { return (n < 0 || n >= 99) ? 1 : static_cast<int>(n + 1); };
  long long n = run;
  bool ok = true;
  if (Io::exists(counter)) {
    ok = false;
    if (g.io.open(kCounterUnit, counter, OpenStatus::Old, Access::Read)) {
      ok = g.io.readListInt(kCounterUnit, &n, 1) == RdStat::Ok;
      g.io.close(kCounterUnit);
    }
  }
  if (!ok) return step(run);
  int next = step(n);
  if (!g.io.open(kCounterUnit, counter, OpenStatus::Unknown, Access::Write)) return step(run);
  g.io.write(kCounterUnit, fI(next, 5));
  if (!g.io.close(kCounterUnit)) return step(run);
  return next;
}

PageMap pageMap(Lib& g, int out, float scale, float xoff, float yoff) {
  const PlotState& p = g.plot;
  const float G = 312.5f, H = 0.0f;
  float a = p.aspect, R, T;
  if (a >= kRoot2) {
    R = 10250.0f;
    T = (10250.0f - G) / a + H;
  } else {
    T = (10250.0f - G) / kRoot2 + H;
    R = a * (T - H) + G;
  }
  float sx = 0, sy = 0;
  if (p.xmax - p.xmin == 0 || p.ymax - p.ymin == 0) {
    g.io.write(out, " X or Y range is zero!");
  } else {
    sx = (R - G) / (p.xmax - p.xmin);
    sy = (T - H) / (p.ymax - p.ymin);
  }
  PageMap m;
  m.ax = scale * sx;
  m.ay = scale * sy;
  m.bx = scale * (G - p.xmin * sx) + xoff;
  m.by = scale * (H - p.ymin * sy) + yoff;
  return m;
}

}  // namespace gx
