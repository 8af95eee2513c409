// Internals of the plot layer shared by its source files: the driver
// interface and small helpers. Not for the programs.
#pragma once

#include <cstdint>
#include <string>

#include "gxlib/gxlib.h"
#include "gxlib/plot/pagefile.h"

namespace gx {

constexpr float kRoot2 = 1.4142135f;

// I/O units of the plot files and their run counters.
constexpr int kPsUnit = 73;
constexpr int kHpUnit = 74;
constexpr int kCounterUnit = 75;
constexpr int kSvgUnit = 76;

// One device of the plot layer: its letter, what it is, what it can do,
// and the operations it has. An operation a device does not have is left
// empty; the layer skips it.
struct Device {
  enum Can : unsigned {
    kDraws = 1,      // puts points on a screen or page
    kFile = 2,       // writes a plot file that stays open across plots
    kScales = 4,     // takes the scale and offsets of DEFINE
    kAutoClear = 8,  // follows the auto-clear flag of CFLAG
    kStyles = 16,    // dashes its own lines (gx_line); others are dashed here
  };
  char letter;
  const char* description;
  unsigned can;
  // Opens a plot (the letter says which of a shared driver's devices).
  void (*start)(Lib& g, char letter, float aspect, float xmin, float xmax, float ymin,
                float ymax, int& ierr);
  void (*point)(Lib& g, float x, float y, int pen);
  void (*end)(Lib& g);                                     // end of a plot
  void (*quit)(Lib& g);                                    // closes the file
  void (*scale)(Lib& g, float s, float xoffmm, float yoffmm);
  void (*clear)(Lib& g, char flag);                        // auto-clear changed
  void (*name)(Lib& g, const std::string& file);           // DEFINE's file name
  // A text's strokes follow between these two: the file keeps the text
  // itself beside them, so it can be found (and read aloud) there.
  void (*textBegin)(Lib& g, const std::string& text);
  void (*textEnd)(Lib& g);
};

// The device of a letter; any letter not in the table is the terminal.
const Device& deviceFor(char device);

// The next two-digit run number of the numbered plot files from their
// counter file (num.ps, svgnum.run); after 99 comes 1.
int nextPlotRun(Lib& g, int run, const std::string& counter);

// A name the user defined is never replaced: when that file exists the
// plot is refused, as the other writers refuse an existing file, with
// "<tag>- Unable to open plot file NAME (it exists); ..." on unit out.
// True when refused. Numbered files are the program's own and go on.
bool refuseDefined(Lib& g, int out, const PageFile& f, const std::string& tag, char device);
// Data coordinates to page units of the landscape page the PostScript and
// SVG files share: page = a * data + b, the drawing area leaving room for
// labels on the left, then scaled and offset. Says so on unit out when the
// window has a zero range (the factors are then 0).
struct PageMap {
  float ax = 0, ay = 0, bx = 0, by = 0;
};
PageMap pageMap(Lib& g, int out, float scale, float xoff, float yoff);

// The device letter as dispatched: upper case, blank meaning the terminal.
char deviceCode(char device);

char plotUpper(char c);
std::string trimmedName(const std::string& s);
// Truncates toward zero inside lo..hi (NaN gives lo).
int truncClamp(double v, int lo, int hi);

// Closes the terminal destination.
void crclose(Lib& g);
// Opens a plot on the terminal: the drawing area on the screen for the
// aspect ratio and the data window.
void crstart(Lib& g, float xmin, float xmax, float ymin, float ymax);

// Stroke fonts 1-8: the stroke table and the indexes of character codes
// 32-127 (fonts 1-7, then font 8).
constexpr int kStrokeWords = 10575;
extern const std::uint16_t kStrokes[kStrokeWords];
extern const std::int16_t kFontIndex[7][96];
extern const std::int16_t kFont8Index[96];

// Font 0 as generated: a character code and its points.
struct Font0Char {
  int code;
  int n;
  Font0Point pts[29];
};
extern const Font0Char kFont0[];
extern const int kFont0Count;

// Builds font 0 (256 characters of up to 30 points).
void gxletters(PlotState& p);

}  // namespace gx
