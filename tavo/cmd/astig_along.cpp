// SPEC: the astigmatism of the partial system along z, into a file.
#include <cmath>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/design/design.h"

namespace tavo {

namespace {

bool readReals(const std::string& reply, double* v, int n) {
  gx::ListScanner sc(n);
  if (!sc.add(reply)) return false;
  if (static_cast<int>(sc.items().size()) < n) return false;
  for (int i = 0; i < n; ++i) {
    const gx::ListItem& it = sc.items()[i];
    if (it.null) continue;
    double x;
    if (!gx::listReal(it.text, x) || !std::isfinite(x)) return false;
    v[i] = x;
  }
  return true;
}

std::string trim(const std::string& t) {
  const size_t b = t.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  const size_t e = t.find_last_not_of(" \t");
  return t.substr(b, e - b + 1);
}

}  // namespace

void cmdSpec(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  auto& io = s.gx.io;
  const int unit = 20;
  say(s, "Generate a file of (Z, Astig) ordered pairs.");
  say(s, "");
  // The name as typed (the decoder would rewrite a name that starts like a
  // number), whole: a longer one is no reason to write another file.
  std::string name = trim(c.typedArg());
  for (;;) {
    if (name.empty()) {
      std::string reply;
      if (ask(s, "Filename for output > ", reply, 0) != gx::Reply::Ok) return;
      name = trim(reply);
      if (name.empty()) return;
    }
    if (io.isOpen(unit)) io.close(unit);
    if (io.open(unit, name, gx::OpenStatus::New, gx::Access::Write)) break;
    say(s, "Unable to open " + name + (gx::Io::exists(name) ? " (it exists)" : io.reason()));
    // In a macro the next lines are its commands, not another name.
    if (s.inout.cmd != gx::Io::kIn) {
      gx::gxfail(s.gx);
      return;
    }
    name.clear();
  }
  double v[3] = {0.0, 0.0, 0.0};
  std::string reply;
  if (askUntil(s, "Z initial, Z final, Number of steps  > ", reply, 0, [&](const std::string& r) {
        return readReals(r, v, 3);
      }) == gx::Reply::End) {
    io.close(unit, false);
    return;
  }
  astigmatismAlong(s, v[0], v[1], v[2], unit);
}

}  // namespace tavo
