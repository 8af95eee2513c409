// List-directed and formatted numeric input against gfortran: the same
// records read by a compiled Fortran program and by the library.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "gfortran_support.h"
#include "gxlib/fortran/fortio.h"

using gxtest::Session;
using gxtest::TempDir;

namespace {

struct ListCase {
  char kind;                 // 'R' reals, 'I' integers
  std::string records;       // the file's contents
  std::vector<int> counts;   // successive reads and their item counts
};

// Records every Fortran reader meets in the coefficient, ray and answer
// files: blanks and commas, repeat counts, null values, slashes, all real
// notations, values spread over records, and junk.
const std::vector<ListCase>& listCases() {
  static const std::vector<ListCase> cases = {
      {'R', "1 2 3\n", {3}},
      {'R', "1,2,3\n", {3}},
      {'R', "  1 ,  2 ,3  \n", {3}},
      {'R', "1\t2\t3\n", {3}},
      {'R', "3*0\n", {3}},
      {'R', "3*0.5, 7\n", {4}},
      {'R', "1,,3\n", {3}},
      {'R', "1 , , 3\n", {3}},
      {'R', ",5\n", {2}},
      {'R', "1 / 5\n", {3}},
      {'R', "1,2/\n", {4}},
      {'R', "/\n", {2}},
      {'R', "1.5D3 12. .5 -1e-3 1.5+3\n", {5}},
      {'R', "1.0e+05 1.0E5 +5 -.5e-2 5. 0.1d-2 1.5-3 7E0\n", {8}},
      {'R', "1 2\n3\n4 5\n", {5}},
      {'R', "\n\n1 2\n", {2}},
      {'R', "1,2,\n9\n", {3}},
      {'R', "1,2,\n,9\n", {4}},
      {'R', "2*\n7\n", {3}},
      {'R', "3*\n", {3}},
      {'R', "2*1,,\n", {4}},
      {'R', "1.5 2.5\n3.5\n", {1, 1}},
      {'R', "1 2 3 4\n5\n", {2, 1}},
      {'R', "1 /\n2\n", {2, 1}},
      {'R', "abc\n", {1}},
      {'R', "1 x 3\n", {3}},
      {'R', "1.2.3\n", {1}},
      {'R', "1e\n", {1}},
      {'R', "--1\n", {1}},
      {'R', "0*5\n", {1}},
      {'R', "   \n", {1}},
      {'R', "", {1}},
      {'R', "1\n", {2}},
      {'R', "-0\n", {1}},
      {'R', "1e400\n", {1}},
      {'R', "Infinity\n", {1}},
      {'R', "-inf\n", {1}},
      {'R', "NaN\n", {1}},
      {'R', "4.9e-324 2.2250738585072014e-308\n", {2}},
      {'R', "0.1 0.2 0.30000000000000004 123456789012345678901234567890\n", {4}},
      {'I', "1 2 3\n", {3}},
      {'I', "3*7, -4\n", {4}},
      {'I', "+4 -0 12\n", {3}},
      {'I', "1,,3\n", {3}},
      {'I', "1.5\n", {1}},
      {'I', "1e3\n", {1}},
      {'I', "2147483647 -2147483648\n", {2}},
      {'I', "2147483648\n", {1}},
      {'I', "12abc\n", {1}},
  };
  return cases;
}

uint64_t bitsOf(double x) {
  uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

std::string hex(double x) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%016" PRIX64, bitsOf(x));
  return buf;
}

// The result line of one read, as the Fortran program prints it: status,
// and on success the values (bit patterns for reals).
std::string ourRead(gx::Io& io, int unit, char kind, int n) {
  constexpr double kPreset = -777.0;
  std::string line;
  gx::RdStat st;
  std::vector<double> v(n, kPreset);
  std::vector<int> iv(n, -777);
  if (kind == 'R')
    st = io.readList(unit, v.data(), n);
  else
    st = io.readListInt(unit, iv.data(), n);
  if (st == gx::RdStat::Eof) return "EOF";
  if (st == gx::RdStat::Err) return "ERR";
  line = "OK";
  for (int i = 0; i < n; ++i) line += " " + (kind == 'R' ? hex(v[i]) : std::to_string(iv[i]));
  return line;
}

}  // namespace

