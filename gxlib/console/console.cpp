// Console utilities: command-line decoding, prompted updates, help text,
// and the small terminal and operating-system services of the library.
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <vector>

#include "gxlib/fortran/fortio.h"
#include "gxlib/console/converse.h"
#include "gxlib/gxlib.h"
#include "gxlib/plot/plot.h"

namespace gx {

namespace {

bool isSep(char c) { return c == ' ' || c == '\t'; }

char upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Powers of ten as the decoder forms them: in single precision, falling
// back to double where a float would underflow or overflow.
double pow10single(int k) {
  float f = std::pow(10.0f, static_cast<float>(k));
  if (std::isnormal(f)) return f;
  return std::pow(10.0, k);
}

// Parses the number at the start of arg (from position q). On success sets
// value and end (one past the number's last character).
bool decodeNumber(const std::string& arg, size_t q, double sign, double& value,
                  size_t& end) {
  double ival = 0.0;
  int point = -1, last = -1, expo = 0;
  bool digits = false;
  size_t i = q;
  end = arg.size();
  for (; i < arg.size(); ++i) {
    char c = arg[i];
    if (c >= '0' && c <= '9') {
      ival = ival * 10.0 + (c - '0');
      last = static_cast<int>(i);
      digits = true;
    } else if (c == '.') {
      if (point >= 0) return false;  // a second point: not a number
      point = static_cast<int>(i);
    } else if (isSep(c)) {
      end = i;
      break;
    } else if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
      // The exponent runs to the next blank; a blank exponent means none.
      size_t j = i + 1;
      while (j < arg.size() && !isSep(arg[j])) ++j;
      long long e = 0;
      if (!readInt(std::string_view(arg).substr(i + 1, j - i - 1), e)) return false;
      if (e > 9999 || e < -9999) return false;
      expo = static_cast<int>(e);
      end = j;
      break;
    } else {
      return false;
    }
  }
  if (!digits) return false;
  int ndec = (point >= 0 && last > point) ? last - point : 0;
  double v = sign * ival * pow10single(-ndec) * pow10single(expo);
  if (!std::isfinite(v)) return false;
  value = v;
  return true;
}

}  // namespace

void gxdecode(Lib& g, std::string& line, char& qual, double& value) {
  value = 0.0;
  qual = ' ';
  std::string s = pad(line, 40);

  size_t lead = 0;
  while (lead < s.size() && isSep(s[lead])) ++lead;
  s = pad(std::string_view(s).substr(lead), 40);

  // A "/" inside the first word introduces the qualifier letter; the rest
  // of the word after the letter is dropped.
  size_t wordEnd = 0;
  while (wordEnd < s.size() && !isSep(s[wordEnd])) ++wordEnd;
  size_t k = s.find('/');
  if (k != std::string::npos && k < wordEnd) {
    char c = k + 1 < s.size() ? s[k + 1] : ' ';
    qual = isSep(c) ? ' ' : upper(c);
    s = pad(s.substr(0, k) + s.substr(wordEnd) + "  ", 40);
    wordEnd = 0;
    while (wordEnd < s.size() && !isSep(s[wordEnd])) ++wordEnd;
  }

  std::string word = pad(std::string_view(s).substr(0, std::min<size_t>(wordEnd, 6)), 6);
  gxupcase(word);

  std::string arg(40, ' ');
  size_t p = wordEnd;
  while (p < s.size() && isSep(s[p])) ++p;
  if (p < s.size()) arg = pad(std::string_view(s).substr(p), 40);

  // A number in the argument is replaced by its value in 1PG13.5, so the
  // commands see one form whatever was typed. Text that is not a number
  // (a file name that begins with a digit or a sign) is left as typed.
  size_t q = 0;
  double sign = 1.0;
  if (arg[0] == '+' || arg[0] == '-') {
    sign = arg[0] == '-' ? -1.0 : 1.0;
    q = 1;
  }
  if ((arg[q] >= '0' && arg[q] <= '9') || arg[q] == '.') {
    double v = 0.0;
    size_t end = 0;
    if (decodeNumber(arg, q, sign, v, end)) {
      value = v;
      std::string rest = arg.substr(q);
      end -= q;
      // Characters of a number longer than the field are blanked too.
      for (size_t i = 13; i < end && i < rest.size(); ++i) rest[i] = ' ';
      arg = pad(fG(value, 13, 5, 1) + rest.substr(13), 40);
    }
  }

  s = word + " " + arg.substr(0, 33);
  line = s;

  if (s[0] == '#') g.becho = !g.becho;
  if (g.becho) {
    g.io.write(Io::kOut, " " + s.substr(0, 7) + "/" + std::string(1, qual) + " " +
                             s.substr(7, 33) + " " + fG(value, 13, 5, 1));
    g.io.write(Io::kOut, " ");
  }
}

