// The PostScript file driver's state: the shared page file, the record
// being packed five slots to a line, and the extent drawn on the page.
#pragma once

#include <string>

#include "gxlib/plot/pagefile.h"

namespace gx {

struct PsState : PageFile {
  std::string line;     // the record being packed
  int slot = 1;         // next 14-character slot, 1..5
  bool pageEmpty = true;
  float exXmin = 11000, exXmax = 0, exYmin = 8500, exYmax = 0;  // drawn extent
  float lastWidth = 1.0f;   // width and colour last written to the file
  float lastColour = 1.0f;
  bool drawing = false;
  float moveX = 0, moveY = 0;  // the last point, page units
  // The ink of the whole file, page units, for its bounding box.
  float inkXmin = 0, inkXmax = 0, inkYmin = 0, inkYmax = 0;
};

}  // namespace gx
