// HP-GL plot files: HP-GL/2 for page printers (device H) and HP-GL for pen
// plotters (device P), on a 10600 x 8100 plotter-unit page (0.025 mm),
// numbered from the run counter "hpnum.hgl".
#include <cmath>
#include <fstream>

#include "gxlib/fortran/fortio.h"
#include "gxlib/plot/plot.h"
#include "gxlib/plot/plotint.h"

namespace gx {

namespace {

constexpr float kPageX = 10600.0f, kPageY = 8100.0f;

// Run number from "hpnum.hgl": read, plus one, rewritten. After 99999
// comes 1; a missing counter starts at 1.
int nextRun(Lib& g, int run) {
  auto step = [](long long n) { return (n < 0 || n >= 99999) ? 1 : static_cast<int>(n + 1); };
  int next = 1;
  bool ok = true;
  if (Io::exists("hpnum.hgl")) {
    ok = false;
    std::string rec;
    if (g.io.open(kCounterUnit, "hpnum.hgl", OpenStatus::Old, Access::Read)) {
      long long n = 0;
      ok = g.io.readLine(kCounterUnit, rec) == RdStat::Ok &&
           readInt(std::string_view(rec).substr(0, std::min<size_t>(rec.size(), 5)), n);
      g.io.close(kCounterUnit);
      if (ok) next = step(n);
    }
  }
  if (ok && g.io.open(kCounterUnit, "hpnum.hgl", OpenStatus::Unknown, Access::Write)) {
    g.io.write(kCounterUnit, fI(next, 5));
    if (g.io.close(kCounterUnit)) return next;
  }
  g.io.write(g.plot.out, " Error updating run number in hprun.hgl");
  return step(run);
}

// Ends the line of point records (an empty record when there is none).
void endLine(Lib& g) {
  if (std::fstream* f = g.io.stream(kHpUnit)) *f << '\n';
  g.plot.hp.count = 0;
}

void rawOut(Lib& g, const std::string& s) {
  if (std::fstream* f = g.io.stream(kHpUnit)) *f << s;
}

// Opens the plot file, unless one is open and plots go on top of each
// other. Returns true when a new file was opened.
bool hpopen(Lib& g) {
  HpState& h = g.plot.hp;
  if (h.open && h.autoClear == 0) return false;
  if (h.open) hpquit(g);
  std::string name;
  if (!h.defined.empty()) {
    name = h.defined;
    if (name.find('.') == std::string::npos) name += ".hgl";
  } else {
    h.run = nextRun(g, h.run);
    name = std::string(1, h.device) + std::to_string(h.run) + ".hgl";
  }
  if (!h.defined.empty() && Io::exists(name)) {
    // A name the user gave is never replaced, as with the other writers.
    const std::string d(1, h.device);
    g.io.write(g.plot.out, " ?HPSTART- Unable to open plot file " + name + " (it exists); DEFINE/" +
                               d + " another name, or DEFINE/" + d + " * for numbered files.");
    h.open = false;
    return false;
  }
  g.io.write(g.plot.out, " Opening HP-GL plot file: " + name);
  h.name = name;
  h.count = 0;
  h.lastPen = 3;
  if (!g.io.open(kHpUnit, name, OpenStatus::Unknown, Access::Write)) {
    g.io.write(g.plot.out, " ?HPSTART- Unable to open plot file " + name);
    h.open = false;
    return false;
  }
  h.open = true;
  return true;
}

void hpinit(Lib& g, bool fresh) {
  HpState& h = g.plot.hp;
  if (fresh) {
    const std::string esc = "\x1b";
    if (h.device == 'H') {
      for (const std::string& r : {esc + "E", esc + "%0B", std::string("TR1;"), std::string("IN;")})
        g.io.write(kHpUnit, " " + r);
      if (!h.explicitOrient) h.vertical = 1;
    } else {
      g.io.write(kHpUnit, " " + esc + ".(" + esc + ".J" + esc + ".K" + esc + ".M:" + esc +
                              ".@;3:" + esc + ".N:");
      for (const char* r : {"IN;PU;", "PW1;", "VS18;"}) g.io.write(kHpUnit, std::string(" ") + r);
      if (!h.explicitOrient) h.vertical = 0;
    }
    g.io.write(kHpUnit, " SP1;");
    g.io.write(kHpUnit, " PW" + fF(h.width, 5, 2) + ";");
    g.io.write(kHpUnit, " SP" + fI(h.pen, 2) + ";");
    g.io.write(kHpUnit, " PU0,0;");
  }
  g.io.write(g.plot.out, h.vertical ? " Making a plot with the x-axis vertical."
                                    : " Making a plot with the x-axis horizontal.");
}

}  // namespace

void hpstart(Lib& g, char device, int inunit, int outunit, int echo, float aspect, float xmin,
             float xmax, float ymin, float ymax, int& ierr) {
  HpState& h = g.plot.hp;
  const int out = outunit < 1 ? 6 : outunit;
  char d = plotUpper(device);
  ierr = 0;
  g.io.write(out, std::string(" Starting the generation of a HP-GL file: option ") + d);
  h.device = d == 'P' ? 'P' : 'H';

  float left = 0.15f * kPageX, right = kPageX - 0.05f * kPageX;
  float bottom = 0.1f * kPageY, top = kPageY - 0.1f * kPageY;
  const float natural = (right - left) / (top - bottom);
  if (!(aspect > 1e-5f) || !std::isfinite(aspect)) aspect = natural;
  if (natural > aspect)
    right = (top - bottom) * aspect + left;
  else
    top = (right - left) / aspect + bottom;
  const float width = right - left, height = top - bottom;
  if (height < 1e-6f || !(std::fabs(ymax - ymin) >= 1e-6f)) {
    g.io.write(out, " Zero range on y-axis!");
    ierr = 1;
    return;
  }
  if (width <= 1e-6f || !(std::fabs(xmax - xmin) > 1e-6f)) {
    g.io.write(out, " Zero range on x-axis!");
    ierr = 1;
    return;
  }
  h.ax = width / (xmax - xmin);
  h.bx = left - h.ax * xmin;
  h.ay = height / (ymax - ymin);
  h.by = bottom - h.ay * ymin;
  const bool fresh = hpopen(g);
  if (!h.open) {
    ierr = 1;
    return;
  }
  hpinit(g, fresh);
}

void hpplot(Lib& g, float x, float y, int pen) {
  HpState& h = g.plot.hp;
  if (!h.open) return;
  float xp = h.ax * x * h.scale + h.bx;
  float yp = h.ay * y * h.scale + h.by;
  double X, Y;
  if (h.vertical) {
    X = kPageY - yp - h.yoff + 0.5;
    Y = h.xoff + xp + 0.5;
  } else {
    X = h.xoff + xp + 0.5;
    Y = h.yoff + yp + 0.5;
  }
  // Not clipped: the plotter clips. The fields hold five columns.
  int ix = truncClamp(X, -9999, 99999), iy = truncClamp(Y, -9999, 99999);
  if (++h.count >= 6) {
    rawOut(g, "\n");  // every sixth call starts a new line
    h.count = 0;
  }
  if (pen == 3) {
    h.moveX = ix;
    h.moveY = iy;
    h.lastPen = 3;
    return;
  }
  if (pen != 2) return;
  if (h.lastPen == 3) rawOut(g, " PU" + fI(h.moveX, 5) + "," + fI(h.moveY, 5));
  rawOut(g, " PD" + fI(ix, 5) + "," + fI(iy, 5));
  h.moveX = ix;
  h.moveY = iy;
  h.lastPen = 2;
}

void hpquit(Lib& g) {
  HpState& h = g.plot.hp;
  if (!h.open) return;
  endLine(g);
  g.io.write(kHpUnit, "\x1b%0A");
  g.io.write(kHpUnit, "\x1b" "E");
  bool ok = g.io.close(kHpUnit);
  h.open = false;
  if (!ok) g.io.write(g.plot.out, " ?HPQUIT- Error writing plot file " + h.name);
  g.io.write(g.plot.out, " HP-GL plot file closed: " + h.name);
  g.io.write(g.plot.out, h.vertical ? " Plot done with x-axis vertical"
                                    : " Plot done with x-axis horizontal");
  h.explicitOrient = false;
}

void hpscale(Lib& g, float s, float xoffmm, float yoffmm) {
  HpState& h = g.plot.hp;
  h.scale = s;
  h.xoff = xoffmm / 0.025f;
  h.yoff = yoffmm / 0.025f;
}

void hpline(Lib& g, int& p) {
  HpState& h = g.plot.hp;
  if (p == 0) {
    p = h.pen;
    return;
  }
  if (p < 0)
    h.width = std::fabs(p * 0.15f);
  else
    h.pen = p;
  if (h.open) {
    g.io.write(g.plot.out, " Setting pen width=" + fF(h.width, 5, 2) + " colour=" + fI(h.pen, 2));
    endLine(g);
    g.io.write(kHpUnit, " PW" + fF(h.width, 5, 2) + ";");
    g.io.write(kHpUnit, " SP" + fI(h.pen, 2) + ";");
    h.lastPen = 3;  // the pen command lifted the pen: the next draw moves first
  }
}

void hplands(Lib& g, int flag) {
  HpState& h = g.plot.hp;
  h.vertical = flag != 0 ? 1 : 0;
  h.explicitOrient = true;
  g.io.write(g.plot.out, h.vertical ? " HP-GL mode with x-axis vertical."
                                    : " HP-GL mode with x-axis horizontal.");
}

void hpclear(Lib& g, char flag) {
  char f = plotUpper(flag);
  if (f == 'E') g.plot.hp.autoClear = 1;
  if (f == 'D') g.plot.hp.autoClear = 0;
}

void hpfile(Lib& g, const std::string& name) {
  std::string n = trimmedName(name);
  if (n.empty()) return;
  g.plot.hp.defined = n == "*" ? std::string() : n;
}

}  // namespace gx
