// The edit descriptors against gfortran: the same values, formatted by a
// compiled Fortran program and by the library, must agree character for
// character.
#include <gtest/gtest.h>

#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

#include "gfortran_support.h"
#include "gxlib/fortran/fortio.h"

using gxtest::TempDir;

namespace {

struct Desc {
  char kind;  // F, E or G
  int w, d, k;
  const char* text;  // as written in the Fortran format
};

// Every real descriptor the programs use, and neighbours that stress widths,
// scale factors and three-digit exponents.
const Desc kDescs[] = {
    {'G', 13, 5, 1, "1PG13.5"}, {'G', 13, 5, 1, "1pg13.5"}, {'G', 12, 5, 1, "1PG12.5"},
    {'G', 10, 3, 1, "1PG10.3"}, {'G', 11, 4, 1, "1PG11.4"}, {'G', 12, 4, 1, "1PG12.4"},
    {'G', 9, 2, 1, "1PG9.2"},   {'G', 8, 2, 1, "1PG8.2"},   {'G', 13, 5, 0, "G13.5"},
    {'G', 13, 6, 0, "G13.6"},   {'G', 10, 3, 0, "G10.3"},   {'G', 9, 2, 0, "G9.2"},
    {'G', 20, 10, 0, "G20.10"}, {'G', 25, 17, 1, "1PG25.17"}, {'G', 6, 1, 0, "G6.1"},
    {'E', 8, 1, 1, "1PE8.1"},   {'E', 13, 5, 1, "1PE13.5"}, {'E', 12, 5, 1, "1PE12.5"},
    {'E', 9, 2, 1, "1PE9.2"},   {'E', 10, 3, 1, "1PE10.3"}, {'E', 13, 5, 0, "E13.5"},
    {'E', 10, 3, 0, "E10.3"},   {'E', 9, 2, 0, "E9.2"},     {'E', 12, 4, 0, "E12.4"},
    {'E', 8, 1, 0, "E8.1"},     {'E', 25, 16, 0, "E25.16"}, {'E', 13, 5, 2, "2PE13.5"},
    {'E', 13, 5, -1, "-1PE13.5"}, {'E', 10, 0, 1, "1PE10.0"},
    {'F', 10, 5, 0, "F10.5"},   {'F', 5, 2, 0, "F5.2"},     {'F', 4, 2, 0, "F4.2"},
    {'F', 12, 7, 0, "F12.7"},   {'F', 12, 6, 0, "F12.6"},   {'F', 10, 4, 0, "F10.4"},
    {'F', 7, 2, 0, "F7.2"},     {'F', 6, 2, 0, "F6.2"},     {'F', 5, 1, 0, "F5.1"},
    {'F', 13, 5, 0, "F13.5"},   {'F', 12, 0, 0, "F12.0"},   {'F', 11, 4, 0, "F11.4"},
    {'F', 9, 3, 0, "F9.3"},     {'F', 7, 5, 0, "F7.5"},     {'F', 4, 1, 0, "F4.1"},
    {'F', 4, 0, 0, "F4.0"},     {'F', 11, 5, 0, "F11.5"},   {'F', 11, 3, 0, "F11.3"},
    {'F', 10, 2, 0, "F10.2"},   {'F', 10, 1, 0, "F10.1"},   {'F', 7, 1, 0, "f7.1"},
    {'F', 3, 0, 0, "F3.0"},     {'F', 2, 0, 0, "F2.0"},     {'F', 1, 0, 0, "F1.0"},
    {'F', 3, 1, 0, "F3.1"},     {'F', 30, 20, 0, "F30.20"},
};

std::string ours(const Desc& f, double v) {
  switch (f.kind) {
    case 'F': return gx::fF(v, f.w, f.d);
    case 'E': return gx::fE(v, f.w, f.d, f.k);
    default: return gx::fG(v, f.w, f.d, f.k);
  }
}

double fromDecimal(const std::string& s) { return std::strtod(s.c_str(), nullptr); }

std::vector<double> testValues() {
  std::vector<double> v = {
      0.0, -0.0, 1.0, -1.0, 0.5, 0.125, 0.375, 2.5, 3.5, -2.5, 0.05, 0.15, 0.25, 0.35,
      0.45, 9.99995, 0.099999, 0.0999995, 0.09999949999, 99999.5, 999999.5, 9999.95,
      0.95, 0.995, 9.5, 99.5, 1e-30, 1e30, 1e-300, 1e300, -1e-300, -1e300, 1e-40, 1e40,
      1e5, 1e6, 1e4, 99999.0, 100000.0, 0.1, 0.01, 1e-5, 123456.7, -0.001, 0.4,
      9.9999e99, 9.99999e99, 1e99, 1e100, 1e-99, 1e-100, 9.99999e-100, 1e-310,
      DBL_MIN, DBL_MAX, -DBL_MAX, std::numeric_limits<double>::denorm_min(),
      3.141592653589793, 2.718281828459045, 1.2345678901234567e-5, 299792458.0,
      1.6021892e-19, 1.256637062e-06, 1.660565416e-27, 0.0225, 1.05, 0.025,
      static_cast<double>(0.1f), static_cast<double>(3.1415927f), 1e10, 1e-10,
      std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
      std::numeric_limits<double>::quiet_NaN()};
  // Rounding boundaries: (10^p - 1/2) x 10^(n-p), and their neighbours.
  for (int p = 1; p <= 8; ++p) {
    for (int n = -12; n <= 12; ++n) {
      std::string s = std::string(p, '9') + "5e" + std::to_string(n - p - 1);
      double b = fromDecimal(s);
      for (double x : {b, std::nextafter(b, 0.0), std::nextafter(b, 1e308)}) {
        v.push_back(x);
        v.push_back(-x);
      }
    }
  }
  // Exact binary ties: k/8 and k/2 at several scales.
  for (int k = 1; k < 64; k += 2) {
    v.push_back(k / 8.0);
    v.push_back(k / 2.0);
    v.push_back(k * 1024.0 + 0.5);
  }
  std::mt19937_64 rng(20240917);
  // Short decimals, as typed by users.
  for (int i = 0; i < 1500; ++i) {
    uint64_t m = rng() % 10000000;
    int e = static_cast<int>(rng() % 16) - 10;
    double x = fromDecimal(std::to_string(m) + "e" + std::to_string(e));
    v.push_back((rng() & 1) ? -x : x);
  }
  // Full-precision values over 1e-40 .. 1e40.
  for (int i = 0; i < 3000; ++i) {
    double u = static_cast<double>(rng() >> 11) * 0x1p-53;
    int e = static_cast<int>(rng() % 81) - 40;
    double x = (1.0 + 9.0 * u) * std::pow(10.0, e);
    v.push_back((rng() & 1) ? -x : x);
  }
  return v;
}

uint64_t bitsOf(double x) {
  uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

}  // namespace

TEST(FortranFormat, RealDescriptorsMatchGfortran) {
  if (!gxtest::haveGfortran()) GTEST_FAIL() << "gfortran is not installed (scripts/deps.sh installs it)";
  TempDir t;
  std::vector<double> values = testValues();
  std::string data;
  for (double x : values) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%016" PRIX64 "\n", bitsOf(x));
    data += buf;
  }
  t.write("values.txt", data);

