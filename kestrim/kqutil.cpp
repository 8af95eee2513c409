// Prompts, terminal lines and the small text helpers of the command routines.
#include <algorithm>

#include "gxlib/converse.h"
#include "gxlib/fortio.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

int kqlookup(const std::string& line) { return gx::gxlookup(line, kCommands); }

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

std::string kqcut26(const std::string& name) {
  std::string p = name;
  if (p.size() < 27) p.resize(27, ' ');
  size_t b = p.find(' ');
  int n = b == std::string::npos ? 0 : static_cast<int>(b);
  if (n < 1 || n > 26) n = 26;
  return gx::pad(name, 26).substr(0, static_cast<size_t>(n));
}

}  // namespace kestrim
