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
};

// The file a plot goes to: the defined name, else "plt" and the run number
// in two digits, then the extension (".ps", ".svg").
std::string pageFileName(const PageFile& f, const char* ext);
// Line width in page units: 5 per unit of width at scale 1, within 1..99.
int pageWidthUnits(const PageFile& f);
// Scale and offsets (mm) of the next plot.
void pageScale(PageFile& f, float s, float xoffmm, float yoffmm);

}  // namespace gx