  // Each descriptor carries its own scale factor (a scale factor would
  // otherwise carry over to the descriptors after it).
  std::string fmt = "(";
  for (size_t i = 0; i < std::size(kDescs); ++i) {
    const Desc& f = kDescs[i];
    if (i) fmt += ",'|',";
    fmt += f.k == 0 ? std::string("0P") : "";
    fmt += f.text;
  }
  fmt += ")";
  std::string src =
      "program fmt\n"
      "  implicit none\n"
      "  integer(8) :: bits\n"
      "  real(8) :: x\n"
      "  integer :: ios\n"
      "  open(10, file='values.txt', status='old')\n"
      "  do\n"
      "    read(10, '(Z16)', iostat=ios) bits\n"
      "    if (ios /= 0) exit\n"
      "    x = transfer(bits, x)\n"
      "    write(6, \"" + fmt + "\") " ;
  for (size_t i = 0; i < std::size(kDescs); ++i) src += i ? ", x" : "x";
  src += "\n  end do\nend program fmt\n";
  std::string err = gxtest::buildAndRun(t, "fmt", src);
  ASSERT_EQ(err, "");

  std::vector<std::string> got = gxtest::splitLines(t.read("fmt.out"));
  ASSERT_EQ(got.size(), values.size());
  int bad = 0;
  std::string report;
  for (size_t i = 0; i < values.size(); ++i) {
    std::string mine;
    for (size_t j = 0; j < std::size(kDescs); ++j) {
      if (j) mine += "|";
      mine += ours(kDescs[j], values[i]);
    }
    if (mine == got[i]) continue;
    // Name the descriptors that differ.
    size_t pos = 0;
    for (size_t j = 0; j < std::size(kDescs); ++j) {
      std::string o = ours(kDescs[j], values[i]);
      std::string g = got[i].substr(std::min(pos, got[i].size()), o.size());
      if (o != g && bad < 40) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", values[i]);
        report += std::string(kDescs[j].text) + " of " + buf + ": gfortran [" + g + "] ours [" +
                  o + "]\n";
      }
      pos += o.size() + 1;
    }
    ++bad;
  }
  EXPECT_EQ(bad, 0) << report;
}

