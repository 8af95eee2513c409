// XSCTN and IDLOUT: words kept for old macros; they do nothing.
#include "tavo/commands.h"

namespace tavo {

void cmdRetired(Tavo&, Command&) {}

}  // namespace tavo
