// System files: DATA and SAVE through the program, round trips, the exact
// record layout and files that must not hurt.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "gxlib/fortran/fortio.h"
#include "tavo/commands.h"
#include "tavo/optics/optics.h"

namespace {

namespace fs = std::filesystem;

class SysFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tavo_sysfile_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_ = fs::current_path();
    for (const char* f : {"doublet.tav", "triplet.tav"})
      fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / f, dir_ / f);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }
  static std::string session(const std::string& input) {
    std::istringstream in(input);
    std::ostringstream out;
    EXPECT_EQ(tavo::run(in, out), 0);
    return out.str();
  }
  static std::string slurp(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    std::stringstream b;
    b << f.rdbuf();
    return b.str();
  }
  static void put(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
  }
  // Runs one command of the first-order set on a Tavo held by the test.
  static void command(tavo::Tavo& s, void (*fn)(tavo::Tavo&, tavo::Command&), const std::string& line) {
    tavo::Command c;
    c.line = gx::pad(line, 40);
    c.word = line.substr(0, line.find(' '));
    fn(s, c);
  }
  fs::path dir_, old_;
};

const char* kGood =
    " Test system\n"
    "  0.00   ,    1.000000,    1.000000,    3.000000,    0.000000\n"
    "  1.00   ,    0.000010,    0.001000,    0.000010,    0.001000,    0.000000\n"
    "  3.00   ,    0.500000,    0.000000,    0.000000\n"
    "  4.10   ,    0.100000,    0.300000,    0.010000\n"
    "  9.00   ,    0.200000,    0.000000,    0.000000\n"
    " SENTINEL\n";

TEST_F(SysFile, NamesAndMissingFiles) {
  put("small.dat", kGood);
  std::string o = session("DATA doublet\nDATA small.dat\nDATA nothere\nSMAT\n");
  EXPECT_NE(o.find("Title:  Quadrupole doublet"), std::string::npos);
  EXPECT_NE(o.find("Title:  Test system"), std::string::npos);
  EXPECT_NE(o.find(" nothere.tav does not exist.\n"), std::string::npos);
  EXPECT_NE(o.find("System Beam Matrix:"), std::string::npos);   // the loaded system stays
}

TEST_F(SysFile, FilesThatEndTheProgram) {
  struct Case {
    std::string text, message;
  };
  std::string many = " Too long\n  0.00, 1, 1, 3, 0\n  1.00, 0, 0, 0, 0, 0\n";
  for (int k = 0; k < 45; ++k) many += "  3.00, 0.1, 0, 0\n";
  many += "  9.00, 0, 0, 0\n";
  std::string binary("\x7f\x45\x4c\x46\x02\x01\x01\x00\x00\x1b[2J\xff\xfe\n\x00\x01\x02", 19);
  const Case cases[] = {
      {" Bad number\n 0.00, 1, 1, 3, 0\n 1.00, 0, 0, 0, 0, 0\n 4.00, 0.1, abc, 0.01\n 9.00, 0, 0, 0\n",
       "?MAIN- Severe error in data file"},
      {" No end\n 0.00, 1, 1, 3, 0\n 1.00, 0, 0, 0, 0, 0\n 3.00, 0.1, 0, 0\n", "?MAIN- Severe error in data file"},
      {many, "?MAIN- Severe error in data file"},
      {"", "?MAIN- Severe error in data file"},
      {binary, "?MAIN- Severe error in data file"},
      {" Huge code\n 0.00, 1, 1, 3, 0\n 1.00, 0, 0, 0, 0, 0\n 1e300, 0.1, 0, 0\n 9.00, 0, 0, 0\n",
       "?MAIN- Severe error in data file"},
      {" Swapped\n 1.00, 0, 0, 0, 0, 0\n 0.00, 1, 1, 3, 0\n 9.00, 0, 0, 0\n",
       "?MAIN- First elements must be particle (0.0) and beam (1.0)"},
      {" SENTINEL\n", "Title:  SENTINEL"},
  };
  for (const Case& c : cases) {
    put("bad.tav", c.text);
    std::string o = session("DATA bad\nSMAT\n");
    EXPECT_NE(o.find(c.message), std::string::npos) << c.text.substr(0, 12);
    EXPECT_EQ(o.find("System Beam Matrix:"), std::string::npos) << "the program must have ended";
    EXPECT_EQ(o.find('\x1b'), std::string::npos);
  }
}

