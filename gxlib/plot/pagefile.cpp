// What the PostScript and SVG drivers share: file names, line widths,
// scale and offsets, the run counter and the mapping onto the page.
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

int pageWidthUnits(const PageFile& f) {
  int w = gxnint(f.width * 5.0f * f.scale);
  return w < 1 ? 1 : (w > 99 ? 99 : w);
}

void pageScale(PageFile& f, float s, float xoffmm, float yoffmm) {
  f.scale = s;
  f.xoff = 100.0f * xoffmm / 2.54f;
  f.yoff = 100.0f * yoffmm / 2.54f;
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
