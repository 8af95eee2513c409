// Macros: @ runs one, REWIND starts it again, STOP leaves it on a register
// test (INCR, STOP and REWIND make a counted loop), PREV runs the previous
// line again.
#include <string>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

void kqmacrocmd(Kestrim& k, KqLine& c) {
  std::string name = kqarg(c.typed()).substr(0, 30);
  if (kqblank(name) && k.io.macro == 1) {
    kqmacroend(k);
    return;
  }
  name = kqhasdot(name) ? kqstrip(name) : kqfirstword(name) + ".kcm";
  if (gx::Io::exists(name)) {
    kqmacro(k, name);
  } else {
    gx::gxfail(k.gx);
    kqsay(k, name + " does not exist.");
  }
}

void kqprev(Kestrim& k, KqLine&) {
  if (!kqblank(k.prevLine))
    kqdispatch(k, k.prevLine, k.prevQual, k.prevValue, "", std::string(k.prevArg));
}

void kqrewind(Kestrim& k, KqLine&) {
  if (k.io.macro == 1 && !gx::gxmacrorewind(k.gx, k.io.in, k.io.out, "KESTRIM")) kqmacroend(k);
}

void kqstop(Kestrim& k, KqLine& c) {
  int n = kqregister(c.qual);
  if (n >= 0 && k.io.macro == 1 && k.ireg[n] > gx::gxnint(c.value)) kqmacroend(k);
}

bool kqmacro(Kestrim& k, const std::string& name) {
  if (!gx::gxmacro(k.gx, k.io.in, k.io.out, name, "KESTRIM")) return false;
  k.io.macro = 1;
  return true;
}

void kqmacroend(Kestrim& k) {
  gx::gxmacroend(k.gx, k.io.in);
  if (k.io.in == gx::Io::kIn) k.io.macro = 0;
}

}  // namespace kestrim