TEST(ListRead, SameValuesAsGfortran) {
  if (!gxtest::haveGfortran()) GTEST_FAIL() << "gfortran is not installed (scripts/deps.sh installs it)";
  TempDir t;
  const auto& cases = listCases();
  std::string index = std::to_string(cases.size()) + "\n";
  for (size_t c = 0; c < cases.size(); ++c) {
    std::string name = "case" + std::to_string(c) + ".txt";
    t.write(name, cases[c].records);
    index += name + "\n" + cases[c].kind + "\n" + std::to_string(cases[c].counts.size()) + "\n";
    for (int n : cases[c].counts) index += std::to_string(n) + "\n";
  }
  t.write("cases.txt", index);
  const std::string src = R"(program lr
  implicit none
  real(8) :: v(20)
  integer :: iv(20)
  integer :: ncase, nread, n, ios, i, j, k
  logical :: dead
  character(len=64) :: fname
  character(len=1) :: kind
  open(9, file='cases.txt', status='old')
  read(9, *) ncase
  do k = 1, ncase
    read(9, '(A)') fname
    read(9, '(A)') kind
    read(9, *) nread
    open(10, file=trim(fname), status='old')
    dead = .false.
    do j = 1, nread
      read(9, *) n
      if (dead) then
        write(6, '(A)') 'SKIP'
        cycle
      end if
      v = -777.0d0
      iv = -777
      if (kind == 'R') then
        read(10, *, iostat=ios) (v(i), i = 1, n)
      else
        read(10, *, iostat=ios) (iv(i), i = 1, n)
      end if
      if (ios == 0) then
        if (kind == 'R') then
          write(6, '(A,20(1X,Z16.16))') 'OK', (transfer(v(i), 0_8), i = 1, n)
        else
          write(6, '(A,20(1X,I0))') 'OK', (iv(i), i = 1, n)
        end if
      else if (ios < 0) then
        write(6, '(A)') 'EOF'
        dead = .true.
      else
        write(6, '(A)') 'ERR'
        dead = .true.
      end if
    end do
    close(10)
  end do
end program lr
)";
  ASSERT_EQ(gxtest::buildAndRun(t, "lr", src), "");
  std::vector<std::string> got = gxtest::splitLines(t.read("lr.out"));

  Session s;
  size_t row = 0;
  std::string report;
  for (size_t c = 0; c < cases.size(); ++c) {
    ASSERT_TRUE(s.g.io.open(10, t.file("case" + std::to_string(c) + ".txt"), gx::OpenStatus::Old,
                            gx::Access::Read));
    bool dead = false;
    for (int n : cases[c].counts) {
      std::string mine = dead ? "SKIP" : ourRead(s.g.io, 10, cases[c].kind, n);
      if (mine == "EOF" || mine == "ERR") dead = true;
      ASSERT_LT(row, got.size());
      // gfortran reads an overflowing value as Infinity and accepts the
      // words Infinity and NaN; the library refuses all of them as a read
      // error, so that no infinite or undefined number enters a lens file.
      const bool notFinite = cases[c].records == "1e400\n" || cases[c].records == "Infinity\n" ||
                             cases[c].records == "-inf\n" || cases[c].records == "NaN\n";
      if (notFinite && mine == "ERR" && got[row] != "ERR") {
        ++row;
        continue;
      }
      if (mine != got[row])
        report += "case " + std::to_string(c) + " [" + cases[c].records + "]: gfortran " +
                  got[row] + " ours " + mine + "\n";
      ++row;
    }
    s.g.io.close(10);
  }
  EXPECT_EQ(row, got.size());
  EXPECT_EQ(report, "");
}

TEST(ListRead, BadValueLeavesTargetsUnchanged) {
  TempDir t;
  t.write("x.txt", "1 x 3\n1.5 2.5\n");
  Session s;
  ASSERT_TRUE(s.g.io.open(10, t.file("x.txt"), gx::OpenStatus::Old, gx::Access::Read));
  double v[3] = {7, 8, 9};
  EXPECT_EQ(s.g.io.readList(10, v, 3), gx::RdStat::Err);
  EXPECT_EQ(v[0], 7.0);
  EXPECT_EQ(v[1], 8.0);
  EXPECT_EQ(v[2], 9.0);
  // The next read goes on with the next record.
  EXPECT_EQ(s.g.io.readList(10, v, 2), gx::RdStat::Ok);
  EXPECT_EQ(v[0], 1.5);
  EXPECT_EQ(v[1], 2.5);
  EXPECT_EQ(s.g.io.readList(10, v, 1), gx::RdStat::Eof);
}

// F20.0 fields as the prompted update reads them.
TEST(FormattedRead, FieldsAsGfortranReadsThem) {
  if (!gxtest::haveGfortran()) GTEST_FAIL() << "gfortran is not installed (scripts/deps.sh installs it)";
  const std::vector<std::string> fields = {
      "0.3",  "15",    "1.5D3", "1.5d3", "1.5+3", ".5",   "12.",   "-1e-3", "-0",
      "+7",   "1e5",   "1E+05", "1.e2",  "7e-0",  "0.1q1", "abc",  "",     "+",
      "-",    ".",     "1e",    "1.2.3", "1 2",   "- 5",  "e5",   "1x",   "5e2.5",
      "1e+",  "1.5E-", "3.",    "-.25",  "0000012.500", "123456789012345678",
      "1.7976931348623157e308", "4.9e-324"};
  TempDir t;
  std::string data;
  for (const auto& f : fields) data += gx::pad(f, 20) + "\n";
  t.write("fields.txt", data);
  const std::string src = R"(program fr
  implicit none
  character(len=20) :: line
  real(8) :: x
  integer :: ios, ios2
  open(10, file='fields.txt', status='old')
  do
    read(10, '(A)', iostat=ios) line
    if (ios /= 0) exit
    x = -777.0d0
    read(line, '(F20.0)', iostat=ios2) x
    if (ios2 == 0) then
      write(6, '(A,1X,Z16.16)') 'OK', transfer(x, 0_8)
    else
      write(6, '(A)') 'ERR'
    end if
  end do
end program fr
)";
  ASSERT_EQ(gxtest::buildAndRun(t, "fr", src), "");
  std::vector<std::string> got = gxtest::splitLines(t.read("fr.out"));
  ASSERT_EQ(got.size(), fields.size());
  std::string report;
  for (size_t i = 0; i < fields.size(); ++i) {
    double x = -777.0;
    std::string mine = gx::readReal(gx::pad(fields[i], 20), x) ? "OK " + hex(x) : "ERR";
    // gfortran reads a field without any mantissa digit ("." or "e5") as
    // zero; the library refuses it, so a prompt asks again instead of
    // taking junk for 0.
    if ((fields[i] == "." || fields[i] == "e5") && mine == "ERR") continue;
    if (mine != got[i]) report += "[" + fields[i] + "] gfortran " + got[i] + " ours " + mine + "\n";
  }
  EXPECT_EQ(report, "");
}
