// Ray-set files: the channels, reading by ray number and its costs, damaged
// files, DUMP, and the binary layout proved against gfortran.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "workdir.h"
#include "gxlib/fortran/fortio.h"
#include "kestrim/kq.h"
#include "kestrim/kqcmd.h"
#include "kestrim/state.h"

namespace fs = std::filesystem;

namespace {

class RaysDir : public kqtest::WorkDir {
 protected:
};

std::string marker(std::uint32_t n) {
  std::string m(4, '\0');
  for (int i = 0; i < 4; ++i) m[static_cast<size_t>(i)] = static_cast<char>((n >> (8 * i)) & 0xff);
  return m;
}

std::string rec(const std::string& p) {
  return marker(static_cast<std::uint32_t>(p.size())) + p +
         marker(static_cast<std::uint32_t>(p.size()));
}

std::string rayRec(double x, double th, double y, double ph, double de) {
  double v[5] = {x, th, y, ph, de};
  std::string p(40, '\0');
  std::memcpy(p.data(), v, 40);   // the build hosts are little-endian
  return rec(p);
}

// Ray i of the test sets: every field tells which ray it came from.
std::string testRay(int i) { return rayRec(i * 1e-6, -i * 1e-4, 0.5 * i, i * 1e-3, 0.01 * i); }

void writeBytes(const std::string& name, const std::string& bytes) {
  std::ofstream f(name, std::ios::binary);
  f << bytes;
}

std::string readBytes(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// A ray set of n rays built by hand: the caption, then testRay(1..n).
void writeSet(const std::string& name, int n, const std::string& caption = "Test set") {
  std::string cap = caption;
  cap.resize(100, ' ');
  std::string b = rec(cap);
  for (int i = 1; i <= n; ++i) b += testRay(i);
  writeBytes(name, b);
}

struct Session {
  std::istringstream in;
  std::ostringstream out;
  kestrim::Kestrim k;
  explicit Session(const std::string& input = "") : in(input), k(in, out) {}
  int open(const std::string& name) {
    std::string n = name;
    int ierr = 1;
    kestrim::kqio(k, 'R', n, ierr);
    return ierr;
  }
  bool ray(int n, double v[5]) { return kestrim::kqrays(k, 'R', n, v[0], v[1], v[2], v[3], v[4]); }
};

TEST_F(RaysDir, NameWithoutDotGetsBinNameWithDotIsKept) {
  writeSet("run.bin", 3);
  writeSet("run.dat", 5);
  Session s;
  EXPECT_EQ(s.open("run"), 0);
  EXPECT_EQ(s.k.ntot, 3);
  EXPECT_NE(s.out.str().find("R: Rays file opened: run.bin"), std::string::npos);
  EXPECT_NE(s.out.str().find("Caption: Test set"), std::string::npos);
  EXPECT_NE(s.out.str().find("Finding number of rays....     3 rays in file."), std::string::npos);
  EXPECT_EQ(s.open("  run.dat"), 0);
  EXPECT_EQ(s.k.ntot, 5);
  EXPECT_EQ(s.k.caption.size(), 100u);
}

TEST_F(RaysDir, ReadingCostsOneRecordPerRayForward) {
  writeSet("set.bin", 12);
  Session s;
  ASSERT_EQ(s.open("set"), 0);
  double v[5];
  ASSERT_TRUE(s.ray(2, v));   // first positioning
  long long reads = s.k.rays.reads, rewinds = s.k.rays.rewinds;
  for (int n = 3; n <= 5; ++n) {
    ASSERT_TRUE(s.ray(n, v));
    EXPECT_DOUBLE_EQ(v[0], n * 1e-6);
    EXPECT_DOUBLE_EQ(v[4], 0.01 * n);
  }
  EXPECT_EQ(s.k.rays.reads - reads, 3);
  // The same ray again reads nothing and gives the same fields.
  ASSERT_TRUE(s.ray(5, v));
  EXPECT_EQ(s.k.rays.reads - reads, 3);
  EXPECT_DOUBLE_EQ(v[2], 2.5);
  EXPECT_EQ(s.k.rays.rewinds, rewinds);
  // A jump forward reads the records in between, keeping the last.
  ASSERT_TRUE(s.ray(9, v));
  EXPECT_EQ(s.k.rays.reads - reads, 7);
  EXPECT_DOUBLE_EQ(v[1], -9e-4);
  EXPECT_EQ(s.k.rays.pos, 9);
}

TEST_F(RaysDir, BackwardStepRewindsAndReadsCaptionAndRecords) {
  writeSet("set.bin", 12);
  Session s;
  ASSERT_EQ(s.open("set"), 0);
  double v[5];
  ASSERT_TRUE(s.ray(9, v));
  long long reads = s.k.rays.reads, rewinds = s.k.rays.rewinds;
  ASSERT_TRUE(s.ray(2, v));
  EXPECT_EQ(s.k.rays.rewinds - rewinds, 1);
  EXPECT_EQ(s.k.rays.reads - reads, 3);   // the caption and rays 1 and 2
  EXPECT_DOUBLE_EQ(v[0], 2e-6);
  EXPECT_DOUBLE_EQ(v[3], 2e-3);
}

TEST_F(RaysDir, CaptionOnlyFileHoldsNoRays) {
  writeSet("empty.bin", 0, "Only a caption");
  Session s;
  EXPECT_EQ(s.open("empty"), 0);
  EXPECT_EQ(s.k.ntot, 0);
  EXPECT_NE(s.out.str().find("     0 rays in file."), std::string::npos);
  double v[5];
  EXPECT_FALSE(s.ray(1, v));
  EXPECT_EQ(s.k.ntot, 0);
}

TEST_F(RaysDir, ReadPastTheEndCorrectsNtot) {
  writeSet("set.bin", 6);
  Session s;
  ASSERT_EQ(s.open("set"), 0);
  s.k.ntot = 50;   // as if the count were stale
  double v[5];
  EXPECT_TRUE(s.ray(6, v));
  EXPECT_FALSE(s.ray(7, v));
  EXPECT_EQ(s.k.ntot, 6);
  EXPECT_NE(s.out.str().find(" End at     6 rays."), std::string::npos);
  // A jump far beyond the end gives the true count, not the ray asked for.
  s.k.ntot = 50;
  EXPECT_FALSE(s.ray(40, v));
  EXPECT_EQ(s.k.ntot, 6);
  // Reading goes on normally afterwards.
  ASSERT_TRUE(s.ray(3, v));
  EXPECT_DOUBLE_EQ(v[0], 3e-6);
}

TEST_F(RaysDir, TruncatedAndMismarkedFilesAreCountedUpToTheDamage) {
  std::string cap(100, ' ');
  std::string good = rec(cap) + testRay(1) + testRay(2) + testRay(3);
  // Cut in the middle of ray 4.
  writeBytes("cut.bin", good + testRay(4).substr(0, 30));
  // Ray 3's trailing count is wrong.
  std::string bad = rec(cap) + testRay(1) + testRay(2) + marker(40) + std::string(40, 'z') +
                    marker(44) + testRay(4);
  writeBytes("mark.bin", bad);
  Session s;
  ASSERT_EQ(s.open("cut"), 0);
  EXPECT_EQ(s.k.ntot, 3);
  EXPECT_NE(s.out.str().find("%KQIO- Damaged or truncated record after ray 3"), std::string::npos);
  double v[5];
  EXPECT_TRUE(s.ray(3, v));
  EXPECT_FALSE(s.ray(4, v));
  EXPECT_EQ(s.k.ntot, 3);
  ASSERT_EQ(s.open("mark"), 0);
  EXPECT_EQ(s.k.ntot, 2);
  EXPECT_FALSE(s.ray(3, v));
  EXPECT_EQ(s.k.ntot, 2);
}

TEST_F(RaysDir, MissingOrCaptionlessFileIsNotOpenedAndNothingIsCreated) {
  Session s;
  s.k.ntot = 7;
  EXPECT_EQ(s.open("nothere"), 1);
  EXPECT_EQ(s.k.ntot, 7);  // a failed open keeps the current set
  EXPECT_NE(s.out.str().find("Unable to open nothere.bin"), std::string::npos);
  EXPECT_FALSE(fs::exists("nothere.bin"));
  writeBytes("zero.bin", "");
  writeBytes("short.bin", rec("too short for a caption"));
  EXPECT_EQ(s.open("zero"), 1);
  EXPECT_EQ(s.open("short"), 1);
  EXPECT_EQ(s.k.ntot, 7);
  double v[5];
  EXPECT_FALSE(s.ray(1, v));
}

TEST_F(RaysDir, WrittenSetHasTheLayoutAndIsReadBack) {
  Session s;
  s.k.caption = "Written here";
  std::string name = "out";
  int ierr = 1;
  kestrim::kqio(s.k, 'W', name, ierr);
  ASSERT_EQ(ierr, 0);
  double r[5] = {1e-6, -2e-3, 0.0, 3.5, -0.25};
  ASSERT_TRUE(kestrim::kqrays(s.k, 'W', 0, r[0], r[1], r[2], r[3], r[4]));
  // Nothing carries the user's name until the channel is closed.
  EXPECT_FALSE(fs::exists("out.bin"));
  kestrim::kqioend(s.k, 'W');
  std::string cap = "Written here";
  cap.resize(100, ' ');
  EXPECT_EQ(readBytes("out.bin"), rec(cap) + rayRec(1e-6, -2e-3, 0.0, 3.5, -0.25));
}

TEST_F(RaysDir, AbandonedWriteLeavesTheOldFileAlone) {
  writeSet("keep.bin", 4);
  std::string before = readBytes("keep.bin");
  {
    Session s;
    std::string name = "keep.bin";
    int ierr = 1;
    kestrim::kqio(s.k, 'A', name, ierr);
    ASSERT_EQ(ierr, 0);
    double r[5] = {9, 9, 9, 9, 9};
    kestrim::kqrays(s.k, 'A', 0, r[0], r[1], r[2], r[3], r[4]);
    // The session ends without closing the channel, as a dying program would.
  }
  EXPECT_EQ(readBytes("keep.bin"), before);
  for (const auto& e : fs::directory_iterator("."))
    EXPECT_EQ(e.path().filename().string(), "keep.bin");
}

TEST_F(RaysDir, DumpOfBeamReadsBeamTxtAndWritesBeamBin) {
  std::ofstream("beam.txt") << "Beam from the bench test\n"
                               "header 2\nheader 3\nheader 4\n"
                               "1e-6 2e-3 -1e-6 0 7 0.5 9\n"
                               "this line is junk\n"
                               "2e-6, 3e-3, 0, 1e-3, 7, -0.25, 9\n"
                               "1 2 3\n"
                               "3e-6 4e-3 5 6 7 1.25 9\n";
  Session s;
  kestrim::KqLine c{gx::pad("DUMP", 40), ' ', 0.0, "beam"};
  kestrim::kqdump(s.k, c);
  EXPECT_EQ(s.k.ntot, 3);
  EXPECT_NE(s.out.str().find("Dump file caption: Beam from the bench test"), std::string::npos);
  EXPECT_NE(s.out.str().find("     3 rays in data file."), std::string::npos);
  EXPECT_NE(s.out.str().find("Energy spread range: -0.25000 to 1.2500"), std::string::npos);
  ASSERT_TRUE(fs::exists("beam.bin"));
  ASSERT_EQ(s.open("beam"), 0);
  EXPECT_EQ(s.k.ntot, 3);
  EXPECT_EQ(kestrim::kqtrim(s.k.caption), "Beam from the bench test");
  double v[5];
  ASSERT_TRUE(s.ray(2, v));
  EXPECT_EQ(v[0], 2e-6);
  EXPECT_EQ(v[1], 3e-3);
  EXPECT_EQ(v[3], 1e-3);
  EXPECT_EQ(v[4], -0.25);   // DE is the sixth number
  ASSERT_TRUE(s.ray(3, v));
  EXPECT_EQ(v[2], 5.0);
  EXPECT_EQ(v[4], 1.25);
}

TEST_F(RaysDir, DumpOfMissingFileSaysSo) {
  Session s;
  kestrim::KqLine c{gx::pad("DUMP", 40), ' ', 0.0, "nobeam"};
  kestrim::kqdump(s.k, c);
  EXPECT_NE(s.out.str().find("nobeam.txt does not exist."), std::string::npos);
  EXPECT_FALSE(fs::exists("nobeam.bin"));
}

// The layout against gfortran in both directions: a Fortran program writes a
// set with unformatted sequential WRITEs that KESTRIM reads, and reads one
// that KESTRIM wrote. Values travel as bit patterns, so the check is exact.
TEST_F(RaysDir, LayoutMatchesGfortranBothWays) {
  if (std::system("gfortran --version >/dev/null 2>&1") != 0)
    GTEST_FAIL() << "gfortran is not installed";
  const std::vector<double> vals = {0.0, -0.0, 1e-300, 4.9e-324, -1.7976931348623157e308,
                                    3.141592653589793, -2.5e-7, 1.0 / 3.0, 1e-3, -7.25,
                                    6.02214076e23, -1e-9, 0.1, 123456.789, 2.0};
  const int nrays = static_cast<int>(vals.size()) / 5;
  {
    std::ofstream f("vals.txt");
    for (double d : vals) {
      std::int64_t b;
      std::memcpy(&b, &d, 8);
      f << b << "\n";
    }
  }
  std::ofstream("prog.f90") << R"(program rays
  implicit none
  character(len=100) :: cap
  integer(kind=8) :: bits(5)
  real(kind=8) :: r(5)
  integer :: i, ios
  open(11, file='vals.txt', status='old')
  open(7, file='fort.bin', form='unformatted', access='sequential', status='replace')
  cap = 'Written by gfortran'
  write(7) cap
  do i = 1, )" + std::to_string(nrays) + R"(
    read(11, *) bits
    r = transfer(bits, r)
    write(7) r(1), r(2), r(3), r(4), r(5)
  end do
  close(7)
  close(11)
  open(8, file='ours.bin', form='unformatted', access='sequential', status='old')
  open(12, file='back.txt', status='replace')
  read(8) cap
  write(12, '(a)') cap
  do
    read(8, iostat=ios) r(1), r(2), r(3), r(4), r(5)
    if (ios /= 0) exit
    bits = transfer(r, bits)
    write(12, '(5(i0,1x))') bits
  end do
  close(8)
  close(12)
end program rays
)";
  // KESTRIM writes its set first.
  {
    Session s;
    s.k.caption = "Written by KESTRIM";
    std::string name = "ours";
    int ierr = 1;
    kestrim::kqio(s.k, 'W', name, ierr);
    ASSERT_EQ(ierr, 0);
    for (int i = 0; i < nrays; ++i) {
      double r[5];
      for (int j = 0; j < 5; ++j) r[j] = vals[static_cast<size_t>(i * 5 + j)];
      ASSERT_TRUE(kestrim::kqrays(s.k, 'W', 0, r[0], r[1], r[2], r[3], r[4]));
    }
    kestrim::kqioend(s.k, 'W');
  }
  ASSERT_EQ(std::system("gfortran -o prog prog.f90 >gf.log 2>&1 && ./prog >>gf.log 2>&1"), 0)
      << readBytes("gf.log");

  // gfortran read ours.
  std::ifstream back("back.txt");
  std::string capLine;
  std::getline(back, capLine);
  EXPECT_EQ(capLine, std::string("Written by KESTRIM") + std::string(82, ' '));
  for (int i = 0; i < nrays; ++i) {
    for (int j = 0; j < 5; ++j) {
      std::int64_t b = 0;
      ASSERT_TRUE(back >> b) << "ray " << i + 1;
      double want = vals[static_cast<size_t>(i * 5 + j)];
      std::int64_t wb;
      std::memcpy(&wb, &want, 8);
      EXPECT_EQ(b, wb) << "ray " << i + 1 << " field " << j + 1;
    }
  }
  std::int64_t extra;
  EXPECT_FALSE(back >> extra);

  // We read gfortran's.
  Session s;
  ASSERT_EQ(s.open("fort.bin"), 0);
  EXPECT_EQ(s.k.ntot, nrays);
  EXPECT_EQ(kestrim::kqtrim(s.k.caption), "Written by gfortran");
  for (int i = 1; i <= nrays; ++i) {
    double v[5];
    ASSERT_TRUE(s.ray(i, v));
    for (int j = 0; j < 5; ++j)
      EXPECT_EQ(std::memcmp(&v[j], &vals[static_cast<size_t>((i - 1) * 5 + j)], 8), 0)
          << "ray " << i << " field " << j + 1;
  }
}

}  // namespace
