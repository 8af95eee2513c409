// Placeholder: replaced by the lens-system model.
#include "tavo/model.h"

namespace tavo {
const char* const kUnitNames[21] = {};
const char* const kKindNames[21] = {};
const char* const kTitles[52] = {};
const char* fieldLabel(int) { return "    "; }
const char* supraLabel(int) { return "      "; }
std::string kindName(int) { return "?         "; }
TypeCode gxpack(Tavo&, double) { return {}; }
int rawCode(const Tavo& s, int row) { return static_cast<int>(s.bdata(row, 1)); }
void couple(Tavo&) {}
void reload(Tavo&) {}
void fload(Tavo&, const Mask&, int& nv) { nv = 0; }
void funload(Tavo&, const Mask&, int) {}
bool minput(Tavo&, Mask&, int& n) { n = 0; return true; }
}  // namespace tavo
