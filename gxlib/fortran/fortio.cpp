#include "gxlib/fortran/fortio.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace gx {

namespace {

std::string stars(int w) { return std::string(w > 0 ? w : 0, '*'); }

std::string rjust(const std::string& s, int w) {
  if (static_cast<int>(s.size()) > w) return stars(w);
  return std::string(w - s.size(), ' ') + s;
}

// Infinity and NaN as gfortran shows them.
std::string special(double v, int w) {
  if (std::isnan(v)) return w < 3 ? stars(w) : rjust("NaN", w);
  bool neg = std::signbit(v);
  if (w >= 9 || (!neg && w >= 8)) return rjust(neg ? "-Infinity" : "Infinity", w);
  if (w >= 4 || (!neg && w >= 3)) return rjust(neg ? "-Inf" : "Inf", w);
  return stars(w);
}

// Digits of |v| rounded to n significant figures (n >= 1), and the decimal
// exponent e such that |v| = 0.d1d2...dn * 10^e. v must be finite, non-zero.
void sigDigits(double v, int n, std::string& digits, int& e) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", n - 1, std::fabs(v));
  digits.clear();
  const char* p = buf;
  for (; *p && *p != 'e'; ++p)
    if (std::isdigit(static_cast<unsigned char>(*p))) digits.push_back(*p);
  e = std::atoi(p + 1) + 1;
}

// Fixed form of |v| with d decimals, without sign; "" when d is absurd.
std::string fixedAbs(double v, int d) {
  std::string s(400, '\0');
  int n = std::snprintf(s.data(), s.size(), "%.*f", d, std::fabs(v));
  if (n < 0) return "";
  if (n >= static_cast<int>(s.size())) {
    s.assign(n + 1, '\0');
    std::snprintf(s.data(), s.size(), "%.*f", d, std::fabs(v));
  }
  s.resize(n);
  if (d <= 0) s.push_back('.');
  return s;
}

}  // namespace

std::string fF(double v, int w, int d) {
  if (w <= 0) return "";
  if (!std::isfinite(v)) return special(v, w);
  std::string s = fixedAbs(v, d);
  bool neg = std::signbit(v);
  // The leading zero of a value below 1 is optional; drop it if it does not
  // fit, unless it is the only digit ("0." for Fw.0).
  int need = static_cast<int>(s.size()) + (neg ? 1 : 0);
  if (need > w && d > 0 && s.size() > 1 && s[0] == '0' && s[1] == '.') {
    s.erase(0, 1);
    --need;
  }
  if (need > w) return stars(w);
  return rjust((neg ? "-" : "") + s, w);
}

std::string fE(double v, int w, int d, int k) {
  if (w <= 0) return "";
  if (!std::isfinite(v)) return special(v, w);
  bool neg = std::signbit(v);
  std::string mant;
  int expo = 0;
  // Significant digits shown: d for k <= 0 (minus |k| leading zeros), d+1 for k > 0.
  int nsig = (k > 0) ? d + 1 : d + k;
  if (k <= -d || k >= d + 2) return stars(w);  // not a valid scale for this d
  std::string digits;
  if (v == 0.0) {
    digits.assign(nsig, '0');
    expo = 0;
  } else {
    int e;
    sigDigits(v, nsig, digits, e);
    expo = e - k;
  }
  if (k > 0) {
    mant = digits.substr(0, k) + "." + digits.substr(k);
  } else {
    mant = "0." + std::string(-k, '0') + digits;
  }
  std::string ex;
  int ae = std::abs(expo);
  char buf[16];
  if (ae <= 99) {
    std::snprintf(buf, sizeof buf, "E%c%02d", expo < 0 ? '-' : '+', ae);
  } else if (ae <= 999) {
    std::snprintf(buf, sizeof buf, "%c%03d", expo < 0 ? '-' : '+', ae);
  } else {
    return stars(w);
  }
  ex = buf;
  std::string s = (neg ? "-" : "") + mant + ex;
  if (static_cast<int>(s.size()) > w && k <= 0) {
    // the optional zero before the point
    size_t z = neg ? 1 : 0;
    s.erase(z, 1);
  }
  return rjust(s, w);
}

// 10^d formed by repeated multiplication, as the run-time library does.
static double powerOfTen(int d) {
  double r = 1.0;
  for (int i = 0; i < (d >= 0 ? d : -d); ++i) r *= 10.0;
  return d >= 0 ? r : 1.0 / r;
}

std::string fG(double v, int w, int d, int k) {
  if (w <= 0) return "";
  if (!std::isfinite(v)) return special(v, w);
  if (d <= 0) return fE(v, w, d, k);
  // The choice between fixed and exponent form compares the binary value
  // with the rounding thresholds 10^(e-1) x (1 - 0.5 x 10^-d), computed in
  // double precision, as gfortran does (not with the rounded decimal digits).
  const double m = std::fabs(v);
  int decimals;
  if (m == 0.0) {
    decimals = d - 1;
  } else {
    const double expD = powerOfTen(d);
    const double rsc = 1.0 - 0.5 / expD;
    if (m < 0.1 * rsc || 0.5 >= expD - m) return fE(v, w, d, k);
    int low = 0, high = d + 1, lbound = 0, ubound = d + 1, mid = 0;
    while (low <= high) {
      mid = (low + high) / 2;
      const double temp = powerOfTen(mid - 1) * rsc;
      if (m < temp) {
        ubound = mid;
        if (ubound == lbound + 1) break;
        high = mid - 1;
      } else if (m > temp) {
        lbound = mid;
        if (ubound == lbound + 1) {
          ++mid;
          break;
        }
        low = mid + 1;
      } else {
        ++mid;
        break;
      }
    }
    decimals = d - mid + 1;
  }
  int npad = 4;  // blanks standing in for the exponent field
  if (npad >= w) npad = w - 1;
  std::string f = fF(v, w - npad, decimals);
  if (f.find('*') != std::string::npos) return stars(w);
  return f + std::string(npad, ' ');
}

