// HELP, from the help file, and MENU, the list of the command words.
#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"

namespace tavo {

void cmdHelp(Tavo& s, Command& c) {
  const std::string arg = c.arg();
  if (c.qual == 'S') {
    s.helppath = c.typedArg();
    return;
  }
  std::string key = gx::pad(arg, 6);
  if (trimBlanks(key).empty()) key = "HELP  ";
  const std::string path = gx::Io::exists("tavo.hlp") ? std::string("tavo.hlp") : s.helppath;
  gx::gxhelp(s.gx, s.inout.cmd, s.inout.term, c.qual == 'B' ? 1 : 0, path, key);
}

void cmdMenu(Tavo& s, Command&) {
  say(s, "");
  say(s, "TAVO commands: ");
  say(s, "");
  for (int i = 0; i < 60; i += 8) {
    std::string row = " ";
    for (int j = i; j < i + 8 && j < 60; ++j) row += gx::pad(kCommands[j].word, 6) + "  ";
    s.gx.io.write(s.inout.term, row);
  }
}

}  // namespace tavo
