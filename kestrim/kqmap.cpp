// MAP: the beam spot at a chosen plane, drawn ray by ray inside a square
// window, with its captions and scale bar.
#include <algorithm>
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

constexpr double kWiden = static_cast<double>(1.05f);   // window margin round the beam
constexpr float kTextHeight = 0.75f;

std::string g12(double v) { return gx::fG(v, 12, 5, 1); }
std::string g13(double v) { return gx::fG(v, 13, 5, 1); }

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Options of the E and D qualifiers, shared with PLOT.
void setOption(Kestrim& k, char qual, char opt) {
  const bool on = qual == 'E';
  switch (opt) {
    case 'C':
      k.mapopts.captions = on ? 1 : 0;
      kqsay(k, on ? " Captions enabled." : " Captions disabled.");
      break;
    case 'W':
      k.mapopts.centred = on ? 0 : 1;
      kqsay(k, on ? " Window mode enabled." : " Window mode disabled.");
      break;
    case 'P':
      k.mapopts.paraxial = on ? 1 : 0;
      kqsay(k, on ? " Paraxial rays plotted." : " Paraxial rays not plotted.");
      break;
    default: kqsay(k, std::string(" Unknown option: ") + opt);
  }
}

// "Box edge length" and "Z" values: G10.3, or 0.0 when negligible.
std::string boxValue(double v) {
  return std::fabs(v) <= 1e-10 ? std::string("0.0") : kqstrip(gx::fG(v, 10, 3, 1));
}

// Draws the rays at plane z that fall inside the window (edges included).
void drawRays(Kestrim& k, char device, double z, float xmin, float xmax, float ymin, float ymax) {
  const int from = k.mapopts.paraxial ? 1 : 3;
  kqeach(k, from, [&](int, double x, double th, double y, double ph, double) {
    const float X = static_cast<float>(x + z * th), Y = static_cast<float>(y + z * ph);
    if (X >= xmin && X <= xmax && Y >= ymin && Y <= ymax) kqpoint(k, device, X, Y);
  });
}

// The longest decade bar that fits in 1.7 half-widths.
void scaleBar(Kestrim& k, char device, double w) {
  if (k.flags.scaleDraw == 0) return;
  for (int n = 1000000; n >= 1; n /= 10) {
    if (n / 1e6 <= 1.7 * std::fabs(w)) {
      kqscale(k, device, n, w);
      return;
    }
  }
}

}  // namespace

void kqpoint(Kestrim& k, char device, float x, float y) {
  gx::Lib& g = k.gx;
  if (k.dotMode != 0) {
    gx::gxplot(g, device, x, y, 3);
    gx::gxplot(g, device, x, y, 2);
    return;
  }
  const float s = static_cast<float>(k.dotSize);
  const float a = k.pointWx * s / 200.0f, b = k.pointWy * s / 200.0f;
  gx::gxplot(g, device, x - a, y - b, 3);
  gx::gxplot(g, device, x + a, y - b, 2);
  gx::gxplot(g, device, x + a, y + b, 2);
  gx::gxplot(g, device, x - a, y + b, 2);
  gx::gxplot(g, device, x - a, y - b, 2);
}

void kqscale(Kestrim& k, char device, int n, double w) {
  kqscaleat(k, device, n, w, -0.95 * w, -0.95 * w);
}

void kqscaleat(Kestrim& k, char device, int n, double w, double x0d, double y0d) {
  gx::Lib& g = k.gx;
  const float len = static_cast<float>(n / 1e6);
  const float x0 = static_cast<float>(x0d), y0 = static_cast<float>(y0d);
  const float t = static_cast<float>(0.025 * w);
  gx::gxplot(g, device, x0, y0 + t, 3);
  gx::gxplot(g, device, x0, y0 - t, 2);
  gx::gxplot(g, device, x0, y0, 3);
  gx::gxplot(g, device, x0 + len, y0, 2);
  gx::gxplot(g, device, x0 + len, y0 + t, 3);
  gx::gxplot(g, device, x0 + len, y0 - t, 2);
  const std::string label = "^3" + kqstrip(gx::fI(n, 10)) + " ^4l^3m";
  const float ll = gx::gxsymlen(g, kTextHeight, label, -1);
  gx::gxsymbol(g, device, x0 + ll / 2.0f, y0 + t / 2.0f, kTextHeight, 0.0f, label, -1);
}

