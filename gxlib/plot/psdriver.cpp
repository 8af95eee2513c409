// PostScript plot files: a fixed prologue that scales the page to
// thousandths of an inch in landscape, then compact move/draw records
// packed five to a line. Files are numbered from the run counter "num.ps".
#include <cmath>
#include <cstring>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/plot/plot.h"
#include "gxlib/plot/plotint.h"

namespace gx {

namespace {

// The document's structure comments come first (the bounding box and the
// page count at the end, once the plot is drawn); the prologue follows.
const char* const kProlog[] = {
    "%%BeginProlog",
    "%% K.V. Postscript V1.1 (4/7/87)",
    "%% Macro definitions",
    "/il { moveto } def",
    "/vl { lineto currentpoint stroke moveto } def",
    "/pt { moveto currentpoint currentpoint 1 0 360 arc",
    "stroke moveto } def",
    "/SLW { setlinewidth } def",
    "%%EndProlog",
    // The plot is an 11 by 8.26 inch landscape page, inside both A4 and US
    // Letter: the paper at hand is asked for in landscape, and where it
    // stays upright the page is turned; either way the plot is centred,
    // 0.15 inch (10.8 points) in from the sheet they share.
    "%%BeginSetup",
    "currentpagedevice /PageSize get aload pop 2 copy lt",
    "{ exch 2 array astore << /PageSize 3 -1 roll >> setpagedevice } { pop pop } ifelse",
    "%%EndSetup",
    "%%Page: 1 1",
    "%%BeginPageSetup",
    "currentpagedevice /PageSize get aload pop 2 copy lt",
    "{ exch 595 add 2 div 10.8 sub exch 792 sub 2 div 10.8 add translate 90 rotate }",
    "{ 595 sub 2 div 10.8 add exch 792 sub 2 div 10.8 add exch translate } ifelse",
    "%% Scaling definitions at .001 inch resolution",
    "0.072 0.072 scale",
    "%%EndPageSetup",
    "%% Default graphics rendition settings",
    "1 setlinejoin 1 setlinecap 1 SLW",
    "newpath 0 0 moveto",
};


// Puts one 14-character record into the line; a full line is written.
// Ends one five-slot record's slot: the record goes out after its fifth.
void slotDone(Lib& g) {
  PsState& s = g.plot.ps;
  s.pageEmpty = false;
  if (s.slot >= 5) {
    g.io.write(kPsUnit, s.line);
    s.line.clear();
    s.slot = 1;
  } else {
    ++s.slot;
  }
}

void putSlot(Lib& g, const std::string& rec) {
  g.plot.ps.line += rec;
  slotDone(g);
}

// A positive integer right-justified in w columns (Iw) at p: the points of
// a map run to millions, so they are formatted here without temporaries.
char* putField(char* p, int v, int w) {
  char* end = p + w;
  char* q = end;
  unsigned u = static_cast<unsigned>(v);
  do {
    *--q = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0 && q > p);
  if (u != 0) {
    for (q = p; q < end; ++q) *q = '*';
  } else {
    while (q > p) *--q = ' ';
  }
  return end;
}

void flushLine(Lib& g) {
  PsState& s = g.plot.ps;
  if (!s.line.empty() && s.open) g.io.write(kPsUnit, s.line);
  s.line.clear();
  s.slot = 1;
}

void resetExtent(PsState& s) {
  s.exXmin = 11000;
  s.exXmax = 0;
  s.exYmin = 8500;
  s.exYmax = 0;
}

std::string cm(float units) { return fF(2.54 * units / 1000.0, 7, 1); }

float centreX(const PsState& s) {
  return 2.54f * (5500.0f - (s.exXmin + s.exXmax) / 2.0f + s.xoff) / 1000.0f;
}
float centreY(const PsState& s) {
  return 2.54f * (4250.0f - (s.exYmin + s.exYmax) / 2.0f + s.yoff) / 1000.0f;
}

// The ink on the page in points of the landscape sheet the plot asks for
// (792 by 595): whole points that enclose every stroke with its width.
std::string boundingBox(const PsState& s) {
  if (s.inkXmin > s.inkXmax) return "0 0 0 0";  // nothing drawn
  const float pad = 50.0f;  // the widest line's half width, page units
  auto pt = [](float u) { return 0.072f * (u + kPageMargin); };
  const int llx = std::max(0, static_cast<int>(std::floor(pt(s.inkXmin - pad))));
  const int lly = std::max(0, static_cast<int>(std::floor(pt(s.inkYmin - pad))));
  const int urx = std::min(792, static_cast<int>(std::ceil(pt(s.inkXmax + pad))));
  const int ury = std::min(595, static_cast<int>(std::ceil(pt(s.inkYmax + pad))));
  return std::to_string(llx) + " " + std::to_string(lly) + " " + std::to_string(urx) + " " +
         std::to_string(ury);
}

// One point record: x in five columns, a blank, y in four, the operator.
void putPoint(Lib& g, float X, float Y, bool draw) {
  PsState& s = g.plot.ps;
  const int ix = truncClamp(X, 1, 11500), iy = truncClamp(Y, 1, 9999);
  s.inkXmin = std::min(s.inkXmin, static_cast<float>(ix));
  s.inkXmax = std::max(s.inkXmax, static_cast<float>(ix));
  s.inkYmin = std::min(s.inkYmin, static_cast<float>(iy));
  s.inkYmax = std::max(s.inkYmax, static_cast<float>(iy));
  char slot[16];
  char* p = putField(slot, ix, 5);
  *p++ = ' ';
  p = putField(p, iy, 4);
  std::memcpy(p, draw ? " vl " : " il ", 4);
  s.line.append(slot, static_cast<size_t>(p + 4 - slot));
  slotDone(g);
}

bool openFile(Lib& g, int out) {
  PsState& s = g.plot.ps;
  s.name = pageFileName(s, ".ps");
  if (refuseDefined(g, out, s, "?PSSTART", 'Q')) {
    s.open = false;
    return false;
  }
  if (!g.io.open(kPsUnit, s.name, OpenStatus::Unknown, Access::Write)) {
    g.io.write(out, " ?PSSTART- Unable to open plot file " + s.name);
    s.open = false;
    return false;
  }
  g.io.write(kPsUnit, "%!PS-Adobe-3.0");
  g.io.write(kPsUnit, "%%Title: " + s.name);
  g.io.write(kPsUnit, "%%BoundingBox: (atend)");
  g.io.write(kPsUnit, "%%Orientation: Landscape");
  g.io.write(kPsUnit, "%%DocumentMedia: Plot 792 595 0 () ()");
  g.io.write(kPsUnit, "%%Pages: 1");
  g.io.write(kPsUnit, "%%EndComments");
  for (const char* l : kProlog) g.io.write(kPsUnit, l);
  s.open = true;
  s.inkXmin = s.inkYmin = kPageWidth;
  // The prologue leaves the pen at the page's corner.
  s.lastX = s.lastY = 0.0f;
  s.onPage = true;
  s.inkXmax = s.inkYmax = 0.0f;
  s.line.clear();
  s.slot = 1;
  s.pageEmpty = true;
  s.lastWidth = 1.0f;
  s.lastColour = 1.0f;
  return true;
}

// Ends and closes the file; false (said) when it could not be written.
bool closeFile(Lib& g) {
  PsState& s = g.plot.ps;
  flushLine(g);
  g.io.write(kPsUnit, " showpage ");
  g.io.write(kPsUnit, "%%Trailer");
  g.io.write(kPsUnit, "%%BoundingBox: " + boundingBox(s));
  g.io.write(kPsUnit, "%%EOF");
  g.io.write(kPsUnit, "\x04");
  s.open = false;
  if (!g.io.close(kPsUnit)) {
    g.io.write(g.plot.out, " ?PSEND- Error writing plot file " + s.name);
    return false;
  }
  return true;
}

}  // namespace

void psstart(Lib& g, int inunit, int outunit) {
  PsState& s = g.plot.ps;
  const int out = outunit < 1 ? 6 : outunit;
  if (s.open) {
    // The extent of the plot before, for placing it on the page.
    g.io.write(out, " ");
    g.io.write(out, " X range (cm): " + cm(s.exXmin) + cm(s.exXmax));
    g.io.write(out, " Y range (cm): " + cm(s.exYmin) + cm(s.exYmax));
    g.io.write(out, " Regular page X: 0-27.9  Y: 0-21.6");
    g.io.write(out, " Center offsets: " + fF(centreX(s), 7, 1) + fF(centreY(s), 7, 1));
    g.io.write(out, " ");
    resetExtent(s);
    if (s.autoClear == 1) {
      if (closeFile(g)) g.io.write(out, " Plot written to: " + s.name);
      if (s.defined.empty()) s.run = nextPlotRun(g, s.run, "num.ps");
      if (openFile(g, out)) {
        g.io.write(out, " ");
        g.io.write(out, " New plot file " + s.name + " opened.");
      }
    }
  } else {
    if (s.defined.empty()) s.run = nextPlotRun(g, s.run, "num.ps");
    openFile(g, out);
    resetExtent(s);
  }
  if (!s.open) return;
  flushLine(g);
  g.io.write(kPsUnit, fI(pageWidthUnits(s), 3) + " SLW ");
  s.lastWidth = s.width;

  const PageMap m = pageMap(g, out, s.scale, s.xoff, s.yoff);
  s.ax = m.ax, s.ay = m.ay, s.bx = m.bx, s.by = m.by;
  s.drawing = false;
  // The file is complete only when it is closed.
  g.io.write(out, " Plot going to: " + s.name + " (open, complete at CLOSE)");
}

void psplot(Lib& g, float x, float y, int pen) {
  PsState& s = g.plot.ps;
  if (!s.open) return;
  float X = s.ax * x + s.bx;
  float Y = s.ay * y + s.by;
  auto takeIn = [&s](float u, float v) {
    if (!std::isfinite(u) || !std::isfinite(v)) return;
    s.exXmin = std::min(s.exXmin, u);
    s.exXmax = std::max(s.exXmax, u);
    s.exYmin = std::min(s.exYmin, v);
    s.exYmax = std::max(s.exYmax, v);
  };
  // The extent covers what is drawn: a line's start as well as its points.
  if (pen == 2 && !s.drawing) takeIn(s.moveX, s.moveY);
  if (pen == 2) s.drawing = true;
  if (pen == 3) s.drawing = false;
  if (s.drawing) takeIn(X, Y);
  s.moveX = X;
  s.moveY = Y;
  // What lies beyond the page is clipped at its edge.
  const PageStep step = pageStep(s, X, Y, pen);
  if (std::fabs(s.width - s.lastWidth) > 0.01f) {
    putSlot(g, fI(pageWidthUnits(s), 3) + " SLW ");
    s.lastWidth = s.width;
  }
  if (std::fabs(s.colour - s.lastColour) > 0.01f) {
    flushLine(g);
    float r, gr, b;
    pscolour(gxnint(s.colour), r, gr, b);
    g.io.write(kPsUnit, " " + fF(r, 4, 2) + " " + fF(gr, 4, 2) + " " + fF(b, 4, 2) +
                            " setrgbcolor");
    g.io.write(g.plot.out, " Changing pen colour: new " + fF(s.colour, 5, 1) + " old " +
                               fF(s.lastColour, 5, 1));
    s.lastColour = s.colour;
  }
  if (step.move) putPoint(g, step.mx, step.my, false);
  if (step.draw) putPoint(g, step.dx, step.dy, true);
}

void psclear(Lib& g) { flushLine(g); }

void psend(Lib& g) {
  PsState& s = g.plot.ps;
  if (!s.open) return;
  if (!closeFile(g)) return;
  const int out = g.plot.out;
  g.io.write(out, " Plot output file " + s.name + " closed.");
  g.io.write(out, " X range (cm): " + cm(s.exXmin) + cm(s.exXmax));
  g.io.write(out, " Y range (cm): " + cm(s.exYmin) + cm(s.exYmax));
  g.io.write(out, " Regular page X: 0-27.9  Y: 0-21.6 cm");
  g.io.write(out, " Center offsets: " + fF(centreX(s), 7, 1) + "," + fF(centreY(s), 7, 1));
}

void psscale(Lib& g, float s, float xoffmm, float yoffmm) { pageScale(g.plot.ps, s, xoffmm, yoffmm); }

void pswidset(Lib& g, float w) { g.plot.ps.width = w; }

void pscolset(Lib& g, float c) { g.plot.ps.colour = c; }

void psoutput(Lib& g, const std::string& name) {
  std::string n = trimmedName(name);
  if (n.empty()) return;
  g.plot.ps.defined = n == "*" ? std::string() : n;
}

void pstext(Lib& g, const std::string& text) {
  PsState& s = g.plot.ps;
  if (!s.open) return;
  flushLine(g);
  // One "%" only: a comment, not a structure comment.
  g.io.write(kPsUnit, "% text: " + text);
}

void pscolour(int n, float& r, float& gr, float& b) {
  r = gr = b = 0.0f;
  switch (n) {
    case 2: b = 1; break;
    case 3: gr = 1; break;
    case 4: r = 1; break;
    case 5: r = gr = 1; break;
    case 6: r = b = 1; break;
    case 7: gr = b = 1; break;
    default: break;
  }
}

}  // namespace gx