namespace {

// The reply's fields: separators are blanks, tabs and commas.
Reply updateFrom(Lib& g, std::string reply, int out, int macro, double& a,
               double& b) {
  if (macro == 1) g.io.write(out, "+" + std::string(trimRight(reply)));
  if (trimRight(pad(reply, 40)).empty()) return Reply::Ok;

  auto isFieldSep = [](char c) { return c == ' ' || c == '\t' || c == ','; };
  const size_t n = reply.size();
  size_t i = 0;
  double va = a, vb = b;
  for (int field = 0; field < 2; ++field) {
    while (i < n && isFieldSep(reply[i])) ++i;
    // A field starting at column 80 or later is not read.
    if (i >= n || i >= 79) break;
    size_t j = i;
    while (j < n && !isFieldSep(reply[j])) ++j;
    double v = 0.0;
    if (!readReal(std::string_view(reply).substr(i, j - i), v)) return Reply::Error;
    (field == 0 ? va : vb) = v;
    i = j;
  }
  a = va;
  b = vb;
  return Reply::Ok;
}

}  // namespace

Reply gxupdate(Lib& g, int in, int out, int macro, double& a, double& b) {
  std::string reply;
  RdStat st = g.io.readLine(in, reply, 80);
  // A unit that cannot be read now will not be readable on a retry either:
  // abandon the prompt rather than ask again for ever.
  if (st != RdStat::Ok) return Reply::End;
  return updateFrom(g, reply, out, macro, a, b);
}

Reply gxupdate(Lib& g, int in, int out, int macro, double& a) {
  double b = 0.0;
  return gxupdate(g, in, out, macro, a, b);
}

Reply gxupdatec(Lib& g, int in, int out, int macro, double& a, double& b,
              const std::string& reply) {
  (void)in;
  return updateFrom(g, pad(reply, 32), out, macro, a, b);
}

namespace {

// The keywords of a help file's topic line: after the '#' and an optional
// '*'.
std::string helpKeywords(const std::string& line) {
  std::string t = line.substr(1);
  if (!t.empty() && t[0] == '*') t.erase(0, 1);
  return t;
}

// The first keyword of every topic, six to a line.
void listKeywords(Lib& g, int unit, int out) {
  std::string rec;
  g.io.write(out, " ");
  g.io.write(out, " List of keywords for help information:");
  g.io.write(out, " ");
  std::string row;
  int inRow = 0;
  while (g.io.readLine(unit, rec, 80) == RdStat::Ok) {
    if (rec[0] != '#') continue;
    std::string t = helpKeywords(rec);
    size_t i = 0;
    while (i < t.size() && (t[i] == ' ' || t[i] == ',')) ++i;
    size_t j = i;
    while (j < t.size() && t[j] != ' ' && t[j] != ',') ++j;
    if (j == i) continue;
    row += pad(std::string_view(t).substr(i, std::min<size_t>(j - i, 10)), 10);
    if (++inRow == 6) {
      g.io.write(out, " " + row);
      row.clear();
      inRow = 0;
    }
  }
  if (inRow > 0) g.io.write(out, " " + row);
}

// Prints the text of every topic whose keywords hold k (klen characters),
// pausing every 20 lines; found tells whether any did. False when the user
// quit at a pause.
bool printTopic(Lib& g, int in, int unit, int out, const std::string& k, size_t klen,
                bool& found) {
  std::string rec;
  bool printing = false;
  int printed = 0;
  bool quit = false;
  while (!quit && g.io.readLine(unit, rec, 80) == RdStat::Ok) {
    if (rec[0] == '#') {
      // Keywords match at the start of the line or after a comma or blank;
      // help files may be written in either case.
      std::string t = helpKeywords(rec);
      gxupcase(t);
      printing = false;
      for (size_t i = 0; i + klen <= t.size(); ++i) {
        if (i > 0 && t[i - 1] != ',' && !isSep(t[i - 1])) continue;
        if (t.compare(i, klen, k) == 0) {
          printing = true;
          break;
        }
      }
      found = found || printing;
      continue;
    }
    if (!printing) continue;
    g.io.write(out, " " + std::string(trimRight(rec)));
    if (++printed % 20 == 0) {
      gxprompttext(g, out, "Type RETURN for more...");
      std::string ans;
      RdStat st;
      try {
        st = g.io.readLine(in, ans, 1);
      } catch (const EndOfInput&) {
        g.io.close(unit);
        throw;
      }
      if (st != RdStat::Ok || ans[0] == 'Q' || ans[0] == 'q') quit = true;
    }
  }
  return !quit;
}

}  // namespace

