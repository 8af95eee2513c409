// The HP-GL file driver's state: the open file, its run number, the
// orientation on the page, the pen and the mapping to plotter units.
#pragma once

#include <string>

namespace gx {

// HP-GL plot file driver.
struct HpState {
  bool open = false;
  std::string name;
  std::string defined;
  int run = 0;  // 1..99999
  char device = 'H';
  int vertical = 1;       // x axis vertical on the page
  bool explicitOrient = false;
  float width = 0.15f;    // pen width, mm
  int pen = 1;
  int autoClear = 1;
  float scale = 1.0f, xoff = 0, yoff = 0;  // offsets in plotter units
  float ax = 0, bx = 0, ay = 0, by = 0;
  int lastPen = 3;
  int moveX = 0, moveY = 0;
  int count = 0;          // point records on the current line
};

}  // namespace gx
