// VELNA and ION: the outputs for the outside ray programs, which this
// version does not write; they take the file name and say so.
#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/model/model.h"

namespace tavo {

void cmdVelna(Tavo& s, Command& c) {
  std::string name = c.typedArg();
  if (name.empty()) {
    std::string reply;
    if (ask(s, "VELNA filename for output> ", reply, 100) != gx::Reply::Ok) return;
    name = trimBlanks(reply);
    if (name.empty()) name = s.corrName;
  }
  couple(s);
  say(s, "KQOUT not implemented");
}

void cmdIon(Tavo& s, Command& c) {
  std::string name = c.typedArg();
  if (name.empty()) {
    std::string reply;
    if (ask(s, "TIRVEX filename for output> ", reply, 100) != gx::Reply::Ok) return;
    name = trimBlanks(reply);
    if (name.empty()) name = s.file;
  }
  couple(s);
  say(s, "IONOUT not implemented");
}

}  // namespace tavo
