// The run counter of the spot maps and phase-space plots, and the
// lower-casing of file names.
#include <cctype>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/gxlib.h"

namespace gx {

void gxrunup(Lib& g, int out, int unit, int& run, std::string& text, const std::string& name) {
  run = 0;
  text = "    ";
  const std::string file = std::string(gx::trimRight(name));
  if (file.find_first_not_of(' ') == std::string::npos) return;
  if (unit <= 0) {
    g.io.write(gx::Io::kOut, " ?GXRUNUP - Illegal logical unit number " + gx::fI(unit, 10));
    return;
  }
  if (gx::Io::exists(file)) {
    if (!g.io.open(unit, file, gx::OpenStatus::Old, gx::Access::Read)) {
      gx::gxsay(g, out, "%RUNUP - Unable to open " + file);
      return;
    }
    long long v = 0;
    if (g.io.readListInt(unit, &v, 1) != gx::RdStat::Ok || v < 0 || v >= 2147483647LL) {
      gx::gxsay(g, out, "Error reading from " + file);
      gx::gxsay(g, out, "");
      v = 10;
    }
    g.io.close(unit);
    run = static_cast<int>(v) + 1;
  } else {
    run = 1;
  }
  // The new count replaces the file only once it is written in full.
  if (!g.io.open(unit, file, gx::OpenStatus::Replace, gx::Access::Write)) {
    gx::gxsay(g, out, "%RUNUP - Unable to open " + file);
    run = 0;
    return;
  }
  g.io.write(unit, " " + std::to_string(run));
  if (!g.io.close(unit)) {
    gx::gxsay(g, out, "Error writing to " + file);
    gx::gxsay(g, out, "");
  }
  if (run != 0) text = gx::fI(run % 10000, 4);
}

void gxdncase(std::string& text, int length) {
  const size_t n = length < 0 ? 0 : std::min(text.size(), static_cast<size_t>(length));
  for (size_t i = 0; i < n; ++i)
    text[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
}

}  // namespace gx
