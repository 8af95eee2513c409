// The system file (".tav"): a title line, the particle and beam rows and
// one row per element, up to the SENTINEL line, read into the element table
// and written back from it.
#include <cmath>

#include "gxlib/fortran/fortio.h"
#include "tavo/edit/edit.h"
#include "tavo/model/model.h"

namespace tavo {

namespace {

std::string trimmed(const std::string& t) { return std::string(gx::trimRight(t)); }

std::string trimBoth(const std::string& t) {
  std::string r = trimmed(t);
  size_t k = r.find_first_not_of(" \t");
  return k == std::string::npos ? std::string() : r.substr(k);
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

// F12.6, or 1PG12.5 for a value too large for the fixed form.
std::string fileValue(double v) {
  return std::fabs(v) > 9999.0 ? gx::fG(v, 12, 5, 1) : gx::fF(v, 12, 6);
}

}  // namespace

SysFileRead readSystemFile(Tavo& s) {
  auto& io = s.gx.io;
  const int unit = s.inout.sysin;
  auto done = [&](SysFileRead st) {
    io.close(unit);
    return st;
  };
  std::string line;
  if (io.readLine(unit, line, 50) != gx::RdStat::Ok) return done(SysFileRead::Severe);
  // A binary file must not send control characters to the terminal.
  s.title = gx::gxprintable(line);
  if (trimBoth(line).rfind("SENT", 0) == 0) return done(SysFileRead::Sentinel);
  if (!readRow(s, 1, 5)) return done(SysFileRead::Severe);
  s.bdata(1, 12) = s.bdata(1, 4);
  if (intPart(s.bdata(1, 1)) != 0) return done(SysFileRead::NoParticleBeam);
  if (!readRow(s, 2, 6)) return done(SysFileRead::Severe);
  for (int c = 2; c <= 6; ++c) s.bdata(2, c + 5) = s.bdata(2, c);
  if (intPart(s.bdata(2, 1)) != 1) return done(SysFileRead::NoParticleBeam);
  for (int row = 3;; ++row) {
    if (row > kRows) return done(SysFileRead::Severe);
    if (!readRow(s, row, 4)) return done(SysFileRead::Severe);
    if (intPart(s.bdata(row, 1)) == 9) {
      s.syspa = row - 1;
      return done(SysFileRead::Loaded);
    }
  }
}

void writeSystemFile(Tavo& s, int unit) {
  auto& io = s.gx.io;
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
}

}  // namespace tavo
