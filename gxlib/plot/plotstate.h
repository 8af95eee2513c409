// The shared plot state: the data window and pen of the device-independent
// layer, the state of each device driver, and the axis and text settings.
// One instance lives in gx::Lib; nothing of it is static.
#pragma once

#include <array>
#include <ostream>
#include <string>
#include <vector>

namespace gx {

// Tektronix 4010/4014 terminal driver.
struct CrState {
  int type = 0;       // terminal emulation 1..10, 0 until chosen
  int prevType = 0;   // the type before the last TERM (for TERM/R)
  int mode = 0;       // 0 text, 1 graphics vector, 2 graphics alpha
  std::string dest = "/dev/tty";
  bool open = false;  // destination open
  int fd = -1;        // the open destination (file, FIFO, device, terminal)
  std::ostream* sink = nullptr;         // a caller's stream instead of a file
  // Clip rectangle and screen window, screen units.
  int clipXlo = 0, clipXhi = 1023, clipYlo = 0, clipYhi = 767;
  float left = 0, right = 1023, bottom = 0, top = 767;
  // Data window and its mapping.
  float xmin = 0, ymin = 0, xspan = 20, yspan = 15;
  float xscale = 51.15f, yratio = 1.0f;
  float factor = 1.0f, xoff = 0, yoff = 0;  // offsets in screen units
  int lastX = 0, lastY = 0, lastPen = 0, lastStyle = 0, lastIntensity = 0;
  std::array<int, 4> bytes{};  // last address bytes: hi y, lo y, hi x, lo x
  bool bytesValid = false;
  std::string buf;  // queued output, at most 120 characters
};

// PostScript plot file driver.
struct PsState {
  bool open = false;
  std::string name;     // the open file
  std::string defined;  // user-defined name, blank for numbered files
  int run = 0;          // run number 1..99
  std::string line;     // the record being packed
  int slot = 1;         // next 14-character slot, 1..5
  bool pageEmpty = true;
  float exXmin = 11000, exXmax = 0, exYmin = 8500, exYmax = 0;  // drawn extent
  float width = 1.0f, lastWidth = 1.0f;
  float colour = 1.0f, lastColour = 1.0f;
  float scale = 1.0f, xoff = 0, yoff = 0;  // offsets in page units
  float ax = 0, bx = 0, ay = 0, by = 0;
  bool drawing = false;
  float moveX = 0, moveY = 0;  // the last point, page units
  int autoClear = 1;
};

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

// SVG plot file driver: the PostScript page in the same units, written as
// stroked paths.
struct SvgState {
  bool open = false;
  std::string name;     // the open file
  std::string defined;  // user-defined name, blank for numbered files
  int run = 0;          // run number 1..99
  float width = 1.0f;   // line width and colour number, as LINE sets them
  float colour = 1.0f;
  float scale = 1.0f, xoff = 0, yoff = 0;  // offsets in page units
  float ax = 0, bx = 0, ay = 0, by = 0;
  int autoClear = 1;
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
