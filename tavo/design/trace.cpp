// The edge ray through the lens system: the ray at any z from the system
// truncated there (truncatedSystem), and TRACE, which follows it from one z to
// another, tests it against slits and apertures, plots it with the
// elements and can save every point in trace.dat.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/plot/plot.h"
#include "tavo/design/design.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/talk.h"
#include "tavo/system/system.h"

namespace tavo {

void truncatedSystem(Tavo& s, int order, double z, double dz, int& iz, Mat4& a, double ray[4]) {
  const int end = std::clamp(s.syspa, 3, kRows);
  const tavo_bdata keep = s.bdata;
  const int keepEnd = s.syspa;
  double za = 0.0, zb = 0.0;
  int found = 0;
  for (int r = 3; r <= end; ++r) {
    const int raw = rawCode(s, r);
    if (raw >= 20) continue;
    za = zb;
    zb = za + s.bdata(r, 2);
    if (z < zb || (raw == 5 && z < zb + dz)) {
      found = r;
      break;
    }
  }
  if (found != 0) {
    iz = found;
    s.bdata(found, 2) = z - za;
    int next = found + 1;
    while (next <= kRows && rawCode(s, next) >= 20) {
      s.bdata(next, 2) = z - za;
      ++next;
    }
    if (next <= kRows) {
      for (int c = 1; c <= kCols; ++c) s.bdata(next, c) = 0.0;
      s.bdata(next, 1) = 9.0;
    }
  } else {
    // Beyond the system end: a drift from the end to z.
    iz = end;
    double zlen = 0.0;
    for (int r = 3; r <= end; ++r)
      if (rawCode(s, r) < 20) zlen += s.bdata(r, 2);
    if (end < kRows) {
      for (int c = 1; c <= kCols; ++c) s.bdata(end, c) = 0.0;
      s.bdata(end, 1) = 3.0;
      s.bdata(end, 2) = z - zlen;
      for (int c = 1; c <= kCols; ++c) s.bdata(end + 1, c) = 0.0;
      s.bdata(end + 1, 1) = 9.0;
    }
  }
  stigmat(s, order, a);
  for (int k = 0; k < 4; ++k) ray[k] = s.trace.ray[k];
  vecmul(s, order, ray, a);
  for (int k = 0; k < 4; ++k) s.trace.point[k] = s.bspec[k];
  // The rest of the program sees the whole system again.
  s.bdata = keep;
  s.syspa = keepEnd;
  Mat4 full;
  stigmat(s, order, full);
}

}  // namespace tavo

