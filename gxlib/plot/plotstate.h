// The shared plot state: the data window and pen of the device-independent
// layer, the axis and text settings, and one instance of each driver's own
// state (declared beside its driver). One instance lives in gx::Lib;
// nothing of it is static.
#pragma once

#include <vector>

#include "gxlib/plot/crdriver.h"
#include "gxlib/plot/hpdriver.h"
#include "gxlib/plot/psdriver.h"
#include "gxlib/plot/svgdriver.h"

namespace gx {

// Axis settings of the tick and label routine.
struct MarkSettings {
  float tick = 1.0f;   // K: tick length, text units
  float minor = 2.0f;  // G: minor subdivisions
  int xdec = -1;       // I: decimals of x labels (-1: from the span)
  int ydec = -1;       // J
  int xlog = 0;        // X: logarithmic x axis
  int top = 1;         // U: repeat x ticks along the top
  int right = 1;       // R: repeat y ticks along the right
  int five = 1;        // 5: minor ticks after a five-step
  int full = 0;        // L: full-length ticks (a grid)
  int xlabels = 1;     // V
  int ylabels = 1;     // W
  int marks = 1;       // MARKS E/D: ticks and labels drawn at all
};

// One point of the built-in font 0 (6 x 9 cell): pen 2 draw, 3 move,
// 4 end of character, -1 continue with the character whose code is in x.
struct Font0Point {
  float x, y;
  int pen;
};

struct PlotState {
  // gx_maxmin, gx_range, gx_xsym
  float xmin = 0, xmax = 1, ymin = 0, ymax = 1;
  float xspan = 1, yspan = 1;
  float xsym = -0.05f;
  // gxblock: terminal units and the three derived units of the drivers
  int in = 5, out = 6, unit1 = 15, unit2 = 16, unit3 = 17;
  int echo = 0;
  // plot_aspect: aspect ratio and the label-margin flag
  float aspect = 1.0f, labelMargin = 0;
  int autoClear = 1;  // gx_clear
  // Pen state in data coordinates.
  int lastPen = 3;
  float lastX = 0, lastY = 0;
  int line = 0;       // gx_line: line style, 0 solid
  // Dashing in the layer: how far into the style's pattern (text units)
  // the line has come, and whether the device's pen stands at the last
  // point with ink (the line ended inside a dash).
  double dashAt = 0;
  bool dashInk = false;
  float fatWidth = 0; // gx_fat: half-width factor
  int fatCount = 0;   //         extra strokes on each side
  int unitFlag = 0;   // gx_unit_1: gxunit returns the stored pair
  float unitX = 0, unitY = 0;  // gx_unit_2
  int font = 0;       // current text font 0..8
  char device = 'S';  // device of the last gxstart

  MarkSettings mark;
  CrState cr;
  PsState ps;
  HpState hp;
  SvgState svg;
  // Font 0, built on first use: 256 characters of up to 30 points.
  std::vector<Font0Point> font0;
};

}  // namespace gx
