// @: runs a macro file; "@" alone ends the macro it stands in.
#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"

namespace tavo {

// "@": run a macro; alone it ends the current macro, or asks at the terminal.
void cmdMacro(Tavo& s, Command& c) {
  std::string name = c.typedArg();
  if (name.empty()) {
    if (s.inout.cmd != gx::Io::kIn) {
      endMacro(s);
      return;
    }
    std::string reply;
    if (ask(s, "Macro file name > ", reply, 0) != gx::Reply::Ok) return;
    name = trimBlanks(reply);
    if (name.empty()) return;
  }
  openMacro(s, name + ".tcm");
}

}  // namespace tavo
