// The system file: DATA loads a ".tav" file into the element table, SAVE
// writes the table back.
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/edit/edit.h"
#include "tavo/model/model.h"
#include "tavo/optics/optics.h"

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
bool filein(Tavo& s, Command& c) {
  auto& io = s.gx.io;
  std::string name = trimBoth(c.typedArg());
  if (name.empty()) {
    std::string reply;
    if (ask(s, "Filename for input > ", reply, 100) != gx::Reply::Ok) return false;
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
      io.write(s.inout.term, " Unable to open " + name);
      io.write(s.inout.term, " ");
      return false;
    }
    s.file = typed;
    return true;
  }
  io.write(s.inout.term, " " + name + " does not exist.");
  io.write(s.inout.term, " ");
  setArg(c, "");
  s.file.clear();
  return false;
}

// Reads n list-directed values into columns 1..n of a row. Values must be
// finite numbers.
bool readRow(Tavo& s, int row, int n) {
  double v[6] = {0, 0, 0, 0, 0, 0};
  if (s.gx.io.readList(s.inout.sysin, v, n) != gx::RdStat::Ok) return false;
  for (int k = 0; k < n; ++k) {
    if (!std::isfinite(v[k])) return false;
    s.bdata(row, k + 1) = v[k];
  }
  // Type codes have at most two digits before the point.
  return v[0] >= 0.0 && v[0] < 100.0;
}

int intPart(double code) { return static_cast<int>(code); }

// 10 loaded, 0 the file starts with a sentinel, 1 read error, 2 the first
// rows are not particle and beam.
int readin(Tavo& s) {
  auto& io = s.gx.io;
  const int unit = s.inout.sysin;
  auto done = [&](int st) {
    io.close(unit);
    return st;
  };
  std::string line;
  if (io.readLine(unit, line, 50) != gx::RdStat::Ok) return done(1);
  // A binary file must not send control characters to the terminal.
  s.title = gx::gxprintable(line);
  if (trimBoth(line).rfind("SENT", 0) == 0) return done(0);
  if (!readRow(s, 1, 5)) return done(1);
  s.bdata(1, 12) = s.bdata(1, 4);
  if (intPart(s.bdata(1, 1)) != 0) return done(2);
  if (!readRow(s, 2, 6)) return done(1);
  for (int c = 2; c <= 6; ++c) s.bdata(2, c + 5) = s.bdata(2, c);
  if (intPart(s.bdata(2, 1)) != 1) return done(2);
  for (int row = 3;; ++row) {
    if (row > kRows) return done(1);
    if (!readRow(s, row, 4)) return done(1);
    if (intPart(s.bdata(row, 1)) == 9) {
      s.syspa = row - 1;
      return done(10);
    }
  }
}

// F12.6, or 1PG12.5 for a value too large for the fixed form.
std::string fileValue(double v) {
  return std::fabs(v) > 9999.0 ? gx::fG(v, 12, 5, 1) : gx::fF(v, 12, 6);
}

}  // namespace

void cmdData(Tavo& s, Command& c) {
  auto& io = s.gx.io;
  const int term = s.inout.term;
  if (!filein(s, c)) return;
  s.bdata.clear();
  s.aber3 = tavo_aber3{};
  int status = readin(s);
  // A positive level set before the load asks for the final listing of the
  // loaded system at that level; a file that did not load has none.
  if (s.idiag > 0 && status == 10) {
    s.bdata(1, 5) = s.idiag;
    finalListing(s);
    s.running = false;
    return;
  }
  io.write(term, " Title: " + trimmed(s.title));
  if (status == 0) {
    s.running = false;
    return;
  }
  if (status == 1) {
    io.write(term, " ?MAIN- Severe error in data file");
    s.running = false;
    return;
  }
  if (status == 2) {
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
    if (ask(s, "Filename for output (CR for " + trimmed(s.file) + ") > ", reply, 100) !=
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
    io.write(term, " Unable to open " + name + io.reason());
    io.write(term, " ");
    return;
  }
  s.bdata(1, 4) = s.bdata(1, 12);
  // The title keeps the one leading blank it took from its file line.
  std::string title = trimmed(s.title);
  if (!title.empty() && title[0] == ' ') title.erase(0, 1);
  io.write(unit, " " + title);
  auto row = [&](int r, int n) {
    std::string rec = " " + gx::fF(s.bdata(r, 1), 5, 2) + "   ";
    bool isDrift = r >= 3 && rawCode(s, r) == 3;
    for (int k = 2; k <= n; ++k) {
      double v = (isDrift && k >= 3) ? 0.0 : s.bdata(r, k);
      rec += "," + fileValue(v);
    }
    io.write(unit, rec);
  };
  row(1, 5);
  row(2, 6);
  for (int r = 3; r <= s.syspa; ++r) row(r, 4);
  io.write(unit, " SENTINEL");
  if (!io.close(unit)) {
    io.write(term, " ?SAVE- Unable to write " + name + "; the old file is unchanged.");
    return;
  }
  io.write(term, " Data saved in file: " + name);
}

}  // namespace tavo
