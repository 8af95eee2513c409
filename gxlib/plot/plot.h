// The plotting layer shared by both programs: a plot is opened on a device
// named by one character, the caller's data window is mapped onto the
// device's drawing area, and the caller draws with pen moves (3) and draws
// (2) in its own data coordinates. Text and axes are drawn through the same
// layer in text units (gxunit), so labels keep their size on any window.
//
// Devices: 'S' or blank the Tektronix terminal, 'Q' a PostScript file,
// 'H' an HP-GL/2 file for a page printer, 'P' an HP-GL file for a pen
// plotter, 'V' an SVG file for a web browser, 'U' no output, 'O' not
// available; '*' (settings) all devices.
//
// Reals are single precision, as the plot files and screens need no more.
// The state lives in Lib::plot (plotstate.h); each driver declares its own
// part beside its code (crdriver.h, psdriver.h, svgdriver.h, hpdriver.h).
#pragma once

#include <iosfwd>
#include <string>

#include "gxlib/gxlib.h"

namespace gx {

// ---- Device-independent layer -------------------------------------------

// Opens a plot on the device with the data window xmin..xmax, ymin..ymax.
// ierr is 0, or 1 when the device refused the window (HP-GL zero range).
void gxstart(Lib& g, int inunit, int outunit, int echo, float aspect, char device,
             float xmin, float xmax, float ymin, float ymax, int& ierr);
// Replaces the data window and draws its frame.
void gxbox(Lib& g, char device, float xmin, float xmax, float ymin, float ymax);
// Replaces the data window without drawing.
void gxbox_load(Lib& g, float xmin, float xmax, float ymin, float ymax);
// ipen 3 moves (remembered until the next draw), 2 draws.
void gxplot(Lib& g, char device, float x, float y, int ipen);
// Sends one point to the device as it stands.
void gxvect(Lib& g, char device, float x, float y, int ipen);
// Draws from (x1, y1), where the pen is, to (x2, y2), fat when set.
void gxfat(Lib& g, char device, float x1, float y1, float x2, float y2);
// One text/tick unit in data coordinates.
void gxunit(Lib& g, float& ux, float& uy);
// Plot file names (name not blank) or the prompted scale and offsets.
void gxscale(Lib& g, int inunit, int outunit, int echo, char device, const std::string& name);
void gxscale_it(Lib& g, char device, float scale, float xoffset, float yoffset);
void gxend(Lib& g, char device);
// 'E' auto-clear on, 'D' off, anything else leaves it.
void gxclear(Lib& g, char flag);
void gxfont(Lib& g, int n);
// Closes the PostScript, SVG and HP-GL files (declared in gxlib.h too).
void gxquit(Lib& g, char device);

// Settings of the shared state that callers change directly.
// gx_line: 0 solid; 1 or 5 short dashes, 2 or 6 dot-dash, 3 dotted, 4 long
// dashes. The terminal dashes in hardware; on the files the layer breaks
// each draw into dashes, the pattern running on from draw to draw.
void gxline(Lib& g, int style);
void gxfatset(Lib& g, float width, int n);  // gx_fat: half-width factor, strokes
void gxunit_set(Lib& g, int flag, float ux, float uy);  // gx_unit_1, gx_unit_2

// ---- Axes and text --------------------------------------------------------

// Ticks and labels on the current window; returns the x at which a y-axis
// title can start.
float gxmark(Lib& g, char device, int nx, int ny, float size);
float gxmark_log(Lib& g, char device, int nx, int ny, float size);  // log y axis
// One axis setting: K G I J X U R 5 L V W (integers from ivalue, reals from value).
void gxmark_setup(Lib& g, char key, int ivalue, float value);
// The major tick step for a span and a wanted number of divisions (five
// is set for a 5 x 10^n step), and the label text of a tick value.
double gxmark_step(double span, int n, bool& five);
std::string gxmark_label(Lib& g, double value, int decimals, bool decade);
// Stroke text, lower-left corner at (x, y), height in text units, angle in
// degrees; length characters of text (the whole text when length < 0).
void gxsymbol(Lib& g, char device, float x, float y, float height, float angle,
              const std::string& text, int length);
// The text as read: escapes left out, "^^" a caret, anything outside
// printable ASCII shown as "?".
std::string gxplaintext(const std::string& text, int length);
// Width of the text in data units, as gxsymbol would draw it.
float gxsymlen(Lib& g, float height, const std::string& text, int length);

// ---- Tektronix terminal driver ------------------------------------------

void crblow(Lib& g, float xmin, float xmax, float ymin, float ymax);
void crwindow(Lib& g, float left, float right, float bottom, float top);
void crscreen(Lib& g, int xlo, int xhi, int ylo, int yhi);
void crfactor(Lib& g, float f);
void croffset(Lib& g, float xmm, float ymm);
void crplot(Lib& g, float x, float y, int code);
void crplot_abs(Lib& g, int ix, int iy, int code);
void crplot_rel(Lib& g, int dx, int dy, int code);
void crgmode(Lib& g, int mode);
void crreset(Lib& g);
void crclear(Lib& g);
// Sets the type when 1 <= t <= 10, else shows the menu and asks on in/out.
void crtype(Lib& g, int in, int out, int echo, int t);
// Blank name: returns the current destination; "*": reopens it; otherwise
// opens the named destination (a file, FIFO, device or terminal).
void crdest(Lib& g, std::string& name);
// Sends the stream to a caller's stream instead of a destination (nullptr
// goes back to the destination).
void crdest_stream(Lib& g, std::ostream* sink);
// Queues one character code; -1 flushes, -2 flushes 40 or more.
void crsend(Lib& g, int c);

// ---- PostScript file driver ---------------------------------------------

void psstart(Lib& g, int inunit, int outunit);
void psplot(Lib& g, float x, float y, int pen);
void psclear(Lib& g);
void psend(Lib& g);
void psscale(Lib& g, float s, float xoffmm, float yoffmm);
void pswidset(Lib& g, float w);
void pscolset(Lib& g, float c);
void psoutput(Lib& g, const std::string& name);
// The plain text of the strokes that follow, as a comment line.
void pstext(Lib& g, const std::string& text);
// Red, green and blue of a colour number.
void pscolour(int n, float& r, float& gr, float& b);

// ---- SVG file driver -----------------------------------------------------

// The PostScript page (11 x 8.5 inch landscape, 1/1000 inch) as an SVG
// image: files pltNN.svg numbered from the counter "svgnum.run".
void svgstart(Lib& g, int inunit, int outunit);
void svgplot(Lib& g, float x, float y, int pen);
void svgclear(Lib& g);  // ends a plot: the path being written is completed
void svgend(Lib& g);    // closes the file
void svgscale(Lib& g, float s, float xoffmm, float yoffmm);
void svgwidset(Lib& g, float w);
void svgcolset(Lib& g, float c);
// '*' goes back to numbered files; other non-blank text becomes the name.
void svgoutput(Lib& g, const std::string& name);
// A group round a text's strokes, titled with the plain text.
void svgtext(Lib& g, const std::string& text);
void svgtextend(Lib& g);

// ---- HP-GL file driver --------------------------------------------------

void hpstart(Lib& g, char device, int inunit, int outunit, int echo, float aspect,
             float xmin, float xmax, float ymin, float ymax, int& ierr);
void hpplot(Lib& g, float x, float y, int pen);
void hpquit(Lib& g);
void hpscale(Lib& g, float s, float xoffmm, float yoffmm);
// p < 0 pen width |p| x 0.15 mm, p > 0 pen number, p = 0 returns the pen.
void hpline(Lib& g, int& p);
void hplands(Lib& g, int flag);
void hpclear(Lib& g, char flag);
void hpfile(Lib& g, const std::string& name);

}  // namespace gx