void gxhelp(Lib& g, int in, int out, int mode, const std::string& path,
            const std::string& key) {
  std::string file(path.substr(0, gxlen(path)));
  if (!Io::exists(file)) {
    g.io.write(out, " No help information available,");
    g.io.write(out, " " + file + " does not exist.");
    return;
  }
  std::string k = pad(key, 6);
  gxupcase(k);
  size_t klen = k.find(' ');
  if (klen == std::string::npos) klen = 6;
  k.resize(klen);

  const int unit = in + 10;
  if (!g.io.open(unit, file, OpenStatus::Old, Access::Read)) {
    g.io.write(out, " Error opening " + file);
    return;
  }
  g.io.rewind(unit);

  bool found = false;
  if (mode == 1) {
    listKeywords(g, unit, out);
  } else if (!printTopic(g, in, unit, out, k, klen, found)) {
    g.io.close(unit);
    return;
  }
  g.io.write(out, " ");
  g.io.close(unit);
  if (mode != 1 && !found) {
    g.io.write(out, " ");
    g.io.write(out, " ");
    g.io.write(out, " No help information available on " + k);
    g.io.write(out, " ");
    g.io.write(out, " ");
  }
}

int gxlen(const std::string& s) {
  int n = static_cast<int>(s.size());
  while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t')) --n;
  return n;
}

void gxlead(Lib& g, std::string& s) {
  int m = gxlen(s);
  if (m < 2) return;
  if (m > 199) {
    g.io.write(Io::kOut, " Line too long in GXLEAD.");
    g.io.write(Io::kOut, " ");
    m = 200;
  }
  size_t shift = 0;
  while (shift < static_cast<size_t>(m - 1) && shift < s.size() && isSep(s[shift])) ++shift;
  if (shift == 0) return;
  s = s.substr(shift) + std::string(shift, ' ');
}

void gxupcase(std::string& s) {
  for (char& c : s) c = upper(c);
}

void gxcls(Lib& g, int unit, char mode) {
  char m = upper(mode);
  if (m == ' ' || m == '\0') m = g.clsMode;
  const std::string esc = "\x1b";
  switch (m) {
    case 'G':
      crclear(g);  // the Tektronix erase, through the terminal driver
      break;
    case 'F':
      g.io.control(unit, esc + "1" + esc + "\x0c" + esc + "2");
      break;
    case 'H':
      g.io.control(unit, esc + "[2J");
      g.io.control(unit, esc + "[1;1H");
      break;
    case 'V':
      g.io.control(unit, esc + "[2J");
      break;
    case 'A':
      g.io.control(unit, "\x0c");
      break;
    case 'C':
      g.clsMode = ' ';
      return;
    default:
      return;  // no clear mode: nothing to do
  }
  g.clsMode = m;
}

int gxsystem(Lib& g, const std::string& cmd) {
  std::string c(cmd.substr(0, gxlen(cmd)));
  g.io.flush();
  if (!c.empty()) {
    int rc = std::system(c.c_str());
    (void)rc;  // the command's own status is not reported
  }
  return 0;
}

std::string gxtime(Lib& g) {
  if (g.clock) return pad(g.clock(), 8);
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  if (t == static_cast<std::time_t>(-1) || localtime_r(&t, &tm) == nullptr)
    return std::string(8, ' ');
  char buf[16];
  if (std::strftime(buf, sizeof buf, "%H:%M:%S", &tm) != 8) return std::string(8, ' ');
  return buf;
}

void gxdelay(float) {}

std::string helpPath(const std::string& file) {
  std::string installed = std::string(TK_SHARE_INSTALL) + "/" + file;
  if (Io::exists(installed)) return installed;
  return std::string(TK_SHARE_SOURCE) + "/" + file;
}

}  // namespace gx
