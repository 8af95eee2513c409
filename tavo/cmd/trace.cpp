// TRACE: the edge rays through the system, plotted or listed.
#include <string>

#include "tavo/commands.h"
#include "tavo/design/design.h"

namespace tavo {

void cmdTrace(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  // The option is the qualifier (TRACE/O 3, TRACE/E C) or else the argument
  // letter, the plot device (TRACE Q).
  std::string line = c.line;
  char option = c.qual;
  if (option == ' ') {
    option = c.letter;
    // A number as the argument is the step count on the terminal.
    if ((option >= '0' && option <= '9') || option == '.' || option == '-' || option == '+')
      option = ' ';
  }
  trace(s, line, option, c.value);
}

}  // namespace tavo
