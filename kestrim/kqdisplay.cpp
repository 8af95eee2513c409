// How rays are shown: the caption, colour, dot mode and the flash count
// and delay of the maps.
#include <cctype>
#include <cmath>
#include <string>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

namespace {

// 1e-5 as the single-precision literal it was.
constexpr double kDotMin = 9.999999747378752e-6;

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Asks an Enable/Disable question; 'E', 'D' or another character.
char askEnable(Kestrim& k, char qual, const std::string& prompt) {
  if (qual == 'E' || qual == 'D') return qual;
  std::string reply;
  if (kqask(k, prompt, reply, 40) != gx::Reply::Ok) return ' ';
  return upper(reply.empty() ? ' ' : reply[0]);
}

}  // namespace

void kqflash(Kestrim& k, KqLine& c) {
  if (c.qual == 'D') {
    for (;;) {
      std::string reply;
      if (kqask(k, "Delay in ms > ", reply, 80) != gx::Reply::Ok) break;
      gx::ListScanner sc(1);
      long long v = 0;
      if (!sc.add(reply)) continue;
      if (sc.items().empty() || sc.items()[0].null) break;   // empty answer keeps NDEL
      if (!gx::listInt(sc.items()[0].text, v)) continue;
      k.ndel = kqclampint(v);
      break;
    }
  }
  k.flashCount = kqtrunc(std::fabs(c.value));
}

void kqcaptio(Kestrim& k, KqLine&) {
  kqsay(k, "Current caption : " + kqtrim(k.caption));
  std::string reply;
  if (kqask(k, "    New caption > ", reply, 70) != gx::Reply::Ok) return;
  if (!kqblank(reply.substr(0, 50))) k.caption = gx::pad(reply, 100);
}

void kqcolour(Kestrim& k, KqLine& c) {
  char e = askEnable(k, c.qual, "Enable or Disable colour > ");
  if (e == 'E') {
    k.flags.colour = 1;
    kqsay(k, "Colour enabled.");
  } else if (e == 'D') {
    k.flags.colour = 0;
    kqsay(k, "Colour disabled.");
  } else {
    kqsay(k, "Colour status unchanged.");
  }
}

void kqicoul(Kestrim& k, KqLine& c) {
  int n = kqtrunc(c.value + 0.5);
  if (n < 1) {
    for (;;) {
      std::string reply;
      if (kqask(k, "Colour number > ", reply, 80) != gx::Reply::Ok) break;
      double v = 0;
      if (!gx::readReal(kqstrip(reply), v)) continue;
      n = kqtrunc(v + 0.5);
      break;
    }
  }
  if (n < 1) {
    kqshutdown(k);
    return;
  }
  kqsay(k, "Not implemented in this version.");
}

void kqdotmod(Kestrim& k, KqLine& c) {
  if (c.value > kDotMin) k.dotSize = c.value;
  char e = askEnable(k, c.qual, "Enable or Disable dot mode > ");
  if (e == 'E') {
    k.dotMode = 1;
    kqsay(k, "Dot mode enabled.");
  } else if (e == 'D') {
    k.dotMode = 0;
    kqsay(k, "Dot mode disabled.");
  } else {
    kqsay(k, "Dot mode unchanged.");
  }
  kqsay(k, "DOT SIZE SET TO " + kqstrip(gx::fG(k.dotSize, 13, 5, 1)));
}

}  // namespace kestrim
