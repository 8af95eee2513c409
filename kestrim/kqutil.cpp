// Prompts, terminal lines and the small text helpers of the command routines.
#include <algorithm>

#include "gxlib/fortio.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

int kqlookup(const std::string& line) {
  size_t b = line.find(' ');
  int n = b == std::string::npos ? 0 : static_cast<int>(b);
  if (n < 1 || n > 6) n = 6;
  std::string head = gx::pad(line, 6).substr(0, static_cast<size_t>(n));
  for (size_t i = 0; i < kComlib.size(); ++i) {
    if (gx::pad(kComlib[i], 6).compare(0, static_cast<size_t>(n), head) == 0)
      return static_cast<int>(i) + 1;
  }
  return 0;
}

int kqask(Kestrim& k, const std::string& prompt, std::string& reply, size_t width) {
  k.gx.io.prompt(prompt);
  gx::RdStat st = k.gx.io.readLine(k.io.in, reply, width);
  // A macro file that cannot be read any further is at its end for every
  // prompt: giving up here is what keeps the prompt loops finite.
  if (st != gx::RdStat::Ok) {
    reply = std::string(width, ' ');
    return gx::kReadEnd;
  }
  if (k.io.macro == 1) k.gx.io.write(k.io.out, std::string("+").append(kqtrim(reply)));
  return gx::kReadOk;
}

void kqsay(Kestrim& k, const std::string& text) { k.gx.io.write(k.io.out, " " + text); }

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

std::string kqcut26(const std::string& name) {
  std::string p = name;
  if (p.size() < 27) p.resize(27, ' ');
  size_t b = p.find(' ');
  int n = b == std::string::npos ? 0 : static_cast<int>(b);
  if (n < 1 || n > 26) n = 26;
  return gx::pad(name, 26).substr(0, static_cast<size_t>(n));
}

}  // namespace kestrim