void kqmap(Kestrim& k, char device, const std::string& argument, double w, double z) {
  gx::Lib& g = k.gx;
  const char d = upper(device);
  if (d == 'E' || d == 'D') {
    std::string a = kqstrip(argument);
    setOption(k, d, upper(a.empty() ? ' ' : a[0]));
    return;
  }
  if (d == 'R') {
    // The rays again, on the window of the previous map.
    const Kestrim::kqlastplot& p = k.lastMap;
    gx::gxbox_load(g, p.xmin, p.xmax, p.ymin, p.ymax);
    k.pointWx = k.pointWy = static_cast<float>(w);
    drawRays(k, p.device, z, p.xmin, p.xmax, p.ymin, p.ymax);
    scaleBar(k, p.device, w);
    gx::gxend(g, p.device);
    return;
  }
  const char dev = (d == ' ' || d == 'I' || d == 'J') ? 'S' : d;
  k.pointWx = k.pointWy = static_cast<float>(w);
  float xmin, xmax, ymin, ymax;
  if (k.mapopts.centred) {
    xmin = ymin = static_cast<float>(-w);
    xmax = ymax = static_cast<float>(w);
  } else {
    // Window mode: a square of the chosen half-width centred on the data.
    kqsay(k, " Using window mode.");
    const double cx = (k.extXmin + k.extXmax) / 2.0, cy = (k.extYmin + k.extYmax) / 2.0;
    xmin = static_cast<float>(cx - w);
    xmax = static_cast<float>(cx + w);
    ymin = static_cast<float>(cy - w);
    ymax = static_cast<float>(cy + w);
  }
  kqsay(k, "X limits: " + g12(1e6 * xmin) + " to " + g12(1e6 * xmax));
  kqsay(k, "Y limits: " + g12(1e6 * ymin) + " to " + g12(1e6 * ymax));
  kqsay(k, "");
  int ierr = 0;
  // The caption goes below the box (0.11 w down): the plot takes room for
  // it, the box staying square, so that it lands on the page; without it
  // the marks of rays on the box's foot still need a little.
  const float room = static_cast<float>((k.mapopts.captions ? 0.15 : 0.05) * w);
  const float aspect = (xmax - xmin) / (ymax - ymin + room);
  gx::gxstart(g, k.io.in, k.io.out, k.io.macro, std::isfinite(aspect) ? aspect : 1.0f, dev, xmin,
              xmax, ymin - room, ymax, ierr);
  if (ierr != 0) {
    kqsay(k, "Unable to plot at this time.");
    return;
  }
  gx::gxbox(g, dev, xmin, xmax, ymin, ymax);
  if (k.mapopts.captions) {
    const float u = static_cast<float>(0.1 * w);
    const std::string cap = kqstrip(k.caption);
    const float cl = gx::gxsymlen(g, kTextHeight, cap, -1);
    gx::gxsymbol(g, dev, (xmin + xmax) / 2.0f - cl / 2.0f, ymin - 1.1f * u, kTextHeight, 0.0f, cap,
                 -1);
    const std::string box = "Box edge length = " + boxValue(2e6 * w) + " ^2l^cm  Z = " +
                            boxValue(1e6 * z) + " ^2l^cm";
    gx::gxsymbol(g, dev, xmin, ymax + 0.5f * u, kTextHeight, 0.0f, box, -1);
    const std::string file = kqstrip(k.rayFile);
    const float fl = gx::gxsymlen(g, kTextHeight, file, -1);
    gx::gxsymbol(g, dev, xmax - fl, ymax + 0.5f * u, kTextHeight, 0.0f, file, -1);
  }
  drawRays(k, dev, z, xmin, xmax, ymin, ymax);
  scaleBar(k, dev, w);
  gx::gxend(g, dev);
  k.lastMap.valid = true;
  k.lastMap.device = dev;
  k.lastMap.w = w;
  k.lastMap.z = z;
  k.lastMap.xmin = xmin;
  k.lastMap.xmax = xmax;
  k.lastMap.ymin = ymin;
  k.lastMap.ymax = ymax;
}

bool kqplane(Kestrim& k, double ximg, double yimg, double& z) {
  const bool focal = k.flags.focalKnown != 0;
  const std::string prompt = focal ? "Plane for image analysis (X, Y, F, G or Other plane) > "
                                   : "Plane for image analysis (X, Y, or Other plane) > ";
  for (;;) {
    std::string reply;
    if (kqask(k, prompt, reply, 40) != gx::Reply::Ok) return false;
    const std::string a = kqstrip(reply);
    const char c = upper(a.empty() ? ' ' : a[0]);
    if (c == 'X') {
      z = ximg;
    } else if (c == 'Y') {
      z = yimg;
    } else if (c == 'F' && focal) {
      z = k.xfocal;
    } else if (c == 'G' && focal) {
      z = k.yfocal;
    } else if (c == 'O') {
      if (focal) {
        kqsay(k, "F (x focal point) " + g13(k.xfocal) + " m");
        kqsay(k, "G (y focal point) " + g13(k.yfocal) + " m");
        kqsay(k, "(Relative to end of system)");
      }
      kqsay(k, "Y Image " + g13(1e6 * yimg) + " micron");
      kqsay(k, "X Image " + g13(1e6 * ximg) + " micron");
      double a1 = 0.0;
      if (gx::gxaskupdate(k.gx, k.io.in, k.io.out, k.io.macro, " Distance (micron) > ", a1) !=
          gx::Reply::Ok)
        return false;
      z = a1 / 1e6;
    } else {
      kqsay(k, "X      X image plane");
      kqsay(k, "Y      Y image plane");
      kqsay(k, "O      Other plane");
      if (focal) {
        kqsay(k, "F      X focal point");
        kqsay(k, "G      Y focal point");
      }
      continue;
    }
    kqsay(k, "Image plotted at Z = " + g13(z) + " m");
    kqsay(k, "");
    return true;
  }
}

