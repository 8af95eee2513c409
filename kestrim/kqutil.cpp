// Prompts, terminal lines and the small text helpers of the command routines.
#include <algorithm>
#include <cmath>
#include <limits>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

int kqlookup(const std::string& line) { return gx::gxlookup(line, kCommands); }

std::string KqLine::typed() const {
  return gx::pad(line.substr(0, 7) + gx::pad(rawArg, 33), 40);
}

int kqregister(char qual) { return qual == ' ' ? 0 : (qual >= '0' && qual <= '9' ? qual - '0' : -1); }

int kqtrunc(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

int kqclampint(long long v) {
  if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

gx::Reply kqask(Kestrim& k, const std::string& prompt, std::string& reply, size_t width) {
  return gx::gxprompt(k.gx, k.io.in, k.io.out, prompt, reply, width);
}

void kqsay(Kestrim& k, const std::string& text) { gx::gxsay(k.gx, k.io.out, text); }

std::string kqtrim(const std::string& s) { return std::string(gx::trimRight(s)); }

std::string kqstrip(const std::string& s) {
  size_t i = s.find_first_not_of(" \t");
  if (i == std::string::npos) return std::string();
  return kqtrim(s.substr(i));
}

bool kqblank(const std::string& s) { return s.find_first_not_of(" \t") == std::string::npos; }

bool kqhasdot(const std::string& name) {
  std::string t = kqtrim(name);
  size_t slash = t.rfind('/');
  size_t from = slash == std::string::npos ? 0 : slash + 1;
  return t.find('.', from) != std::string::npos;
}

std::string kqfirstword(const std::string& name) {
  std::string p = name;
  if (p.size() < 27) p.resize(27, ' ');
  size_t b = p.find(' ');
  int n = b == std::string::npos ? 0 : static_cast<int>(b);
  if (n < 1 || n > 26) n = 26;
  return gx::pad(name, 26).substr(0, static_cast<size_t>(n));
}

bool kqimage(Kestrim& k, double& ximg, double& yimg, bool strict) {
  ximg = yimg = 0.0;
  double x1 = 0, t1 = 0, y1 = 0, p1 = 0, e1 = 0, x2 = 0, t2 = 0, y2 = 0, p2 = 0, e2 = 0;
  bool ok = k.ntot >= 2 && kqrays(k, 'R', 1, x1, t1, y1, p1, e1) &&
            kqrays(k, 'R', 2, x2, t2, y2, p2, e2);
  const double dt = t2 - t1, dp = p2 - p1;
  if (ok) ok = strict ? (std::fabs(dt) >= 1e-20 && std::fabs(dp) >= 1e-20)
                      : std::fabs(dt * dp) >= 1e-30;
  if (ok) ok = std::isfinite(dt) && std::isfinite(dp);
  if (!ok) {
    kqsay(k, strict ? "Bad paraxial rays" : "Bad paraxial rays.");
    return false;
  }
  ximg = -(x2 - x1) / dt;
  yimg = -(y2 - y1) / dp;
  return true;
}

std::string kqarg(const std::string& line) {
  return line.size() > 7 ? gx::pad(line.substr(7), 33) : std::string(33, ' ');
}

double kqregvalue(const Kestrim& k, const std::string& arg, double value) {
  const std::string a = kqstrip(arg);
  if (a.size() >= 2 && (a[0] == 'A' || a[0] == 'a') && a[1] >= '0' && a[1] <= '9')
    return k.areg[static_cast<size_t>(a[1] - '0')];
  return value;
}

std::string kqcount(long long n, int w) {
  std::string s = gx::fI(n, w);
  return s.find('*') == std::string::npos ? s : std::to_string(n);
}

std::string kqstem(const std::string& name) {
  std::string t = kqstrip(name);
  size_t slash = t.rfind('/');
  size_t dot = t.find('.', slash == std::string::npos ? 0 : slash + 1);
  return dot == std::string::npos ? t : t.substr(0, dot);
}

}  // namespace kestrim
