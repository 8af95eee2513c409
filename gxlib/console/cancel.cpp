// Ctrl-C in the conversation: the poll of long work, the cancelled command
// and the press at the command prompt.
#include <string>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/interrupt.h"
#include "gxlib/gxlib.h"

namespace gx {

void gxpoll(Lib& g) {
  if (g.onPoll) g.onPoll();
  if (interruptPending()) throw Interrupted{};
}

After gxcancelled(Lib& g, int out, long long mark) {
  // A plot in progress ends well-formed with what was drawn; files the
  // command was writing never take their names.
  gxquit(g, '*');
  g.io.discardSince(mark);
  g.failed = false;
  g.errorMark = g.io.errorLines();
  ++g.failures;
  g.ctrlcArmed = true;
  const bool inMacro = !g.cmdFile.empty();
  const bool stop = g.strict || !g.userAtTerminal;
  std::string text = "Interrupted";
  if (inMacro) text += " at line " + std::to_string(g.cmdLine) + " of " + g.cmdFile;
  if (stop)
    text += "; the run stops.";
  else if (inMacro)
    text += "; the macro is left.";
  gxsay(g, out, text);
  g.endedByCtrlc = stop;
  // A press during the cleanup was meant for this command too.
  interruptClear();
  if (stop) return After::Stop;
  return inMacro ? After::LeaveMacros : After::Go;
}

bool gxpromptinterrupt(Lib& g, int out, std::string_view program) {
  interruptClear();
  const std::string name(program);
  if (g.ctrlcArmed || !g.userAtTerminal) {
    gxsay(g, out, "Interrupted: " + name + " ends.");
    g.endedByCtrlc = true;
    return true;
  }
  g.ctrlcArmed = true;
  gxsay(g, out, "Ctrl-C again, Ctrl-D or EXIT ends " + name + ".");
  return false;
}

}  // namespace gx
