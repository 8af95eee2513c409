// Tektronix 4010/4014 terminal driver: maps points to the 1024 x 768
// screen, encodes them as four address bytes, leaves out the bytes the
// protocol lets a terminal infer, and switches the emulations between
// text and graphics with their own escape sequences.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <ostream>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/plot/plot.h"
#include "gxlib/plot/plotint.h"

namespace gx {

namespace {

constexpr int ESC = 27, FF = 12, GS = 29, US = 31, CAN = 24, LF = 10, CR = 13, ETB = 23,
              ETX = 3;

const char* const kTermTypes[] = {"Tektronix 4010/4",
                                  "GRAPHON GO235 or SELANAR/VT100",
                                  "FALCO 550 window 1 is alpha",
                                  "FALCO 550 window 3 is alpha",
                                  "PERICOM at CERN",
                                  "PERICOM at Kelmor",
                                  "V500 at Harrowgap",
                                  "xterm in Farrin laboratory",
                                  "as 8 but without open/close",
                                  "MAC NSCA 4014 emulation (not recommended)"};

void sendAll(Lib& g, std::initializer_list<int> codes) {
  for (int c : codes) crsend(g, c);
}

void sendText(Lib& g, const char* s) {
  for (; *s; ++s) crsend(g, static_cast<unsigned char>(*s));
}

// Writes the queued bytes to the destination.
void writeOut(Lib& g) {
  CrState& c = g.plot.cr;
  if (c.buf.empty()) return;
  if (c.sink) {
    c.sink->write(c.buf.data(), static_cast<std::streamsize>(c.buf.size()));
    c.sink->flush();
  } else if (c.fd >= 0) {
    const char* p = c.buf.data();
    size_t left = c.buf.size();
    while (left > 0) {
      ssize_t n = ::write(c.fd, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // a destination that stopped taking bytes loses them
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
  c.buf.clear();
}

// Opens a destination for writing. A terminal, FIFO or device is written
// as it is; a regular file is started afresh (append keeps what it holds).
// Opening does not wait for a FIFO's reader: with none, the open fails.
int openDest(const std::string& name, bool append) {
  if (name.empty()) return -1;
  for (unsigned char ch : name)
    if (ch < 0x20 || ch == 0x7f) return -1;
  int flags = O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
  struct stat st {};
  bool regular = ::stat(name.c_str(), &st) != 0 || S_ISREG(st.st_mode);
  if (regular) flags |= O_CREAT | (append ? O_APPEND : O_TRUNC);
  int fd = ::open(name.c_str(), flags, 0666);
  if (fd < 0) return -1;
  int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  return fd;
}

void leaveSequence(Lib& g, int type) {
  switch (type) {
    case 2: sendAll(g, {ESC, 'O', ESC, '2'}); break;
    case 3: sendText(g, "\x1b[<1a"); break;
    case 4: sendText(g, "\x1b[<3a"); break;
    case 5: crsend(g, CAN); break;
    case 6: sendAll(g, {ESC, '\\', CAN}); break;
    case 7: sendAll(g, {CAN, LF, ETB}); break;
    case 8:
    case 9: sendAll(g, {ESC, ETX}); break;
    default: break;
  }
}

void enterSequence(Lib& g, int type) {
  switch (type) {
    case 2: sendAll(g, {ESC, '1', ESC, '*'}); break;
    case 3:
    case 4: sendText(g, "\x1b[<2a"); break;
    case 5: sendAll(g, {ESC, ':', GS}); break;
    case 6: sendAll(g, {ESC, '\\', GS}); break;
    case 7: crsend(g, CR); break;
    case 8:
    case 9: sendText(g, "\x1b[?38h"); break;
    case 10: sendAll(g, {ESC, FF}); break;
    default: break;
  }
}

// Sends the four address bytes, leaving out those the terminal keeps.
void crspit(Lib& g, const std::array<int, 4>& b) {
  CrState& c = g.plot.cr;
  const bool valid = c.bytesValid;
  const std::array<int, 4> old = c.bytes;
  for (int i = 0; i < 4; ++i) {
    bool send = !valid || b[i] != old[i] || i == 3 || (i == 1 && b[2] != old[2]);
    if (send) crsend(g, b[i]);
  }
  c.bytes = b;
  c.bytesValid = true;
}

void crpoint(Lib& g, int x, int y) {
  const CrState& c = g.plot.cr;
  if (x < c.clipXlo || x > c.clipXhi || y < c.clipYlo || y > c.clipYhi) return;
  x = x < 0 ? 0 : (x > 1023 ? 1023 : x);
  y = y < 0 ? 0 : (y > 1023 ? 1023 : y);
  crspit(g, {((y / 32) % 32 + 32) % 128, (y % 32 + 96) % 128, ((x / 32) % 32 + 32) % 128,
             (x % 32 + 64) % 128});
}

void rescale(CrState& c) {
  c.xscale = std::fabs(c.xspan) > 0 ? (c.right - c.left) / c.xspan : 0.0f;
  float d = c.xscale * c.yspan;
  c.yratio = std::fabs(d) > 0 ? (c.top - c.bottom) / d : 0.0f;
}

}  // namespace

void crstart(Lib& g, float xmin, float xmax, float ymin, float ymax) {
  PlotState& p = g.plot;
  // Drawing area on the 1024 x 768 screen for the aspect ratio, leaving
  // room for the y labels on the left.
  float a = p.aspect;
  float L = 36.25f, B = 0.0f, R, T;
  if (a >= kRoot2) {
    R = 990.0f;
    T = (990.0f - L) / a + B;
  } else {
    T = (990.0f - L) / kRoot2 + B;
    R = a * (T - B) + L;
  }
  if (a > 2.0f) {
    float f = (724.0f - (T - B)) / 2.0f;
    B += 0.75f * f;
    T += 0.75f * f;
  } else if (a <= 1.0f) {
    float f = (1023.0f - (R - L)) / 2.0f;
    L += 0.5f * f;
    R += 0.5f * f;
  }
  crscreen(g, 0, 1023, 0, 767);
  crwindow(g, L, R, B, T);
  crblow(g, xmin, xmax, ymin, ymax);
  if (p.autoClear == 1) crclear(g);
}

void crblow(Lib& g, float xmin, float xmax, float ymin, float ymax) {
  CrState& c = g.plot.cr;
  c.xmin = xmin;
  c.ymin = ymin;
  c.xspan = xmax - xmin;
  c.yspan = ymax - ymin;
  rescale(c);
  if (!c.open && !c.sink) {
    std::string star = "*";
    crdest(g, star);
  }
  if (c.type == 0) crtype(g, g.plot.in, g.plot.out, g.plot.echo, 0);
  crgmode(g, 1);
}

void crwindow(Lib& g, float left, float right, float bottom, float top) {
  CrState& c = g.plot.cr;
  c.left = left;
  c.right = right;
  c.bottom = bottom;
  c.top = top;
  rescale(c);
}

void crscreen(Lib& g, int xlo, int xhi, int ylo, int yhi) {
  CrState& c = g.plot.cr;
  c.clipXlo = xlo;
  c.clipXhi = xhi;
  c.clipYlo = ylo;
  c.clipYhi = yhi;
}

void crfactor(Lib& g, float f) { g.plot.cr.factor = f; }

void croffset(Lib& g, float xmm, float ymm) {
  g.plot.cr.xoff = xmm * 4.72f;
  g.plot.cr.yoff = ymm * 4.72f;
}

void crplot(Lib& g, float x, float y, int code) {
  const CrState& c = g.plot.cr;
  float sx = c.factor * (c.left + (x - c.xmin) * c.xscale) + c.xoff;
  float sy = c.factor * (c.bottom + c.yratio * c.xscale * (y - c.ymin)) + c.yoff;
  if (!std::isfinite(sx) || !std::isfinite(sy)) return;
  // Far off the screen is off the screen: keep the integers in range.
  crplot_abs(g, truncClamp(sx, -100000, 100000), truncClamp(sy, -100000, 100000), code);
}

void crplot_rel(Lib& g, int dx, int dy, int code) {
  const CrState& c = g.plot.cr;
  crplot_abs(g, c.lastX + dx, c.lastY + dy, code);
}

void crplot_abs(Lib& g, int ix, int iy, int code) {
  CrState& c = g.plot.cr;
  if (code < 0) {
    sendAll(g, {US, ESC, FF, GS});
    code = -code;
  }
  int pen = code % 10;
  int style = (code / 10) % 10;
  int intensity = (code / 100) % 10;
  if (pen == 1) pen = c.lastPen;
  if (c.mode == 0 || pen == 3) crgmode(g, 1);
  if (pen == 3) {
    // A dark vector to the point.
    crsend(g, US);
    crsend(g, -2);
    crsend(g, GS);
    crpoint(g, ix, iy);
    c.lastX = ix;
    c.lastY = iy;
    return;
  }
  if (style > 6) style += 17;
  bool broke = false;
  if (style != c.lastStyle) {
    sendAll(g, {ESC, 96 + style});
    broke = true;
  }
  if (intensity != c.lastIntensity) {
    sendAll(g, {ESC, '/', 48 + intensity, 'd'});
    broke = true;
  }
  if (broke) {
    // The escape sequence broke the vector: start it again from the last point.
    crsend(g, GS);
    crpoint(g, c.lastX, c.lastY);
  }
  if (pen != 0) {
    crpoint(g, ix, iy);
    c.lastX = ix;
    c.lastY = iy;
  }
  c.lastPen = pen;
  c.lastStyle = style;
  c.lastIntensity = intensity;
}

void crgmode(Lib& g, int mode) {
  CrState& c = g.plot.cr;
  if (mode == 1 || mode == 2) {
    if (c.mode == mode) return;
    if (c.mode == 1 && mode == 2) {
      crsend(g, US);
    } else if (c.mode == 2 && mode == 1) {
      crsend(g, GS);
    } else {
      enterSequence(g, c.type);
      crsend(g, mode == 1 ? GS : -1);
    }
    c.mode = mode;
    return;
  }
  if (c.mode != 0) {
    if (c.mode == 1) crsend(g, US);
    leaveSequence(g, c.type);
    crsend(g, -1);
    c.mode = 0;
    if (c.type == 8 && c.fd >= 0) {
      // This emulation shows the graphics window only while the channel
      // is open: close and reopen it.
      ::close(c.fd);
      c.fd = openDest(c.dest, true);
      c.open = c.fd >= 0;
    }
  } else {
    crsend(g, -1);
  }
}

void crreset(Lib& g) { crgmode(g, 0); }

void crclear(Lib& g) {
  CrState& c = g.plot.cr;
  if (!c.open && !c.sink) {
    std::string star = "*";
    crdest(g, star);  // the erase has to reach the terminal
  }
  crgmode(g, 1);
  if (g.plot.cr.type == 7) crsend(g, US);
  sendAll(g, {ESC, FF});
  crgmode(g, 0);
}

void crtype(Lib& g, int in, int out, int echo, int t) {
  CrState& c = g.plot.cr;
  if (t >= 1 && t <= 10) {
    c.type = t;
    return;
  }
  g.io.write(out, " Select the TEK4010/4 terminal emulation:");
  for (int i = 0; i < 10; ++i) g.io.write(out, " " + fI(i + 1, 3) + "  " + kTermTypes[i]);
  double v = 0.0, dummy = 0.0;
  // Input that ends here leaves the type as it was.
  if (gxaskupdate(g, in, out, echo, "> ", v, dummy) != Reply::Ok) return;
  int n = gxnint(v);
  if (n < 1 || n > 10) n = 1;
  c.type = n;
  g.io.write(out, " Terminal type " + std::to_string(n) + " selected.");
}

void crdest(Lib& g, std::string& name) {
  CrState& c = g.plot.cr;
  std::string nm = trimmedName(name);
  if (nm.empty()) {
    name = c.dest;
    return;
  }
  writeOut(g);
  const bool fresh = nm != "*";
  if (!fresh) nm = c.dest;
  if (c.fd >= 0) ::close(c.fd);
  c.fd = openDest(nm, !fresh);
  if (c.fd < 0) {
    g.io.write(g.plot.out, " Unable to open output to " + nm + ".");
    if (fresh) {
      c.fd = openDest(c.dest, true);
      if (c.fd < 0) g.io.write(g.plot.out, " Unable to reopen original channel: " + c.dest);
    }
  } else {
    c.dest = nm;
  }
  c.open = c.fd >= 0;
  c.bytesValid = false;
}

void crdest_stream(Lib& g, std::ostream* sink) {
  writeOut(g);
  g.plot.cr.sink = sink;
}

void crclose(Lib& g) {
  CrState& c = g.plot.cr;
  writeOut(g);
  if (c.fd >= 0) ::close(c.fd);
  c.fd = -1;
  c.open = false;
}

void crsend(Lib& g, int ch) {
  CrState& c = g.plot.cr;
  if (ch >= 0) {
    c.buf.push_back(static_cast<char>(ch & 0xff));
    if (ch <= 31) c.bytesValid = false;
    if (c.buf.size() >= 120) writeOut(g);
  } else if (ch == -1) {
    writeOut(g);
  } else if (ch == -2) {
    if (c.buf.size() >= 40) writeOut(g);
  }
}

}  // namespace gx