TEST_F(SysFile, LongTitleIsCutAndTheSystemLoads) {
  std::string text = kGood;
  text.replace(0, 12, " " + std::string(10000, 'T'));
  put("long.tav", text);
  std::string o = session("DATA long\nSMAT\n");
  EXPECT_NE(o.find("Title:  " + std::string(49, 'T') + "\n"), std::string::npos);
  EXPECT_NE(o.find("System Beam Matrix:"), std::string::npos);
}

TEST_F(SysFile, SaveThenDataGivesTheSameTable) {
  std::istringstream in;
  std::ostringstream out;
  tavo::Tavo a(in, out);
  a.title = "Round trip";
  const double rows[][6] = {{0.0, 2.0, 4.002602, 6.123457, -1.0, 0},
                            {1.0, 0.000012, 0.000345, 0.000006, 0.000789, 0.012},
                            {3.0, 1.234567, 5.0, 7.0, 0, 0},
                            {4.1, 0.080001, 0.253, 0.0075, 0, 0},
                            {4.01, 0.08, -12000.0, 0.0075, 0, 0},
                            {14.2, 0.1, 1682.791, 0.01, 0, 0},
                            {9.0, 0.0, 0.0, 0.0, 0, 0}};
  for (int r = 0; r < 7; ++r)
    for (int c = 0; c < 6; ++c) a.bdata(r + 1, c + 1) = rows[r][c];
  a.bdata(1, 12) = a.bdata(1, 4);
  a.syspa = 7;
  command(a, tavo::cmdSave, "SAVE    trip");
  EXPECT_NE(out.str().find("Data saved in file: trip.tav"), std::string::npos);
  EXPECT_EQ(a.file, "trip");

  tavo::Tavo b(in, out);
  command(b, tavo::cmdData, "DATA    trip");
  EXPECT_EQ(b.title.substr(0, 11), " Round trip");
  for (int r = 1; r <= 7; ++r)
    for (int c = 1; c <= (r == 1 ? 5 : r == 2 ? 6 : 4); ++c) {
      double want = (r == 3 && c >= 3) ? 0.0 : rows[r - 1][c - 1];
      EXPECT_NEAR(b.bdata(r, c), want, 5e-7) << r << "," << c;
    }
  EXPECT_EQ(b.bdata(5, 3), -12000.0);   // the 1PG12.5 form reads back exactly
  EXPECT_NE(slurp("trip.tav").find(", -12000.    ,"), std::string::npos);

  // Saved again, the file is the same byte for byte: the title does not
  // collect a blank at every save.
  std::string first = slurp("trip.tav");
  command(b, tavo::cmdSave, "SAVE    trip");
  EXPECT_EQ(slurp("trip.tav"), first);
}

