// PROFIL: a histogram of X, Y or the energy deviation of the ray set at its
// reference plane, written as a data file for an external plotting program.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

namespace {

// Channel n + 1 receives the largest value, so n stays below the counters.
constexpr int kCounters = 1000;
constexpr int kMaxChannels = kCounters - 1;
constexpr int kDefaultChannels = 20;

std::string g12(double v) { return gx::fG(v, 12, 5, 1); }
std::string g13(double v) { return gx::fG(v, 13, 5, 1); }

double field(char opt, double x, double y, double de) {
  if (opt == 'X') return x;
  if (opt == 'Y') return y;
  return de;
}

// The option of the qualifier, or chosen from the menu; false when none.
bool askOption(Kestrim& k, char option, char& opt) {
  opt = option;
  if (opt == ' ') {
    const char* texts[][2] = {{"X", "Intensity as a function of X"},
                              {"Y", "Intensity as a function of Y"},
                              {"E", "Intensity as a function of E"},
                              {"T", "Energy as a function of Theta"},
                              {"P", "Energy as a function of Phi"},
                              {"V", "Energy as a function of X"},
                              {"W", "Energy as a function of Y"}};
    for (auto& t : texts) kqsay(k, std::string(20, ' ') + t[0] + std::string(10, ' ') + t[1]);
    std::string reply;
    if (kqask(k, "Option > ", reply, 40) != gx::Reply::Ok) return false;
    const std::string r = kqstrip(reply);
    if (r.empty()) return false;
    opt = r[0];
  }
  opt = static_cast<char>(std::toupper(static_cast<unsigned char>(opt)));
  return true;
}

// Opens the data file named by the argument, the ray set or the answer,
// with the option letter and ".fit"; false when it did not open.
bool openFile(Kestrim& k, const std::string& line, char opt, std::string& name) {
  gx::Io& io = k.gx.io;
  name = kqarg(line).substr(0, 30);
  if (kqblank(name)) name = k.rayFile;
  kqsay(k, "Plot name : " + kqstrip(k.rayFile) + " Default filename : " + kqstrip(name));
  if (kqblank(name)) {
    if (kqask(k, "Output filename > ", name, 30) != gx::Reply::Ok || kqblank(name)) return false;
  }
  name = kqstem(name) + std::string(1, opt) + ".fit";
  gx::gxdncase(name, static_cast<int>(name.size()));
  kqsay(k, std::string(20, ' ') + "Output in file " + name);
  if (!io.open(k.io.file, name, gx::OpenStatus::Replace, gx::Access::Write)) {
    kqsay(k, "?KQPROFILE - Unable to open " + name + io.reason());
    kqsay(k, "");
    kqsay(k, "");
    return false;
  }
  return true;
}

// The number of channels along the axis, 0 when the input ended.
int askChannels(Kestrim& k, const std::string& letter) {
  for (;;) {
    std::string reply;
    if (kqask(k, "Number of channels along " + letter + "-axis (CR for 20) > ", reply, 80) !=
        gx::Reply::Ok)
      return 0;
    const std::string r = kqstrip(reply);
    double a = 0.0;
    if (!r.empty() && !gx::readReal(r, a)) continue;
    int n = static_cast<int>(std::trunc(std::clamp(a + 0.5, -1e9, 1e9)));
    if (n < 1) n = kDefaultChannels;
    if (n > kMaxChannels) {
      n = kMaxChannels;
      kqsay(k, "%KQPROFILE- At most " + std::to_string(kMaxChannels) + " channels; " +
                   std::to_string(n) + " used.");
    }
    return n;
  }
}

// The data file: heading lines, then one line per channel from the lowest
// to the highest occupied, with its count and the count's square root.
// The profile file; false (reported) when it could not be written.
bool writeProfile(Kestrim& k, const std::string& name, char opt, const std::vector<long long>& hist,
                  int low, int high, double lo, double range) {
  gx::Io& io = k.gx.io;
  const int unit = k.io.file;
  const int n = static_cast<int>(hist.size()) - 2;
  const std::string letter(1, opt);
  const double centre = lo + range / 2.0;
  const bool pos = opt == 'X' || opt == 'Y';
  io.write(unit, " " + letter + "-profile for " + kqstrip(k.rayFile));
  io.write(unit, " " + letter + " - axis (difference from centre range) " +
                     (pos ? "(^2l^cm)" : "(eV)"));
  for (const char* h : {" Counts", " 12,0", " 0", " 0", " 0"}) io.write(unit, h);
  for (int c = low; c <= high; ++c) {
    const long long cnt = hist[static_cast<size_t>(c)];
    const double x = (static_cast<double>(c - 1) / n * range + lo - centre) * 1e6;
    io.write(unit, " " + g12(x) + "," + kqcount(cnt, 5) + "," +
                       g12(std::sqrt(static_cast<double>(cnt))));
  }
  if (io.close(unit)) return true;
  kqsay(k, "?KQPROFILE - Unable to write " + name);
  return false;
}

// The same profile as a curve on the GRAPH device, when one is chosen.
void drawProfile(Kestrim& k, char opt, const std::vector<long long>& hist, int low, int high,
                 double lo, double range) {
  if (k.graphDevice == ' ') return;
  const int n = static_cast<int>(hist.size()) - 2;
  const std::string letter(1, opt);
  const double centre = lo + range / 2.0;
  const bool pos = opt == 'X' || opt == 'Y';
  std::vector<double> px, py;
  for (int c = low; c <= high; ++c) {
    px.push_back((static_cast<double>(c - 1) / n * range + lo - centre) * 1e6);
    py.push_back(static_cast<double>(hist[static_cast<size_t>(c)]));
  }
  kqcurve(k, letter + "-profile for " + kqstrip(k.rayFile),
          letter + " from the centre of the range" + (pos ? " (micron)" : " (x 1e6)"), "Counts", px,
          py);
}

}  // namespace