std::string fI(long long v, int w) {
  if (w <= 0) return "";
  return rjust(std::to_string(v), w);
}

std::string fA(std::string_view s, int w) {
  if (w <= 0) return "";
  if (static_cast<int>(s.size()) >= w) return std::string(s.substr(0, w));
  return std::string(w - s.size(), ' ') + std::string(s);
}

namespace {

// Parses a Fortran real constant: sign, digits with an optional point,
// optional exponent (E, D, Q or a bare sign). Blanks must already be removed.
bool parseReal(const std::string& t, double& v, bool allowEmpty) {
  if (t.empty()) {
    if (!allowEmpty) return false;
    v = 0.0;
    return true;
  }
  size_t i = 0;
  std::string norm;
  if (t[i] == '+' || t[i] == '-') norm.push_back(t[i++]);
  size_t nd = 0;
  bool point = false;
  for (; i < t.size(); ++i) {
    char c = t[i];
    if (std::isdigit(static_cast<unsigned char>(c))) {
      norm.push_back(c);
      ++nd;
    } else if (c == '.' && !point) {
      norm.push_back(c);
      point = true;
    } else {
      break;
    }
  }
  if (nd == 0) {
    if (i == t.size() && allowEmpty && (norm == "+" || norm == "-")) {
      v = 0.0;
      return true;
    }
    return false;
  }
  if (i < t.size()) {
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(t[i])));
    if (c == 'E' || c == 'D' || c == 'Q') ++i;
    else if (c != '+' && c != '-') return false;
    std::string ex;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ex.push_back(t[i++]);
    size_t ed = 0;
    for (; i < t.size(); ++i) {
      if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
      ex.push_back(t[i]);
      ++ed;
    }
    if (ed == 0) return false;
    if (ed > 6) return false;
    norm += "e" + ex;
  }
  errno = 0;
  char* end = nullptr;
  double r = std::strtod(norm.c_str(), &end);
  if (end == norm.c_str() || *end != '\0') return false;
  if (!std::isfinite(r)) return false;
  v = r;
  return true;
}

}  // namespace

bool readReal(std::string_view field, double& v) {
  std::string t;
  for (char c : field)
    if (c != ' ' && c != '\t' && c != '\0') t.push_back(c);
  return parseReal(t, v, true);
}

bool readInt(std::string_view field, long long& v) {
  std::string t;
  for (char c : field)
    if (c != ' ' && c != '\t' && c != '\0') t.push_back(c);
  if (t.empty() || t == "+" || t == "-") {
    v = 0;
    return true;
  }
  size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
  if (i == t.size()) return false;
  for (size_t j = i; j < t.size(); ++j)
    if (!std::isdigit(static_cast<unsigned char>(t[j]))) return false;
  if (t.size() - i > 18) return false;
  v = std::stoll(t);
  return true;
}

bool listReal(std::string_view text, double& v) {
  return parseReal(std::string(text), v, false);
}

bool listInt(std::string_view text, long long& v) {
  std::string t(text);
  if (t.empty()) return false;
  size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
  if (i == t.size()) return false;
  for (size_t j = i; j < t.size(); ++j)
    if (!std::isdigit(static_cast<unsigned char>(t[j]))) return false;
  if (t.size() - i > 18) return false;
  v = std::stoll(t);
  return true;
}

bool ListScanner::push(std::string_view tok) {
  if (done()) return true;
  auto star = tok.find('*');
  if (star == std::string_view::npos) {
    items_.push_back(ListItem{false, std::string(tok)});
    return true;
  }
  std::string_view rep = tok.substr(0, star);
  std::string_view val = tok.substr(star + 1);
  if (rep.empty() || rep.size() > 9) return false;
  for (char c : rep)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  long r = std::stol(std::string(rep));
  if (r <= 0) return false;
  for (long j = 0; j < r && !done(); ++j)
    items_.push_back(ListItem{val.empty(), std::string(val)});
  return true;
}

bool ListScanner::add(std::string_view rec) {
  // Separators: blanks (and tabs) and one comma; a slash ends the read.
  size_t i = 0;
  const size_t n = rec.size();
  auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; };
  while (i < n && !done()) {
    while (i < n && isBlank(rec[i])) ++i;
    if (i >= n) break;
    char c = rec[i];
    if (c == '/') {
      slash_ = true;
      break;
    }
    if (c == ',') {
      // a comma right after another comma (or at the start) is a null value
      if (!sawValue_ || pendingComma_) items_.push_back(ListItem{});
      pendingComma_ = true;
      sawValue_ = true;
      ++i;
      continue;
    }
    size_t j = i;
    while (j < n && !isBlank(rec[j]) && rec[j] != ',' && rec[j] != '/') ++j;
    if (!push(rec.substr(i, j - i))) return false;
    sawValue_ = true;
    pendingComma_ = false;
    i = j;
    // skip blanks, then one optional comma
    while (i < n && isBlank(rec[i])) ++i;
    if (i < n && rec[i] == ',') {
      ++i;
      pendingComma_ = true;
    }
  }
  return true;
}

std::string pad(std::string_view s, size_t n) {
  std::string r(s.substr(0, std::min(s.size(), n)));
  r.resize(n, ' ');
  return r;
}

std::string_view trimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t' || s[n - 1] == '\0')) --n;
  return s.substr(0, n);
}

}  // namespace gx
