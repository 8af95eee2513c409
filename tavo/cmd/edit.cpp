// The table edits: INSERT and REMOVE a row, and the rotations (ROTN) and
// displacements (DISP) of the elements, set, asked row by row, or their
// aberrations listed.
#include <cctype>
#include <cmath>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/edit/edit.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"
#include "tavo/system/system.h"

namespace tavo {

namespace {

// The row number of INSERT and REMOVE: the argument, or asked. 0 when
// nothing is to be done.
int rowNumber(Tavo& s, const Command& c, const char* prompt) {
  double v = c.value;
  if (!(v > 0.0)) {
    std::string reply;
    if (askUntil(s, prompt, reply, 0, [&](const std::string& r) {
          return gx::readReal(gx::pad(r, 12), v);
        }) != gx::Reply::Ok)
      return 0;
    if (!(v > 0.0)) return 0;
  }
  return v < 1e6 ? static_cast<int>(v) : 1000000;
}

void report(Tavo& s, int before) {
  Mat4 a;
  stigmat(s, 1, a);
  couple(s);
  say(s, "No. of elements changed by " + gx::fI(s.syspa - before, 2) + " to " + gx::fI(s.syspa, 2));
}

bool adjustable(Tavo& s, int row) {
  TypeCode tc = decodeType(s, s.bdata(row, 1));
  return tc.field != 0 && !tc.superposed;
}

std::string rowLabel(Tavo& s, int row) {
  TypeCode tc = decodeType(s, s.bdata(row, 1));
  return " " + gx::fI(row, 2) + " " + fieldLabel(tc.field) + " " + kindName(tc.kind);
}

}  // namespace

double argNumber(const Command& c) {
  if (c.value != 0.0) return c.value;
  std::string a = c.arg();
  size_t i = 0;
  while (i < a.size() && std::isalpha(static_cast<unsigned char>(a[i]))) ++i;
  double v = 0.0;
  std::string rest = std::string(gx::trimRight(a.substr(i)));
  size_t b = rest.find_first_not_of(" ,");
  if (b == std::string::npos) return 0.0;
  rest = rest.substr(b);
  size_t e = rest.find_first_of(" ,");
  if (!gx::readReal(rest.substr(0, e), v) || !std::isfinite(v)) return 0.0;
  return v;
}

void cmdInsert(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  const int n = rowNumber(s, c, "After which element? > ");
  if (n <= 0) return;
  const int count = s.syspa;
  // After the system end a row would lie outside the system.
  if (n >= count) {
    say(s, "Last element is number " + gx::fI(count - 1, 2));
    return;
  }
  if (n < 2) {
    say(s, "Cannot insert an element there.");
    return;
  }
  if (count >= kRows) {
    say(s, "System already of maximum number of elements");
    return;
  }
  insertDrift(s, n);
  report(s, count);
}

void cmdRemove(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  const int n = rowNumber(s, c, "Which element? > ");
  if (n <= 0) return;
  const int count = s.syspa;
  // The system end stays: without it the table has no end.
  if (n >= count) {
    say(s, "Last element is number " + gx::fI(count - 1, 2));
    return;
  }
  if (n < 3) {
    say(s, "Cannot remove beam or particle element.");
    return;
  }
  removeRow(s, n);
  report(s, count);
}

void cmdRotn(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  if (c.letter == 'Z' || c.letter == 'A') {
    const double v = argNumber(c);
    for (int r = 1; r <= s.syspa; ++r) s.rotat[r] = v * s.cnst.pi;
    if (v != 0.0)
      say(s, "All rotations set to " + gx::fF(v, 10, 5) + " Pi.");
    else
      say(s, "All rotations zeroed.");
    return;
  }
  if (c.qual == 'I') {
    auto rot = s.rotat;
    for (int r = 3; r <= s.syspa; ++r) {
      if (!adjustable(s, r)) continue;
      const std::string text = rowLabel(s, r) + " Rotation = " + gx::fF(rot[r], 10, 4) + " rad > ";
      if (gx::gxaskupdate(s.gx, s.inout.cmd, s.inout.term, s.imacr, text, rot[r]) ==
          gx::Reply::End)
        return;
    }
    s.rotat = rot;
    return;
  }
  rotationAberrations(s, c.qual != ' ' ? c.qual : c.letter, argNumber(c));
}

void cmdDisp(Tavo& s, Command& c) {
  if (!haveSystem(s)) return;
  if (c.letter == 'Z' || c.letter == 'A') {
    const double v = argNumber(c);
    for (int r = 1; r <= s.syspa; ++r) s.displ[r] = {v, v};
    if (v != 0.0)
      say(s, "All displacements set to " + gx::fF(v, 10, 5) + " m.");
    else
      say(s, "All displacements zeroed.");
    return;
  }
  if (c.qual == 'I') {
    auto d = s.displ;
    for (int r = 3; r <= s.syspa; ++r) {
      if (!adjustable(s, r)) continue;
      const std::string text = rowLabel(s, r) + " Displacement (x,y) = " +
                               gx::fF(d[r][0], 10, 4) + "," + gx::fF(d[r][1], 10, 4) + " (m) > ";
      if (gx::gxaskupdate(s.gx, s.inout.cmd, s.inout.term, s.imacr, text, d[r][0], d[r][1]) ==
          gx::Reply::End)
        return;
    }
    s.displ = d;
    return;
  }
  displacementAberrations(s, argNumber(c));
}

}  // namespace tavo
