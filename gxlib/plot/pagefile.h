// What the PostScript and SVG drivers share: both draw the same landscape
// page in thousandths of an inch, keep one file open across plots, and
// number their files from a run counter.
#pragma once

#include <string>

namespace gx {

struct PageFile {
  bool open = false;
  std::string name;     // the open file
  std::string defined;  // user-defined name, blank for numbered files
  int run = 0;          // run number 1..99
  float width = 1.0f;   // line width and colour number, as LINE sets them
  float colour = 1.0f;
  float scale = 1.0f, xoff = 0, yoff = 0;  // offsets in page units
  float ax = 0, bx = 0, ay = 0, by = 0;    // page = a * data + b
  int autoClear = 1;    // a new file for each plot
  // The last point (page units, not clipped) and whether the file's pen
  // stands on it: after a point off the page the next draw moves first.
  float lastX = 0, lastY = 0;
  bool onPage = true;
};

// The page both drivers draw on, in page units (1/1000 inch): the 11 by
// 8.26 inch that A4 and US Letter both offer, less a margin of 0.15 inch
// all round that printers leave blank.
constexpr float kPageMargin = 150.0f;
constexpr float kPageWidth = 11000.0f - 2.0f * kPageMargin;
constexpr float kPageHeight = 8263.0f - 2.0f * kPageMargin;

// What one pen call puts on the page: a move to the start and a draw to
// the end, each when set. A draw is clipped to the page; what lies beyond
// it is left out, never pressed onto the edge.
struct PageStep {
  bool move = false, draw = false;
  float mx = 0, my = 0;  // the move's point
  float dx = 0, dy = 0;  // the draw's end
};
PageStep pageStep(PageFile& f, float X, float Y, int pen);

// The file a plot goes to: the defined name, else "plt" and the run number
// in two digits, then the extension (".ps", ".svg").
std::string pageFileName(const PageFile& f, const char* ext);
// Line width in page units: 5 per unit of width at scale 1, within 1..99.
int pageWidthUnits(const PageFile& f);
// Scale and offsets (mm) of the next plot.
void pageScale(PageFile& f, float s, float xoffmm, float yoffmm);

}  // namespace gx
