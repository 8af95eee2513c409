// DATA loads a system file into the element table, SAVE writes the table
// back.
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

std::string trimmed(const std::string& t) { return std::string(gx::trimRight(t)); }

std::string trimBoth(const std::string& t) {
  std::string r = trimmed(t);
  size_t k = r.find_first_not_of(" \t");
  return k == std::string::npos ? std::string() : r.substr(k);
}

void setArg(Command& c, const std::string& text) {
  std::string line = gx::pad(c.line, 40);
  c.line = line.substr(0, 7) + gx::pad(text, 33);
}

// Takes the file name and opens it on the input unit. True when opened.
bool openSystemFile(Tavo& s, Command& c) {
  auto& io = s.gx.io;
  std::string name = trimBoth(c.typedArg());
  if (name.empty()) {
    std::string reply;
    if (ask(s, "Filename for input > ", reply, 0) != gx::Reply::Ok) return false;
    name = trimBoth(reply);
    setArg(c, name);
  }
  if (name.empty()) {
    // Nothing to work on yet: the program has no system at all.
    if (s.bdata(2, 1) == 0.0) s.running = false;
    return false;
  }
  std::string typed = name;
  if (name.find('.') == std::string::npos) name += ".tav";
  if (gx::Io::exists(name)) {
    io.close(s.inout.sysin);
    if (!io.open(s.inout.sysin, name, gx::OpenStatus::Old, gx::Access::Read)) {
      gx::gxfail(s.gx);
      io.write(s.inout.term, " Unable to open " + name);
      io.write(s.inout.term, " ");
      return false;
    }
    s.file = typed;
    return true;
  }
  gx::gxfail(s.gx);
  io.write(s.inout.term, " " + name + " does not exist.");
  io.write(s.inout.term, " ");
  setArg(c, "");
  s.file.clear();
  return false;
}

}  // namespace

void cmdData(Tavo& s, Command& c) {
  auto& io = s.gx.io;
  const int term = s.inout.term;
  if (!openSystemFile(s, c)) return;
  s.bdata.clear();
  s.aber3 = tavo_aber3{};
  const SysFileRead status = readSystemFile(s);
  // A positive level set before the load asks for the final listing of the
  // loaded system at that level; a file that did not load has none.
  if (s.idiag > 0 && status == SysFileRead::Loaded) {
    s.bdata(1, 5) = s.idiag;
    finalListing(s);
    s.running = false;
    return;
  }
  io.write(term, " Title: " + trimmed(s.title));
  if (status == SysFileRead::Sentinel) {
    s.running = false;
    return;
  }
  if (status == SysFileRead::Severe) {
    io.write(term, " ?MAIN- Severe error in data file");
    s.running = false;
    return;
  }
  if (status == SysFileRead::NoParticleBeam) {
    io.write(term, " ?MAIN- First elements must be particle (0.0) and beam (1.0)");
    s.running = false;
    return;
  }
  for (int k = 1; k <= s.syspa && k <= kRows; ++k) {
    s.rotat[k] = 0.0;
    s.displ[k] = {0.0, 0.0};
  }
  s.aber2 = Mat14{};
  Mat4 a;
  stigmat(s, 1, a);
  couple(s);
  if (s.idiag >= 0) io.write(term, " %TAVO- Diagnostics set to " + gx::fI(s.idiag, 2));
  if (s.syspb.totlen == 0.0) io.write(term, " %TAVO- Zero length system.");
}

void cmdSave(Tavo& s, Command& c) {
  auto& io = s.gx.io;
  const int term = s.inout.term;
  std::string name = trimBoth(c.typedArg());
  if (name.empty()) {
    std::string reply;
    if (ask(s, "Filename for output (CR for " + trimmed(s.file) + ") > ", reply, 0) !=
        gx::Reply::Ok)
      return;
    name = trimBoth(reply);
    if (name.empty()) name = trimBoth(s.file);
  }
  if (name.empty()) {
    io.write(term, " No file name given: nothing saved.");
    return;
  }
  if (s.syspa < 3 || rawCode(s, s.syspa) != 9) {
    io.write(term, " No lens system to save.");
    return;
  }
  if (name.find('.') == std::string::npos) {
    s.file = name;
    name += ".tav";
  }
  const int unit = s.inout.sysout;
  io.close(unit);
  // The file is written beside the old one and renamed over it on close.
  if (!io.open(unit, name, gx::OpenStatus::Unknown, gx::Access::Write)) {
    gx::gxfail(s.gx);
    io.write(term, " Unable to open " + name + io.reason());
    io.write(term, " ");
    return;
  }
  writeSystemFile(s, unit);
  if (!io.close(unit)) {
    io.write(term, " ?SAVE- Unable to write " + name + "; the old file is unchanged.");
    return;
  }
  io.write(term, " Data saved in file: " + name);
}

}  // namespace tavo
