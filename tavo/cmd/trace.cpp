// TRACE: the edge rays through the system, plotted or listed, and the
// trace's settings (TRACE/O order, /W wait, /F font, /E and /D to enable
// and disable the auto clear, the collimation test and trace.dat).
#include <algorithm>
#include <cmath>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "gxlib/plot/plot.h"
#include "tavo/commands.h"
#include "tavo/design/design.h"

namespace tavo {

namespace {

// TRACE/E and TRACE/D: the switch named by the argument's first letter.
void traceSwitch(Tavo& s, char option, char which) {
  tavtrace& t = s.trace;
  const bool on = option == 'E';
  switch (which) {
    case 'K':
      gx::gxclear(s.gx, option);
      say(s, on ? " TEK4010 auto clear enabled" : " TEK4010 auto clear disabled");
      return;
    case 'C':
      t.collimate = on ? 1 : 0;
      say(s, on ? " Rays tested for collimation" : " Rays not tested for collimation");
      return;
    case 'S':
      t.save = on ? 1 : 0;
      say(s, on ? " Trajectories will be saved in trace.dat"
                : " Trajectories will not be saved");
      return;
    default:
      say(s, " Unknown option");
      return;
  }
}

// The settings of the trace. False when the option is not a setting.
bool traceSetting(Tavo& s, char option, const std::string& sub, double value) {
  tavtrace& t = s.trace;
  switch (option) {
    case 'O':
      t.order = std::max(1, static_cast<int>(std::min(std::max(value + 0.5, -1e9), 1e9)));
      say(s, "Order set to " + gx::fI(t.order, 3));
      return true;
    case 'W':
      t.wait = std::isfinite(value) ? static_cast<float>(std::min(std::max(value, 0.0), 3600.0)) : 0.0f;
      say(s, "Wait before plot set to " + gx::fF(t.wait, 10, 1) + " seconds.");
      say(s, "");
      return true;
    case 'F':
      t.font = static_cast<int>(std::min(std::max(value + 0.5, 0.0), 1e6));
      if (t.font < 1) t.font = 0;
      gx::gxfont(s.gx, t.font);
      say(s, "Font set to " + gx::fI(t.font, 2));
      say(s, "");
      return true;
    case 'D':
    case 'E':
      traceSwitch(s, option, sub[0]);
      return true;
    default:
      return false;
  }
}

}  // namespace

void cmdTrace(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  // The option is the qualifier (TRACE/O 3, TRACE/E C) or else the argument
  // letter, the plot device (TRACE Q).
  char option = c.qual;
  if (option == ' ') {
    option = c.letter;
    // A number as the argument is the step count on the terminal.
    if ((option >= '0' && option <= '9') || option == '.' || option == '-' || option == '+')
      option = ' ';
    // The settings are qualifiers; typed as the argument their letter and
    // value would be misread, so they are refused with the form to use.
    if (option == 'O' || option == 'W' || option == 'F' || option == 'E' || option == 'D') {
      say(s, "?TRACE- Settings take a slash: TRACE/O 2 (order), TRACE/W 1.5 (wait),");
      say(s, "        TRACE/F 3 (font), TRACE/E C or TRACE/D C (switches).");
      return;
    }
  }
  std::string sub = gx::pad(c.line, 40).substr(7, 2);
  gx::gxupcase(sub);
  if (traceSetting(s, option, sub, c.value)) return;
  trace(s, option, c.value);
}

}  // namespace tavo
