// The SVG file driver's state: the shared page file and the path element
// being written.
#pragma once

#include <string>

#include "gxlib/plot/pagefile.h"

namespace gx {

struct SvgState : PageFile {
  // The path element being written: its stroke, and whether it has begun.
  bool inPath = false;
  int pathWidth = 0;
  int pathColour = 0;
  int segments = 0;       // draws in the path element
  std::string line;       // the record being packed
  // The current point (page units, y up) and whether a move is pending.
  int curX = 0, curY = 0;
  bool moved = true;
};

}  // namespace gx
