// SVG plot files: the PostScript driver's landscape page, 11 by 8.5 inch in
// thousandths of an inch, as an image any web browser shows. The mapping,
// the pinning of points at the page limits, the line widths and the pen
// colours are those of the PostScript files, so the two show the same plot;
// text arrives as the stroke fonts' pen moves and is drawn as paths, so the
// file needs no fonts. Runs of draws with one stroke become one path
// element. Files are numbered from the run counter "svgnum.run".
#include <charconv>
#include <cmath>
#include <cstdio>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/plot/plot.h"
#include "gxlib/plot/plotint.h"

namespace gx {

namespace {

constexpr int kSheetWidth = 11000;  // page units (1/1000 inch)
constexpr int kSheetHeight = 8500;
// Long paths are cut into elements of at most this many draws, and their
// data into lines of about a hundred characters.
constexpr int kMaxSegments = 4000;
constexpr size_t kLineLength = 100;

bool endsWithSvg(const std::string& n) {
  if (n.size() < 4) return false;
  std::string e = n.substr(n.size() - 4);
  for (char& c : e) c = plotUpper(c);
  return e == ".SVG";
}

// Text for an attribute or element: the markup characters escaped, and
// anything outside printable ASCII shown as "?" so the file stays valid.
std::string xmlText(const std::string& t) {
  std::string r;
  for (unsigned char c : t) {
    switch (c) {
      case '&': r += "&amp;"; break;
      case '<': r += "&lt;"; break;
      case '>': r += "&gt;"; break;
      case '"': r += "&quot;"; break;
      default: r += (c < 0x20 || c >= 0x7f) ? '?' : static_cast<char>(c);
    }
  }
  return r;
}

std::string rgb(int colour) {
  static constexpr char kHex[] = "0123456789abcdef";
  float r, gr, b;
  pscolour(colour, r, gr, b);
  std::string h = "#";
  for (float v : {r, gr, b}) {
    const int u = gxnint(255.0f * v);
    h += kHex[u / 16];
    h += kHex[u % 16];
  }
  return h;
}

// One path command: the letter and the point, y counted down from the top.
void putPoint(std::string& line, char cmd, int x, int y) {
  char bx[12] = {}, by[12] = {};
  char* ex = std::to_chars(bx, bx + sizeof bx, x).ptr;
  char* ey = std::to_chars(by, by + sizeof by, kSheetHeight - y).ptr;
  line += cmd;
  line.append(bx, static_cast<size_t>(ex - bx));
  line += ' ';
  line.append(by, static_cast<size_t>(ey - by));
}

void closePath(Lib& g) {
  SvgState& s = g.plot.svg;
  if (!s.inPath) return;
  s.line += "\"/>";
  g.io.write(kSvgUnit, s.line);
  s.line.clear();
  s.inPath = false;
  s.segments = 0;
}

void openPath(Lib& g, int width, int colour) {
  SvgState& s = g.plot.svg;
  // A browser shows the page about a thousand pixels wide, so the
  // PostScript widths (5 units for LINE's 1) would be half a pixel and
  // grey: each stroke is drawn 15 units (about 1.4 pixels) wider.
  s.line = "<path stroke=\"" + rgb(colour) + "\" stroke-width=\"" + std::to_string(width + 15) +
           "\" d=\"";
  s.inPath = true;
  s.pathWidth = width;
  s.pathColour = colour;
  s.segments = 0;
  s.moved = true;  // a new element starts at the current point
}

// The run counter of the numbered files. Its name must not look like a
// picture: the counter once called "num.svg" is taken over under the new
// name when it is found.
std::string counterFile() {
  const char* kCounter = "svgnum.run";
  if (!Io::exists(kCounter) && Io::exists("num.svg")) std::rename("num.svg", kCounter);
  return kCounter;
}

bool openFile(Lib& g, int out) {
  SvgState& s = g.plot.svg;
  s.name = pageFileName(s, ".svg");
  if (refuseDefined(g, out, s, "?SVGSTART", 'V')) {
    s.open = false;
    return false;
  }
  if (!g.io.open(kSvgUnit, s.name, OpenStatus::Unknown, Access::Write)) {
    g.io.write(out, " ?SVGSTART- Unable to open plot file " + s.name + g.io.reason());
    s.open = false;
    return false;
  }
  const std::string w = std::to_string(kSheetWidth), h = std::to_string(kSheetHeight);
  g.io.write(kSvgUnit, "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>");
  g.io.write(kSvgUnit, "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"11in\" "
                       "height=\"8.5in\" viewBox=\"0 0 " + w + " " + h + "\">");
  g.io.write(kSvgUnit, "<title>" + xmlText(s.name) + "</title>");
  g.io.write(kSvgUnit, "<rect width=\"" + w + "\" height=\"" + h + "\" fill=\"#ffffff\"/>");
  g.io.write(kSvgUnit, "<g fill=\"none\" stroke-linecap=\"round\" stroke-linejoin=\"round\">");
  s.open = true;
  s.inPath = false;
  s.line.clear();
  // The pen starts at the page's corner, as on the PostScript page.
  s.curX = s.curY = 0;
  s.moved = true;
  s.lastX = s.lastY = 0.0f;
  s.onPage = true;
  return true;
}

bool closeFile(Lib& g) {
  SvgState& s = g.plot.svg;
  closePath(g);
  g.io.write(kSvgUnit, "</g>");
  g.io.write(kSvgUnit, "</svg>");
  s.open = false;
  if (!g.io.close(kSvgUnit)) {
    // The unit keeps what was there before: nothing half-written.
    g.io.write(g.plot.out, " ?SVGEND- Error writing plot file " + s.name + g.io.reason());
    return false;
  }
  return true;
}

}  // namespace

void svgstart(Lib& g, int inunit, int outunit) {
  SvgState& s = g.plot.svg;
  const int out = outunit < 1 ? 6 : outunit;
  if (s.open) {
    closePath(g);
    if (s.autoClear == 1) {
      if (closeFile(g)) g.io.write(out, " Plot written to: " + s.name);
      if (s.defined.empty()) s.run = nextPlotRun(g, s.run, counterFile());
      openFile(g, out);
    }
  } else {
    if (s.defined.empty()) s.run = nextPlotRun(g, s.run, counterFile());
    openFile(g, out);
  }
  if (!s.open) return;

  const PageMap m = pageMap(g, out, s.scale, s.xoff, s.yoff);
  s.ax = m.ax, s.ay = m.ay, s.bx = m.bx, s.by = m.by;
  // The file is complete only when it is closed.
  g.io.write(out, " Plot going to: " + s.name + " (open, complete at CLOSE)");
}

void svgplot(Lib& g, float x, float y, int pen) {
  SvgState& s = g.plot.svg;
  if (!s.open) return;
  // What lies beyond the PostScript file's page is clipped at its edge.
  const PageStep step = pageStep(s, s.ax * x + s.bx, s.ay * y + s.by, pen);
  if (step.move) {
    s.moved = true;
    s.curX = truncClamp(step.mx, 1, 11500);
    s.curY = truncClamp(step.my, 1, 9999);
  }
  if (step.draw) {
    const int ix = truncClamp(step.dx, 1, 11500), iy = truncClamp(step.dy, 1, 9999);
    const int w = pageWidthUnits(s), c = gxnint(s.colour);
    if (!s.inPath || w != s.pathWidth || c != s.pathColour || s.segments >= kMaxSegments) {
      closePath(g);
      openPath(g, w, c);
    }
    if (s.moved) {
      putPoint(s.line, 'M', s.curX, s.curY);
      s.moved = false;
    }
    putPoint(s.line, 'L', ix, iy);
    ++s.segments;
    if (s.line.size() >= kLineLength) {
      g.io.write(kSvgUnit, s.line);
      s.line.clear();
    }
    s.curX = ix;
    s.curY = iy;
  } else if (pen == 2 || !step.move) {
    s.moved = true;  // off the page: the next draw starts afresh
  }
}

void svgclear(Lib& g) {
  if (g.plot.svg.open) closePath(g);
}

void svgend(Lib& g) {
  SvgState& s = g.plot.svg;
  if (!s.open) return;
  if (closeFile(g)) g.io.write(g.plot.out, " Plot output file " + s.name + " closed.");
}

void svgtext(Lib& g, const std::string& text) {
  SvgState& s = g.plot.svg;
  if (!s.open) return;
  closePath(g);
  g.io.write(kSvgUnit, "<g><title>" + xmlText(text) + "</title>");
}

void svgtextend(Lib& g) {
  SvgState& s = g.plot.svg;
  if (!s.open) return;
  closePath(g);
  g.io.write(kSvgUnit, "</g>");
}

void svgscale(Lib& g, float s, float xoffmm, float yoffmm) { pageScale(g.plot.svg, s, xoffmm, yoffmm); }

void svgwidset(Lib& g, float w) { g.plot.svg.width = w; }

void svgcolset(Lib& g, float c) { g.plot.svg.colour = c; }

void svgoutput(Lib& g, const std::string& name) {
  std::string n = trimmedName(name);
  if (n.empty()) return;
  if (n == "*") {
    g.plot.svg.defined.clear();
    return;
  }
  // One name for all devices must not make the SVG file replace the
  // PostScript one: it always ends in .svg.
  g.plot.svg.defined = endsWithSvg(n) ? n : n + ".svg";
}

}  // namespace gx