TEST(FortranFormat, IntegerTextAndSpacingMatchGfortran) {
  if (!gxtest::haveGfortran()) GTEST_FAIL() << "gfortran is not installed (scripts/deps.sh installs it)";
  TempDir t;
  std::vector<long long> ints = {0, 1, -1, 9, 10, -9, -10, 99, 100, 999, 1000, 12345, -12345,
                                 2147483647LL, -2147483648LL, 9999999999LL, -999999999LL,
                                 std::numeric_limits<long long>::max(),
                                 std::numeric_limits<long long>::min() + 1};
  std::mt19937_64 rng(7);
  for (int i = 0; i < 500; ++i) {
    long long m = static_cast<long long>(rng() % 1000000000000ULL);
    ints.push_back((rng() & 1) ? -(m >> (rng() % 40)) : (m >> (rng() % 40)));
  }
  std::string data;
  for (long long n : ints) data += std::to_string(n) + "\n";
  t.write("ints.txt", data);
  const std::vector<std::string> texts = {"", "a", "abcde", "abcdefghijkl", " lead", "trail  ",
                                          "Mixed Case 123", "x"};
  std::string tdata;
  for (const std::string& s : texts) tdata += std::to_string(s.size()) + "\n" + s + "\n";
  t.write("texts.txt", tdata);

  const int iw[] = {1, 2, 3, 4, 5, 6, 8, 9, 10, 12, 20};
  std::string ifmt = "(";
  for (size_t j = 0; j < std::size(iw); ++j) ifmt += (j ? ",'|',I" : "I") + std::to_string(iw[j]);
  ifmt += ")";
  std::string src =
      "program ia\n"
      "  implicit none\n"
      "  integer(8) :: n\n"
      "  integer :: ios, l\n"
      "  character(len=100) :: s\n"
      "  open(10, file='ints.txt', status='old')\n"
      "  do\n"
      "    read(10, *, iostat=ios) n\n"
      "    if (ios /= 0) exit\n"
      "    write(6, \"" + ifmt + "\") " ;
  for (size_t j = 0; j < std::size(iw); ++j) src += j ? ", n" : "n";
  src +=
      "\n  end do\n"
      "  open(11, file='texts.txt', status='old')\n"
      "  do\n"
      "    read(11, *, iostat=ios) l\n"
      "    if (ios /= 0) exit\n"
      "    read(11, '(A)') s\n"
      "    write(6, \"(A,'|',A1,'|',A5,'|',A12,'|',3X,A,2X,'|')\") s(1:l), s(1:l), s(1:l), s(1:l), s(1:l)\n"
      "  end do\n"
      "end program ia\n";
  std::string err = gxtest::buildAndRun(t, "ia", src);
  ASSERT_EQ(err, "");
  std::vector<std::string> got = gxtest::splitLines(t.read("ia.out"));
  ASSERT_EQ(got.size(), ints.size() + texts.size());
  std::string report;
  for (size_t i = 0; i < ints.size(); ++i) {
    std::string mine;
    for (size_t j = 0; j < std::size(iw); ++j) mine += (j ? "|" : "") + gx::fI(ints[i], iw[j]);
    if (mine != got[i]) report += "[" + got[i] + "]\n[" + mine + "]\n";
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string& s = texts[i];
    std::string mine = s + "|" + gx::fA(s, 1) + "|" + gx::fA(s, 5) + "|" + gx::fA(s, 12) + "|" +
                       gx::fX(3) + s + gx::fX(2) + "|";
    const std::string& g = got[ints.size() + i];
    if (g != mine) report += "[" + g + "]\n[" + mine + "]\n";
  }
  EXPECT_EQ(report, "");
}