void kqprofile(Kestrim& k, KqLine& cmd) {
  std::string line = cmd.typed();
  const char option = cmd.qual;
  gx::Io& io = k.gx.io;
  const std::string dashes(78, '-');
  kqsay(k, dashes);
  kqsay(k, std::string(20, ' ') + "Profile sorting options");
  kqsay(k, dashes);
  kqsay(k, "");

  char opt = ' ';
  if (!askOption(k, option, opt)) return;

  // The range of the field over all rays.
  // A ray whose value is NaN takes no part (it is a bad index below).
  Range values;
  kqeach(k, 1, [&](int, double x, double, double y, double, double de) {
    values.add(field(opt, x, y, de));
  });
  const double lo = values.lo, hi = values.hi;
  kqsay(k, std::string(1, opt) + "-range from " + g13(lo) + " to " + g13(hi));
  const double range = hi - lo;
  if (!(range >= 1e-20) || !std::isfinite(range)) {
    kqsay(k, " Zero range!");
    return;
  }

  std::string name;
  if (!openFile(k, line, opt, name)) return;
  const int unit = k.io.file;

  const int n = askChannels(k, std::string(1, opt));
  if (n == 0) {
    io.close(unit, false);
    return;
  }

  // Count.
  std::vector<long long> hist(static_cast<size_t>(n) + 2, 0);
  int low = n + 1, high = 1;
  kqeach(k, 1, [&](int j, double x, double, double y, double, double de) {
    const double v = field(opt, x, y, de);
    const double kk = n * (v - lo) / range + 1.5;
    int c = kk >= 1.0 ? static_cast<int>(std::min(kk, static_cast<double>(n + 1))) : 0;
    if (c < 1) {
      // A ray with a NaN coordinate (from a ray file, or a map that
      // overflowed) has no channel: its index shows as 0, its r says why.
      const int shown = kk == kk ? static_cast<int>(std::max(kk, -2147483647.0)) : 0;
      kqsay(k, "Bad index at " + std::to_string(j) + " r = " + g13(v) + " index = " +
                   std::to_string(shown));
      c = 1;
    }
    ++hist[static_cast<size_t>(c)];
    low = std::min(low, c);
    high = std::max(high, c);
  });

  if (writeProfile(k, name, opt, hist, low, high, lo, range))
    drawProfile(k, opt, hist, low, high, lo, range);
}

}  // namespace kestrim
