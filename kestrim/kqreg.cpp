// The ten real and ten integer registers that macros use as loop counters
// and parameters, and their file kqsort.reg.
#include <limits>
#include <string>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"

namespace kestrim {

namespace {

int digit(char c) { return c >= '0' && c <= '9' ? c - '0' : -1; }

// Register number of a register command: the qualifier digit, or the first
// character of the answer to "Register number > " when the qualifier is
// blank. -1 when there is none.
int askRegister(Kestrim& k, char qual) {
  if (qual != ' ') return digit(qual);
  std::string reply;
  if (kqask(k, "Register number > ", reply, 40) != gx::Reply::Ok) return -1;
  std::string s = kqstrip(reply);
  return s.empty() ? -1 : digit(s[0]);
}

void listRegisters(Kestrim& k) {
  kqsay(k, "");
  kqsay(k, "");
  for (int n = 0; n < 10; ++n) {
    std::string d = std::to_string(n);
    kqsay(k, "A" + d + " = " + gx::fG(k.areg[n], 13, 5, 1) + " I" + d + " = " +
                 gx::fI(k.ireg[n], 10));
  }
  kqsay(k, "");
}

// ALOAD and ILOAD: qualifier I reloads the file, otherwise the value goes
// to the register asked for (rounded for an integer register).
void load(Kestrim& k, const KqLine& c, bool integer) {
  if (c.qual == 'I') {
    int st = kqregload(k);
    if (st == 0)
      k.gx.io.write(k.io.out, " Registers loaded from disk.");
    else if (st == 1)
      kqsay(k, "Unable to open kqsort.reg");
    return;
  }
  int n = askRegister(k, c.qual);
  if (n < 0) return;
  if (integer)
    k.ireg[n] = gx::gxnint(c.value);
  else
    k.areg[n] = c.value;
}

}  // namespace

void kqreg(Kestrim& k, KqLine& c) {
  if (c.qual == 'L') {
    listRegisters(k);
    return;
  }
  int n = askRegister(k, c.qual);
  if (n >= 0) k.areg[n] += c.value;
}

void kqaload(Kestrim& k, KqLine& c) { load(k, c, false); }

void kqiload(Kestrim& k, KqLine& c) { load(k, c, true); }

void kqregsav(Kestrim& k, KqLine&) {
  if (kqregsave(k) == 0) kqsay(k, "Registers saved.");
}

void kqregld(Kestrim& k, KqLine&) { kqregload(k); }

void kqincr(Kestrim& k, KqLine& c) {
  int n = kqregister(c.qual);
  if (n >= 0) k.ireg[n] = kqclampint(static_cast<long long>(k.ireg[n]) + gx::gxnint(c.value));
}

int kqregload(Kestrim& k) {
  gx::Io& io = k.gx.io;
  int u = k.io.file;
  if (!io.open(u, "kqsort.reg", gx::OpenStatus::Old, gx::Access::Read)) return 1;
  kqsay(k, std::string(9, ' ') + "<<< Loading registers from KQSORT.REG >>>");
  kqsay(k, "");
  // Each record is one list-directed read; values are stored as they are
  // read, so those before an unreadable one keep their new values.
  auto readRecord = [&](int n, auto store) {
    gx::ListScanner sc(n);
    std::string rec;
    while (!sc.done()) {
      if (io.readLine(u, rec) != gx::RdStat::Ok) break;
      if (!sc.add(rec)) break;
    }
    const auto& items = sc.items();
    for (int i = 0; i < n; ++i) {
      if (i >= static_cast<int>(items.size())) return sc.done();
      if (items[static_cast<size_t>(i)].null) continue;
      if (!store(i, items[static_cast<size_t>(i)].text)) return false;
    }
    return true;
  };
  bool ok = readRecord(10, [&](int i, const std::string& t) {
    double v;
    if (!gx::listReal(t, v)) return false;
    k.areg[static_cast<size_t>(i)] = v;
    return true;
  });
  ok = ok && readRecord(10, [&](int i, const std::string& t) {
         long long v;
         if (!gx::listInt(t, v) || v < std::numeric_limits<int>::min() ||
             v > std::numeric_limits<int>::max())
           return false;
         k.ireg[static_cast<size_t>(i)] = static_cast<int>(v);
         return true;
       });
  io.close(u);
  if (!ok) {
    kqsay(k, "%KQREGLOAD - Error reading KQSORT.REG");
    kqsay(k, "");
    return 2;
  }
  return 0;
}

int kqregsave(Kestrim& k) {
  gx::Io& io = k.gx.io;
  int u = k.io.file;
  if (!io.open(u, "kqsort.reg", gx::OpenStatus::New, gx::Access::Write)) {
    kqsay(k, "Unable to open kqsort.reg" + io.reason());
    return 1;
  }
  // List-directed records; 17 significant digits bring every value back
  // exactly.
  std::string a, i;
  for (double v : k.areg) a.append(" ").append(gx::fG(v, 25, 17, 1));
  for (int v : k.ireg) i += gx::fI(v, 12);
  io.write(u, a);
  io.write(u, i);
  if (!io.close(u)) {
    kqsay(k, "Unable to write kqsort.reg");
    return 1;
  }
  return 0;
}

}  // namespace kestrim
