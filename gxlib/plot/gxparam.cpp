// The library's settings command: screen clearing, the default font, the
// terminal type and destination, plot scale and file names, pens and line
// widths, closing the plot files and the auto-clear flag. Both programs
// offer every command line to it before their own commands.
#include <cmath>
#include <iterator>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/gxlib.h"
#include "gxlib/plot/plot.h"
#include "gxlib/plot/plotint.h"

namespace gx {

namespace {

constexpr const char* kParamWords[] = {"CLEAR", "FONT", "TERM",  "MENU",  "DEFINE",
                                       "LINE",  "DEST", "CLOSE", "CFLAG", "MARKS"};

// Short decimal form of a real for the settings messages.
std::string num(double v) {
  std::string s = fG(v, 13, 5, 1);
  size_t i = s.find_first_not_of(' ');
  return i == std::string::npos ? std::string() : std::string(trimRight(s.substr(i)));
}

// One settings line as the handlers see it.
struct Setting {
  Lib& g;
  int in, out, echo;
  const std::string& line;  // padded to 40 columns
  char opt;                 // the option, upper case
  double value;
  std::string arg() const { return line.substr(7, 33); }
};

void clearScreen(const Setting& s) {
  gxcls(s.g, s.out, s.opt == ' ' || s.opt == '\0' ? 'A' : s.opt);
}

void font(const Setting& s) {
  int n = gxnint(s.value);
  if (n >= 0 && n <= 8) {
    gxfont(s.g, n);
    s.g.io.write(s.out, " Default font set to " + std::to_string(n) + ".");
  } else {
    s.g.io.write(s.out, " %GXPARAM- No font " + std::to_string(n) +
                            " (fonts 0 to 8); default font unchanged.");
  }
}

void term(const Setting& s) {
  CrState& cr = s.g.plot.cr;
  int t = s.opt == 'R' ? cr.prevType : gxnint(s.value);
  int before = cr.type;
  crtype(s.g, s.in, s.out, s.echo, t);
  cr.prevType = before == 0 ? cr.type : before;
}

void menu(const Setting& s) {
  s.g.io.write(s.out, " GXLIBRARY commands:");
  std::string row;
  for (int i = 0; i < 10; ++i) {
    row += pad(kParamWords[i], 6) + "  ";
    if (i % 8 == 7 || i == 9) {
      s.g.io.write(s.out, " " + row);
      row.clear();
    }
  }
  s.g.io.write(s.out, " ");
}

void define(const Setting& s) { gxscale(s.g, s.in, s.out, s.echo, s.opt, s.arg()); }

void line(const Setting& s) {
  Lib& g = s.g;
  if (s.value >= -0.0001) {
    int pen = gxnint(s.value);
    if (pen < 1) {
      int cur = 0;
      hpline(g, cur);
      g.io.write(s.out, " Current pen " + std::to_string(cur));
    } else {
      hpline(g, pen);
      pscolset(g, static_cast<float>(pen));
      svgcolset(g, static_cast<float>(pen));
      g.io.write(s.out, " Pen set to " + std::to_string(pen));
    }
    return;
  }
  pswidset(g, static_cast<float>(-s.value));
  svgwidset(g, static_cast<float>(-s.value));
  g.io.write(s.out, " Line width set to " + num(-s.value));
  // The HP-GL driver reads a negative pen as a width in 0.15 mm steps.
  double hp = std::trunc(s.value - 0.5);
  int pen = hp < -1e6 ? -1000000 : static_cast<int>(hp);
  hpline(g, pen);
}

void dest(const Setting& s) {
  std::string name = s.arg();
  if (trimRight(name).empty()) {
    // A macro that ends here leaves the destination as it was.
    if (gxprompt(s.g, s.in, s.out, "Destination for TEK4010/4 plot > ", name, 50) != Reply::Ok)
      name.clear();
  }
  name = trimmedName(name);
  if (name.empty()) {
    s.g.io.write(s.out, " TEK4010/4 destination unchanged.");
    return;
  }
  crdest(s.g, name);
  std::string cur;
  crdest(s.g, cur);
  s.g.io.write(s.out, " TEK4010/4 destination set to " + cur);
}

void close(const Setting& s) { gxquit(s.g, '*'); }

void clearFlag(const Setting& s) {
  char f = s.opt;
  if (f == ' ' || f == '\0') f = plotUpper(s.line[7]);
  gxclear(s.g, f);
  if (f == 'E')
    s.g.io.write(s.out, " Auto clear before a plot enabled.");
  else if (f == 'D')
    s.g.io.write(s.out, " Auto clear before a plot disabled.");
  else
    s.g.io.write(s.out, " No action on clear flag taken (use E or D).");
}

// Ticks and labels of the axis routine on or off.
void marks(const Setting& s) {
  if (s.opt == 'E') {
    s.g.plot.mark.marks = 1;
    s.g.io.write(s.out, " Axis marks enabled.");
  } else if (s.opt == 'D') {
    s.g.plot.mark.marks = 0;
    s.g.io.write(s.out, " Axis marks disabled.");
  }
}

// The handlers in the order of kParamWords.
void (*const kParamHandlers[])(const Setting&) = {clearScreen, font,  term,  menu,      define,
                                                  line,        dest,  close, clearFlag, marks};
static_assert(std::size(kParamHandlers) == std::size(kParamWords));

}  // namespace

std::vector<std::string> gxparamwords() {
  return std::vector<std::string>(std::begin(kParamWords), std::end(kParamWords));
}

int gxparam(Lib& g, int in, int out, int echo, const std::string& line, char option,
            double value) {
  std::string l = pad(line, 40);
  if (trimRight(l).empty()) return 1;
  size_t kl = 0;
  while (kl < 7 && l[kl] != ' ' && l[kl] != '\t') ++kl;
  if (kl == 0) return 1;
  std::string key = l.substr(0, kl);
  gxupcase(key);
  // Abbreviations are compared over their own length; the first entry wins.
  int which = -1;
  for (int i = 0; i < 10 && which < 0; ++i)
    if (pad(kParamWords[i], 7).compare(0, kl, key) == 0) which = i;
  if (which < 0) return 1;
  // Messages of the drivers go where this command's do.
  g.plot.out = out < 1 ? 6 : out;
  kParamHandlers[which](Setting{g, in, out, echo, l, plotUpper(option), value});
  return 0;
}

}  // namespace gx