namespace tavo {

namespace {

std::string g125(double v) { return gx::fG(v, 12, 5, 1); }

float fl(double v) { return static_cast<float>(v); }

float clampf(double v, double lo, double hi) {
  return fl(std::min(std::max(v, lo), hi));
}

// Lengths of the rows that take room along z (superimposed rows do not).
double rowLength(const Tavo& s, int r) { return rawCode(s, r) < 20 ? s.bdata(r, 2) : 0.0; }

// One traced point.
struct Point {
  int iz = 0, code = 0;
  double z = 0, x = 0, t = 0, y = 0, p = 0;
};

void savePoint(Tavo& s, const Point& q) {
  s.gx.io.write(s.inout.sysout, " " + gx::fI(q.iz, 2) + ":" + gx::fI(q.code, 2) + " z:" +
                                    g125(q.z) + "," + g125(q.x * 1000.0) + "," +
                                    g125(q.t * 1000.0) + "," + g125(q.y * 1000.0) + "," +
                                    g125(q.p * 1000.0));
}

// The frame and the texts of a new plot: the file name over the right end,
// the axis titles and the title. ux, uy receive the plot's units.
void drawFrame(Tavo& s, char dev, float& ux, float& uy) {
  gx::Lib& g = s.gx;
  const tavtrace& t = s.trace;
  const double zs = t.zstart, ze = t.zend, lo = t.lo, hi = t.hi;
  if (t.wait > 1e-10f) gx::gxdelay(t.wait);
  gx::gxbox(g, dev, fl(zs), fl(ze), fl(lo), fl(hi));
  gx::gxunit(g, ux, uy);
  const float xsym = gx::gxmark(g, dev, 6, 6, 1.1f);
  const std::string file(gx::trimRight(s.file));
  if (!file.empty())
    gx::gxsymbol(g, dev, fl(ze) - gx::gxsymlen(g, 0.75f, file, -1), fl(hi) + 3.0f * uy, 0.75f,
                 0.0f, file, -1);
  const std::string zt = "z-axis (m)";
  gx::gxsymbol(g, dev, fl((zs + ze) / 2.0) - gx::gxsymlen(g, 1.0f, zt, -1) / 2.0f,
               fl(lo) - 3.5f * uy, 1.0f, 0.0f, zt, -1);
  const std::string yt = "x- and y-axes (mm)";
  const float ylen = ux != 0.0f ? gx::gxsymlen(g, 1.0f, yt, -1) / ux * uy : 0.0f;
  gx::gxsymbol(g, dev, xsym, fl((lo + hi) / 2.0) - ylen / 2.0f, 1.0f, 90.0f, yt, -1);
  std::string title = s.title;
  gx::gxlead(g, title);
  title = std::string(gx::trimRight(title));
  if (!title.empty())
    gx::gxsymbol(g, dev, fl((zs + ze) / 2.0) - gx::gxsymlen(g, 1.0f, title, -1) / 2.0f,
                 fl(hi) + uy, 1.0f, 0.0f, title, -1);
}

// The elements in the window: a slit as a bar across with its opening, a
// lens as a frame at the top and bottom with its bore radius drawn.
void drawElements(Tavo& s, char dev, float uy) {
  gx::Lib& g = s.gx;
  const tavtrace& t = s.trace;
  const double zs = t.zstart, ze = t.zend, lo = t.lo, hi = t.hi;
  const int end = std::clamp(s.syspa, 3, kRows);
  double zb = 0.0;
  const double mid = (lo + hi) / 2.0;
  for (int r = 3; r <= end; ++r) {
    const TypeCode tc = decodeType(s, s.bdata(r, 1));
    const double za = zb;
    zb = za + rowLength(s, r);
    if (tc.superposed) continue;
    if (tc.kind == 5) {
      if (za > ze || zb <= zs) continue;
      const float zc = clampf(za, zs, ze);
      const double c = s.bdata(r, 3), w = s.bdata(r, 4);
      gx::gxplot(g, dev, zc, fl(lo), 3);
      gx::gxplot(g, dev, zc, clampf((c - w / 2.0) * 1000.0 + mid, lo, hi), 2);
      gx::gxplot(g, dev, zc, clampf((c + w / 2.0) * 1000.0 + mid, lo, hi), 3);
      gx::gxplot(g, dev, zc, fl(hi), 2);
    } else if (tc.field != 0) {
      if (za > ze || zb < zs) continue;
      const float a = clampf(za, zs, ze), b = clampf(zb, zs, ze);
      const float top = fl(hi), bot = fl(lo);
      gx::gxplot(g, dev, a, top, 3);
      gx::gxplot(g, dev, a, top - 5.0f * uy, 2);
      gx::gxplot(g, dev, b, top - 5.0f * uy, 2);
      gx::gxplot(g, dev, b, top, 2);
      gx::gxplot(g, dev, a, bot, 3);
      gx::gxplot(g, dev, a, bot + 5.0f * uy, 2);
      gx::gxplot(g, dev, b, bot + 5.0f * uy, 2);
      gx::gxplot(g, dev, b, bot, 2);
      const double ap = 1000.0 * s.bdata(r, 4);
      for (double y : {ap, -ap}) {
        if (y < lo || y > hi) continue;
        gx::gxplot(g, dev, a, fl(y), 3);
        gx::gxplot(g, dev, b, fl(y), 2);
      }
    }
  }
}

// The line style of the y trajectory: x is drawn solid, y dashed.
constexpr int kYStyle = 1;

// The key to the two trajectories, above the frame's left end: a stretch
// of each line and its name.
void drawKey(gx::Lib& g, char dev, float z, float y, float ux, float uy) {
  constexpr float h = 0.75f;
  const float mid = y + 0.35f * h * uy;
  for (int k = 0; k < 2; ++k) {
    const float z0 = z + 6.0f * static_cast<float>(k) * ux;
    gx::gxline(g, k == 0 ? 0 : kYStyle);
    gx::gxplot(g, dev, z0, mid, 3);
    gx::gxplot(g, dev, z0 + 3.0f * ux, mid, 2);
    gx::gxline(g, 0);
    gx::gxsymbol(g, dev, z0 + 3.5f * ux, y, h, 0.0f, k == 0 ? "x" : "y", -1);
  }
}

// One named mark on the axis: where it stands and on which side.
struct Mark {
  double z;
  std::string text;
  bool above;
};

// The names of the marks, small, beside the axis beyond the longest tick
// (3 units); a name that would overlap one already placed on its side
// moves a row further out. Names are kept inside the frame.
void nameMarks(gx::Lib& g, char dev, std::vector<Mark> marks, double zs, double ze, float uy) {
  constexpr float h = 0.6f, row = 2.2f * h;
  std::sort(marks.begin(), marks.end(), [](const Mark& a, const Mark& b) { return a.z < b.z; });
  std::vector<std::vector<std::pair<double, double>>> rows[2];
  const double gap = 0.01 * (ze - zs);
  for (const Mark& m : marks) {
    if (m.z < zs || m.z > ze) continue;
    const double w = gx::gxsymlen(g, h, m.text, -1);
    const double a = std::clamp(m.z - w / 2.0, zs, std::max(zs, ze - w)), b = a + w;
    auto& side = rows[m.above ? 0 : 1];
    size_t r = 0;
    for (; r < side.size() && r < 4; ++r) {
      bool free = true;
      for (const auto& [ra, rb] : side[r]) free = free && (b + gap < ra || a > rb + gap);
      if (free) break;
    }
    if (r == side.size()) side.emplace_back();
    side[r].push_back({a, b});
    const float off = (3.3f + row * static_cast<float>(r)) * uy;
    const float y = m.above ? off : -off - h * uy;
    gx::gxsymbol(g, dev, fl(a), y, h, 0.0f, m.text, -1);
  }
}

// The system end, the principal planes and the dashed axis.
void drawMarks(Tavo& s, char dev, double zlen, float ux, float uy) {
  gx::Lib& g = s.gx;
  const tavtrace& t = s.trace;
  const double zs = t.zstart, ze = t.zend, lo = t.lo, hi = t.hi;
  auto tick = [&](double z, double y0, double y1) {
    if (z < zs || z > ze) return;
    gx::gxplot(g, dev, fl(z), fl(y0), 3);
    gx::gxplot(g, dev, fl(z), fl(y1), 2);
  };
  std::vector<Mark> marks;
  if (zs < zlen && zlen < ze) {
    tick(zlen, -3.0 * uy, 3.0 * uy);
    marks.push_back({zlen, "system end", true});
  }
  Mat4 a;
  stigmat(s, 1, a);
  const LensParams lp = light(s, s.syspa, a);
  // H and H' the object- and image-side principal planes of each plane of
  // motion: x above the axis, y below.
  tick(lp.px, 0.0, 2.0 * uy);
  tick(zlen - lp.qx, 0.0, 2.5 * uy);
  tick(lp.py, 0.0, -2.0 * uy);
  tick(zlen - lp.qy, 0.0, -2.5 * uy);
  marks.push_back({lp.px, "H^Dx", true});
  marks.push_back({zlen - lp.qx, "H'^Dx", true});
  marks.push_back({lp.py, "H^Dy", false});
  marks.push_back({zlen - lp.qy, "H'^Dy", false});
  nameMarks(g, dev, marks, zs, ze, uy);
  drawKey(g, dev, fl(zs), fl(hi) + 3.0f * uy, ux, uy);
  if (ux > 0.0f && lo <= 0.0 && hi >= 0.0) {
    const double dash = ux / 2.0;
    const long long ndash = static_cast<long long>((ze - zs) / ux) + 1;
    for (long long k = 0; k < ndash && k < 100000; ++k) {
      const double z0 = zs + static_cast<double>(k) * ux;
      if (z0 > ze) break;
      gx::gxplot(g, dev, fl(z0), 0.0f, 3);
      gx::gxplot(g, dev, fl(std::min(z0 + dash, ze)), 0.0f, 2);
    }
  }
}

// A new plot with the system drawn on it. False when the plot could not
// be started.
bool drawSystem(Tavo& s, char dev, double zlen) {
  const tavtrace& t = s.trace;
  const double zs = t.zstart, ze = t.zend, lo = t.lo, hi = t.hi;
  const double h = 0.05 * (ze - zs), gm = 0.05 * (hi - lo);
  int ierr = 0;
  gx::gxstart(s.gx, s.inout.cmd, s.inout.term, s.imacr, 1.4142135f, dev, fl(zs - 4.0 * h),
              fl(ze + h), fl(lo - 4.0 * gm), fl(hi + gm), ierr);
  if (ierr != 0) {
    say(s, "Error starting plot.");
    say(s, "");
    return false;
  }
  float ux = 0.0f, uy = 0.0f;
  drawFrame(s, dev, ux, uy);
  drawElements(s, dev, uy);
  gx::gxend(s.gx, dev);
  drawMarks(s, dev, zlen, ux, uy);
  return true;
}

// The trajectory file trace.dat, when TRACE/E S asked for it. True when
// the points are to be written.
bool openTraceFile(Tavo& s) {
  auto& io = s.gx.io;
  if (!s.trace.save) return false;
  if (io.isOpen(s.inout.sysout)) io.close(s.inout.sysout);
  if (!io.open(s.inout.sysout, "trace.dat", gx::OpenStatus::Replace, gx::Access::Write)) {
    gx::gxfail(s.gx);
    say(s, "Unable to open trace.dat; the trajectories are not saved.");
    return false;
  }
  io.write(s.inout.sysout, " iz:it z (m),  x (mm), theta (mr), y(mm), phi (mr)");
  say(s, " Trajectories to be saved in trace.dat");
  return true;
}

// The initial ray from the beam row, kept with the table as traced.
void initialRay(Tavo& s, bool repeat) {
  tavtrace& t = s.trace;
  t.copy = s.bdata;
  for (int k = 0; k < 4; ++k) {
    t.ray[k] = s.bdata(2, k + 2);
    s.bdata(2, k + 7) = t.ray[k];
  }
  if (repeat) return;
  say(s, "Inital beam: (" + g125(t.ray[0] * 1e6) + "um," + g125(t.ray[1] * 1e3) + "mr," +
             g125(t.ray[2] * 1e6) + "um," + g125(t.ray[3] * 1e3) + "mr)");
  say(s, "Trace performed to order " + gx::fI(t.order, 9));
}

// The z range of the trace, asked with 0 to 1.05 system lengths offered.
// False when the input ended.
bool askZRange(Tavo& s, double zlen, double& zs, double& ze) {
  zs = 0.0;
  ze = static_cast<double>(1.05f) * zlen;
  for (;;) {
    const std::string text = " Initial and final z-positions (" + g125(zs) + " to " + g125(ze) + ") > ";
    if (gx::gxaskupdate(s.gx, s.inout.cmd, s.inout.term, s.imacr, text, zs, ze) != gx::Reply::Ok)
      return false;
    if (std::isfinite(zs) && std::isfinite(ze) && std::fabs(zs) < 1e6 && std::fabs(ze) < 1e6)
      return true;
    zs = 0.0;
    ze = static_cast<double>(1.05f) * zlen;
  }
}

// The step count from the argument (250 without one), the step at least
// 0.1 mm and the count at most 100000; ze moves out to one step at least.
int stepCount(Tavo& s, double value, double zs, double& ze, double& dz) {
  int n = value >= 1.0 && value < 1e9 ? static_cast<int>(value + 0.5) : 250;
  if (n < 1) n = 250;
  dz = (ze - zs) / n;
  say(s, "Step size = " + g125(dz * 1000.0) + " mm");
  if (dz < static_cast<double>(1.0e-4f)) {
    say(s, "Resetting step size to 0.1 mm");
    dz = static_cast<double>(1.0e-4f);
    ze = std::max(ze, zs + dz);
  }
  // At most 100000 steps: the step count follows the range.
  const double steps = std::floor((ze - zs) / dz + 0.5);
  return static_cast<int>(std::min(std::max(steps, 1.0), 100000.0));
}

// The ray's extents in x (ext[0..1]) and y (ext[2..3]) from the ends of the
// range and the middle and end of every element between them.
void rayExtents(Tavo& s, double zs, double ze, double dz, double ext[4]) {
  const tavtrace& t = s.trace;
  const int end = std::clamp(s.syspa, 3, kRows);
  int iz0, iz1;
  Mat4 a;
  double r0[4], r1[4];
  truncatedSystem(s, t.order, zs, dz, iz0, a, r0);
  truncatedSystem(s, t.order, ze, dz, iz1, a, r1);
  ext[0] = std::min(r0[0], r1[0]);
  ext[1] = std::max(r0[0], r1[0]);
  ext[2] = std::min(r0[2], r1[2]);
  ext[3] = std::max(r0[2], r1[2]);
  say(s, "Initial: " + gx::fI(iz0, 3) + " Final: " + gx::fI(iz1, 3));
  double z = 0.0;
  for (int r = 3; r < iz0; ++r) z += rowLength(s, r);
  for (int r = iz0; r <= iz1 && r <= end; ++r) {
    if (rawCode(s, r) >= 20) continue;
    for (int half = 0; half < 2; ++half) {
      z += s.bdata(r, 2) / 2.0;
      if (z > ze) continue;
      int iz;
      double rr[4];
      truncatedSystem(s, t.order, z, dz, iz, a, rr);
      ext[0] = std::min(ext[0], rr[0]);
      ext[1] = std::max(ext[1], rr[0]);
      ext[2] = std::min(ext[2], rr[2]);
      ext[3] = std::max(ext[3], rr[2]);
    }
  }
}

// The transverse range of the plot (mm), 1.25 times the largest extent
// offered. False when the input ended.
bool askPlotExtent(Tavo& s, const double ext[4], double& lo, double& hi) {
  const double e = std::max(std::fabs(std::min(ext[0], ext[2])), std::fabs(std::max(ext[1], ext[3]))) * 1000.0;
  lo = -1.25 * e;
  hi = 1.25 * e;
  if (!(hi > lo)) {
    lo = -1.0;   // a beam of no extent: one millimetre either side
    hi = 1.0;
  }
  auto mm = [](double v) { return gx::fG(v * 1000.0, 12, 5, 1); };
  auto& io = s.gx.io;
  io.write(s.inout.term, gx::fX(9) + "Extents in xoz plane: " + mm(ext[0]) + " to " + mm(ext[1]) + " mm");
  io.write(s.inout.term, gx::fX(9) + "Extents in yoz plane: " + mm(ext[2]) + " to " + mm(ext[3]) + " mm");
  for (;;) {
    const double lo0 = lo, hi0 = hi;
    const std::string text = gx::fX(9) + "Extent for plot, mm ( " + g125(lo) + " to " + g125(hi) + ") > ";
    if (gx::gxaskupdate(s.gx, s.inout.cmd, s.inout.term, s.imacr, text, lo, hi) != gx::Reply::Ok)
      return false;
    if (std::isfinite(lo) && std::isfinite(hi) && hi > lo) return true;
    lo = lo0;
    hi = hi0;
  }
}

// A new plot window: the z range, the steps and the transverse range,
// asked and stored. False when the input ended.
bool newWindow(Tavo& s, double value, double zlen) {
  tavtrace& t = s.trace;
  s.syspb.totlen = zlen;
  say(s, "Perform a trace through the system.");
  double zs, ze;
  if (!askZRange(s, zlen, zs, ze)) return false;
  double dz = 0.0;
  const int n = stepCount(s, value, zs, ze, dz);
  double ext[4];
  rayExtents(s, zs, ze, dz, ext);
  double lo, hi;
  if (!askPlotExtent(s, ext, lo, hi)) return false;
  t.zstart = fl(zs);
  t.zend = fl(ze);
  t.lo = fl(lo);
  t.hi = fl(hi);
  t.nsteps = n;
  t.plotted = true;
  return true;
}

// Where the ray q at step m leaves the opening of row iz: a slit stops the
// plane it cuts (sx, sy take the last step inside), a lens's bore both.
void collimate(Tavo& s, int iz, const Point& q, int m, int n, int& sx, int& sy) {
  const TypeCode tc = decodeType(s, s.bdata(iz, 1));
  if (tc.superposed || tc.kind == 2) return;
  if (tc.kind == 5) {
    const double c = s.bdata(iz, 3), w = s.bdata(iz, 4) / 2.0;
    if (std::abs(tc.coupling) < 2) {
      if ((q.x < c - w || q.x > c + w) && sx == n + 1) sx = m - 1;
    } else {
      if ((q.y < c - w || q.y > c + w) && sy == n + 1) sy = m - 1;
    }
  } else if (tc.field != 0) {
    const double rad = s.bdata(iz, 4);
    if (rad > 0.0 && std::hypot(q.x, q.y) > rad) {
      if (sx == n + 1) sx = m;
      if (sy == n + 1) sy = m;
    }
  }
}

// The x and y trajectories over the stored window in n steps, plotted up to
// where they are stopped, and saved when asked.
void traceRays(Tavo& s, char dev, int n, bool saving) {
  const tavtrace& t = s.trace;
  const double zs = t.zstart, ze = t.zend, lo = t.lo, hi = t.hi;
  const double dz = (ze - zs) / n;
  std::vector<Point> pts;
  pts.reserve(static_cast<size_t>(n) + 1);
  int sx = n + 1, sy = n + 1;
  for (int m = 1; m <= n + 1; ++m) {
    const double z = zs + (m - 1) * dz;
    if (z > ze + 1e-9 * std::fabs(dz)) break;
    int iz;
    Mat4 a;
    double rr[4];
    truncatedSystem(s, t.order, z, dz, iz, a, rr);
    Point q;
    q.iz = iz;
    q.code = rawCode(s, iz);
    q.z = z;
    q.x = t.point[0];
    q.t = t.point[1];
    q.y = t.point[2];
    q.p = t.point[3];
    pts.push_back(q);
    if (saving) savePoint(s, q);
    if (t.collimate) collimate(s, iz, q, m, n, sx, sy);
    if (m <= std::min(sx, sy))
      gx::gxplot(s.gx, dev, fl(z), clampf(q.x * 1000.0, lo, hi), m == 1 ? 3 : 2);
  }
  // The y trajectory over the same points, dashed.
  gx::gxline(s.gx, kYStyle);
  for (size_t k = 0; k < pts.size(); ++k) {
    const int m = static_cast<int>(k) + 1;
    if (saving) savePoint(s, pts[k]);
    if (m <= std::min(sx, sy))
      gx::gxplot(s.gx, dev, fl(pts[k].z), clampf(pts[k].y * 1000.0, lo, hi), m == 1 ? 3 : 2);
  }
  gx::gxline(s.gx, 0);
  gx::gxend(s.gx, dev);
  say(s, "nstep:" + gx::fI(n, 12) + " icollx:" + gx::fI(sx, 12) + " icolly:" + gx::fI(sy, 12));
}

}  // namespace

void trace(Tavo& s, char option, double value) {
  auto& io = s.gx.io;
  tavtrace& t = s.trace;
  const bool repeat = option == 'R';
  if (repeat && !t.plotted) {
    say(s, "%TRACE- No earlier trace to repeat.");
    return;
  }
  const bool saving = openTraceFile(s);
  initialRay(s, repeat);
  const int end = std::clamp(s.syspa, 3, kRows);
  double zlen = 0.0;
  for (int r = 3; r <= end; ++r) zlen += rowLength(s, r);
  char dev = option;
  if (repeat) {
    dev = t.device;
    gx::gxbox_load(s.gx, t.zstart, t.zend, t.lo, t.hi);
  } else {
    t.device = dev;
    if (!newWindow(s, value, zlen) || !drawSystem(s, dev, zlen)) {
      if (saving) io.close(s.inout.sysout, false);
      return;
    }
  }
  traceRays(s, dev, t.nsteps, saving);
  if (saving) {
    if (io.close(s.inout.sysout))
      say(s, " Closing trajectory file: trace.dat");
    else
      say(s, "?TRACE- Unable to write trace.dat" + io.reason() + "; the trajectories are not saved.");
  }
}

}  // namespace tavo
