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
  int which = -1;
  for (int i = 0; i < 10 && which < 0; ++i)
    if (pad(kParamWords[i], 7).compare(0, kl, key) == 0) which = i;
  if (which < 0) return 1;

  PlotState& p = g.plot;
  // Messages of the drivers go where this command's do.
  p.out = out < 1 ? 6 : out;
  const char opt = plotUpper(option);
  const std::string arg = l.substr(7, 33);
  switch (which) {
    case 0:  // CLEAR
      gxcls(g, out, opt == ' ' || opt == '\0' ? 'A' : opt);
      break;
    case 1: {  // FONT
      int n = gxnint(value);
      if (n >= 0 && n <= 8) {
        gxfont(g, n);
        g.io.write(out, " Default font set to " + std::to_string(n) + ".");
      } else {
        g.io.write(out, " %GXPARAM- No font " + std::to_string(n) +
                            " (fonts 0 to 8); default font unchanged.");
      }
      break;
    }
    case 2: {  // TERM
      int t = opt == 'R' ? p.cr.prevType : gxnint(value);
      int before = p.cr.type;
      crtype(g, in, out, echo, t);
      p.cr.prevType = before == 0 ? p.cr.type : before;
      break;
    }
    case 3: {  // MENU
      g.io.write(out, " GXLIBRARY commands:");
      std::string row;
      for (int i = 0; i < 10; ++i) {
        row += pad(kParamWords[i], 6) + "  ";
        if (i % 8 == 7 || i == 9) {
          g.io.write(out, " " + row);
          row.clear();
        }
      }
      g.io.write(out, " ");
      break;
    }
    case 4:  // DEFINE
      gxscale(g, in, out, echo, opt, arg);
      break;
    case 5:  // LINE
      if (value >= -0.0001) {
        int pen = gxnint(value);
        if (pen < 1) {
          int cur = 0;
          hpline(g, cur);
          g.io.write(out, " Current pen " + std::to_string(cur));
        } else {
          hpline(g, pen);
          pscolset(g, static_cast<float>(pen));
          svgcolset(g, static_cast<float>(pen));
          g.io.write(out, " Pen set to " + std::to_string(pen));
        }
      } else {
        pswidset(g, static_cast<float>(-value));
        svgwidset(g, static_cast<float>(-value));
        g.io.write(out, " Line width set to " + num(-value));
        // The HP-GL driver reads a negative pen as a width in 0.15 mm steps.
        double hp = std::trunc(value - 0.5);
        int pen = hp < -1e6 ? -1000000 : static_cast<int>(hp);
        hpline(g, pen);
      }
      break;
    case 6: {  // DEST
      std::string name = arg;
      if (trimRight(name).empty()) {
        // A macro that ends here leaves the destination as it was.
        if (gxprompt(g, in, out, "Destination for TEK4010/4 plot > ", name, 50) != Reply::Ok)
          name.clear();
      }
      name = trimmedName(name);
      if (name.empty()) {
        g.io.write(out, " TEK4010/4 destination unchanged.");
      } else {
        crdest(g, name);
        std::string cur;
        crdest(g, cur);
        g.io.write(out, " TEK4010/4 destination set to " + cur);
      }
      break;
    }
    case 7:  // CLOSE
      gxquit(g, '*');
      break;
    case 8: {  // CFLAG
      char f = opt;
      if (f == ' ' || f == '\0') f = plotUpper(l[7]);
      gxclear(g, f);
      if (f == 'E')
        g.io.write(out, " Auto clear before a plot enabled.");
      else if (f == 'D')
        g.io.write(out, " Auto clear before a plot disabled.");
      else
        g.io.write(out, " No action on clear flag taken (use E or D).");
      break;
    }
    case 9:  // MARKS: ticks and labels of the axis routine on or off
      if (opt == 'E') {
        p.mark.marks = 1;
        g.io.write(out, " Axis marks enabled.");
      } else if (opt == 'D') {
        p.mark.marks = 0;
        g.io.write(out, " Axis marks disabled.");
      }
      break;
  }
  return 0;
}

}  // namespace gx
