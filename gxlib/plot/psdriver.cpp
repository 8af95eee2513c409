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

const char* const kPrologue[] = {
    "%!",
    "%%",
    "%% K.V. Postscript V1.1 (4/7/87)",
    "%%",
    "%% Scaling definitions for 8.5 by 11 inch paper at .001 inch",
    "%% resolution",
    "0.072 0.072 scale",
    "8500 0 translate 90 rotate",
    "%% Macro definitions",
    "/il { moveto } def",
    "/vl { lineto currentpoint stroke moveto } def",
    "/pt { moveto currentpoint currentpoint 1 0 360 arc",
    "stroke moveto } def",
    "/SLW { setlinewidth } def",
    "%% Default graphics rendition settings",
    "1 setlinejoin 1 setlinecap 1 SLW",
    "%% Beginning of first page",
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

bool openFile(Lib& g, int out) {
  PsState& s = g.plot.ps;
  s.name = pageFileName(s, ".ps");
  if (!g.io.open(kPsUnit, s.name, OpenStatus::Unknown, Access::Write)) {
    g.io.write(out, " ?PSSTART- Unable to open plot file " + s.name);
    s.open = false;
    return false;
  }
  for (const char* l : kPrologue) g.io.write(kPsUnit, l);
  s.open = true;
  s.line.clear();
  s.slot = 1;
  s.pageEmpty = true;
  s.lastWidth = 1.0f;
  s.lastColour = 1.0f;
  return true;
}

void closeFile(Lib& g) {
  PsState& s = g.plot.ps;
  flushLine(g);
  g.io.write(kPsUnit, " showpage ");
  g.io.write(kPsUnit, "\x04");
  if (!g.io.close(kPsUnit))
    g.io.write(g.plot.out, " ?PSEND- Error writing plot file " + s.name);
  s.open = false;
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
      closeFile(g);
      s.run = nextPlotRun(g, s.run, "num.ps");
      if (openFile(g, out)) {
        g.io.write(out, " ");
        g.io.write(out, " New plot file " + s.name + " opened.");
      }
    }
  } else {
    s.run = nextPlotRun(g, s.run, "num.ps");
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
  g.io.write(out, " Plot written to: " + s.name);
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
  // Beyond the page the point is pinned at the limit; y keeps to its
  // four-column field.
  int ix = truncClamp(X, 1, 11500);
  int iy = truncClamp(Y, 1, 9999);
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
  char slot[16];
  char* p = putField(slot, ix, 5);
  *p++ = ' ';
  p = putField(p, iy, 4);
  std::memcpy(p, pen == 2 ? " vl " : " il ", 4);
  s.line.append(slot, static_cast<size_t>(p + 4 - slot));
  slotDone(g);
}

void psclear(Lib& g) { flushLine(g); }

void psend(Lib& g) {
  PsState& s = g.plot.ps;
  if (!s.open) return;
  closeFile(g);
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
