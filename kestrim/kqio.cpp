// Placeholder: replaced by the ray-set channels.
#include "kestrim/kq.h"

namespace kestrim {
void kqio(Kestrim&, char, std::string&, int& ierr) { ierr = 1; }
bool kqrays(Kestrim&, char, int, double&, double&, double&, double&, double&) { return false; }
void kqioend(Kestrim&, char) {}
void kqdump(Kestrim&, std::string&, char, double) {}
}  // namespace kestrim