TEST_F(SysFile, SaveMatchesGfortranByteForByte) {
  if (std::system("gfortran --version >/dev/null 2>&1") != 0) GTEST_FAIL() << "no gfortran";
  put("w.f90",
      "program w\n"
      "  open(3, file='ref.tav', status='replace')\n"
      "  write(3,'(1X,A)') 'Lens with every form'\n"
      "  write(3,'(1X,F5.2,3X,4('','',F12.6))') 0.0d0, 2.0d0, 4.002602d0, 6.5d0, 0.0d0\n"
      "  write(3,'(1X,F5.2,3X,5('','',F12.6))') 1.0d0, 1.2d-5, -3.45d-4, 6.0d-6, 7.89d-4, 0.0125d0\n"
      "  write(3,'(1X,F5.2,3X,3('','',F12.6))') 3.0d0, 1.234567d0, 0.0d0, 0.0d0\n"
      "  write(3,'(1X,F5.2,3X,3('','',F12.6))') 4.01d0, 0.08d0, -0.246639d0, 0.0075d0\n"
      "  write(3,'(1X,F5.2,3X,'','',F12.6,'','',1PG12.5,'','',0PF12.6)') 4.1d0, 0.08d0, "
      "12345.678d0, 0.0075d0\n"
      "  write(3,'(1X,F5.2,3X,'','',F12.6,'','',1PG12.5,'','',0PF12.6)') 14.2d0, 0.1d0, "
      "-2.5d6, 0.01d0\n"
      "  write(3,'(1X,F5.2,3X,3('','',F12.6))') 9.0d0, 0.2d0, 0.0d0, 0.0d0\n"
      "  write(3,'(1X,A)') 'SENTINEL'\n"
      "  close(3)\n"
      "end program w\n");
  ASSERT_EQ(std::system("gfortran -o w w.f90 >/dev/null 2>&1 && ./w"), 0);
  std::istringstream in;
  std::ostringstream out;
  tavo::Tavo a(in, out);
  a.title = "Lens with every form";
  const double rows[][6] = {{0.0, 2.0, 4.002602, 6.5, 0.0, 0},
                            {1.0, 1.2e-5, -3.45e-4, 6.0e-6, 7.89e-4, 0.0125},
                            {3.0, 1.234567, 9.0, 9.0, 0, 0},   // drift fields are written as 0
                            {4.01, 0.08, -0.246639, 0.0075, 0, 0},
                            {4.1, 0.08, 12345.678, 0.0075, 0, 0},
                            {14.2, 0.1, -2.5e6, 0.01, 0, 0},
                            {9.0, 0.2, 0.0, 0.0, 0, 0}};
  for (int r = 0; r < 7; ++r)
    for (int c = 0; c < 6; ++c) a.bdata(r + 1, c + 1) = rows[r][c];
  a.bdata(1, 12) = 6.5;
  a.bdata(1, 4) = 99.0;   // the stored energy is what is saved
  a.syspa = 7;
  command(a, tavo::cmdSave, "SAVE    mine.tav");
  EXPECT_EQ(slurp("mine.tav"), slurp("ref.tav"));
}

TEST_F(SysFile, SaveDefaultsAndFailures) {
  // No name and an empty reply: the current file, with ".tav" appended.
  std::string before = slurp("triplet.tav");
  fs::last_write_time("triplet.tav", fs::file_time_type::clock::now() - std::chrono::hours(1));
  auto stamp = fs::last_write_time("triplet.tav");
  std::string o = session("DATA triplet\nSAVE\n\n");
  EXPECT_NE(o.find("Filename for output (CR for triplet) > "), std::string::npos);
  EXPECT_NE(o.find("Data saved in file: triplet.tav"), std::string::npos);
  EXPECT_NE(fs::last_write_time("triplet.tav"), stamp);
  EXPECT_EQ(slurp("triplet.tav"), before);

  // A directory that does not exist: a message, nothing written.
  o = session("DATA triplet\nSAVE nodir/x.tav\nSMAT\n");
  EXPECT_NE(o.find("Unable to open nodir/x.tav"), std::string::npos);
  EXPECT_NE(o.find("System Beam Matrix:"), std::string::npos);

  // A directory that cannot be written: the user's file stays as it was.
  if (geteuid() != 0) {
    fs::create_directory("ro");
    fs::copy_file("triplet.tav", "ro/keep.tav");
    fs::permissions("ro", fs::perms::owner_read | fs::perms::owner_exec);
    o = session("DATA ro/keep.tav\nPTF T\n9\n9\n9\nSAVE ro/keep.tav\n");
    EXPECT_NE(o.find("Unable to open ro/keep.tav"), std::string::npos);
    fs::permissions("ro", fs::perms::owner_all);
    EXPECT_EQ(slurp("ro/keep.tav"), before);
    EXPECT_EQ(fs::directory_iterator("ro")->path().filename(), "keep.tav");
  }
}

TEST_F(SysFile, DataWithAPositiveLevelEndsTheRun) {
  std::string o = session("DATA triplet\nDIAG 2\nSMAT\nDATA doublet\nSMAT\n");
  EXPECT_NE(o.find("Output data in file doublet.lpt"), std::string::npos);
  EXPECT_EQ(o.find("Title:  Quadrupole doublet"), std::string::npos);
}

}  // namespace
