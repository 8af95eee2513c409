// Placeholder: replaced by the command interpreter.
#include "kestrim/kestrim.h"

namespace kestrim {
int run(std::istream&, std::ostream&, bool) { return 0; }
}  // namespace kestrim