namespace {

// The plane of the map and its half-width w (m): the window offered takes
// in every ray, about the axis or about the data; false when the input
// ended.
bool askWindow(Kestrim& k, double ximg, double yimg, double& z, double& w) {
  if (!kqplane(k, ximg, yimg, z)) return false;
  const Extent e = kqextent(k, z, 3, false);
  const double xmin = e.xmin, xmax = e.xmax, ymin = e.ymin, ymax = e.ymax;
  kqsay(k, kqcount(k.ntot, 7) + " rays.");
  kqsay(k, "Xmin = " + g12(1e6 * xmin) + " to Xmax = " + g12(1e6 * xmax) + " micron\t\t\tXrange = " +
               g12(1e6 * (xmax - xmin)) + " micron");
  kqsay(k, "Ymin = " + g12(1e6 * ymin) + " to Ymax = " + g12(1e6 * ymax) + " micron\t\t\tYrange = " +
               g12(1e6 * (ymax - ymin)) + " micron");
  kqsay(k, "");
  k.extXmin = xmin;
  k.extXmax = xmax;
  k.extYmin = ymin;
  k.extYmax = ymax;

  if (k.mapopts.centred) {
    w = kWiden * std::max({std::fabs(xmin), std::fabs(xmax), std::fabs(ymin), std::fabs(ymax)});
    double a = 0.0;
    if (gx::gxaskupdate(k.gx, k.io.in, k.io.out, k.io.macro,
                        "Map done to +/- " + g12(1e6 * w) + " micron, other? > ", a) !=
        gx::Reply::Ok)
      return false;
    if (a != 0.0) w = std::fabs(a) / 1e6;
  } else {
    w = kWiden * std::max(xmax - xmin, ymax - ymin) / 2.0;
    double a = 0.0;
    if (gx::gxaskupdate(k.gx, k.io.in, k.io.out, k.io.macro,
                        "Map done for window width +/-" + g12(1e6 * w) +
                            " micron centred on data, other? > ",
                        a) != gx::Reply::Ok)
      return false;
    if (std::fabs(a) > 1e-10) w = std::fabs(a) / 1e6;
  }
  return true;
}

}  // namespace

void kqmapcmd(Kestrim& k, KqLine& cmd) {
  std::string line = cmd.line;
  const char qual = cmd.qual;
  const double value = cmd.value;
  const std::string arg = kqarg(line);
  if (qual == 'E' || qual == 'D') {
    const std::string a = kqstrip(arg);
    if (!a.empty() && upper(a[0]) == 'S') {
      k.flags.scaleDraw = qual == 'E' ? 1 : 0;
      kqsay(k, qual == 'E' ? "Scale drawing enabled." : "Scale drawing disabled.");
      return;
    }
    kqmap(k, qual, arg, 0.0, 0.0);
    return;
  }
  if (qual == 'R') {
    if (!k.lastMap.valid) {
      kqsay(k, "?MAP- No previous map to draw again.");
      return;
    }
    kqmap(k, 'R', arg, k.lastMap.w, k.lastMap.z);
    return;
  }
  if (k.ntot == 0) {
    kqsay(k, "? - No data for display.");
    return;
  }
  double ximg = 0.0, yimg = 0.0, z = 0.0, w = 0.0;
  kqimage(k, ximg, yimg, false);
  const bool fromRegister = qual == 'I' || qual == 'J';
  if (fromRegister) {
    z = ximg + kqregvalue(k, arg, value) / 1e6;
    w = k.areg[0] / 1e6;
  } else if (!askWindow(k, ximg, yimg, z, w)) {
    return;
  }
  // A window of no size (a beam that is one point, or a zero answer) can
  // hold no map.
  if (!(w > 0.0) || !std::isfinite(w) || !std::isfinite(z)) {
    kqsay(k, "?MAP- Zero map width: nothing drawn.");
    return;
  }
  int run = 0;
  std::string text;
  gx::gxrunup(k.gx, k.io.out, k.io.file, run, text, "kestrim.run");
  if (fromRegister) {
    std::string seq = "\x1b\x10Q" + gx::pad(text, 4) + "\x1b\x08";
    k.gx.io.raw(seq + "\n");
  } else {
    kqsay(k, "Run number " + gx::fI(run, 4) + " ......");
  }
  kqmap(k, qual, arg, w, z);
  kqsay(k, "Preparing to map at Z = " + g13(z) + " m");
  k.mapHalfWidth = w;
  k.mapPlane = z;
}

}  // namespace kestrim

