// Loading, reviewing and rewriting coefficient files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gxlib/fortran/fortio.h"
#include "workdir.h"
#include "kestrim/kq.h"

namespace {

namespace fs = std::filesystem;
using kestrim::Kestrim;

class CofStore : public kqtest::WorkDir {
 protected:
  static std::string slurp(const std::string& name) {
    std::ifstream f(name);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  static void put(const std::string& name, const std::string& text) { std::ofstream(name) << text; }
  static std::vector<std::string> lines(const std::string& name) {
    std::ifstream f(name);
    std::vector<std::string> v;
    for (std::string l; std::getline(f, l);) v.push_back(l);
    return v;
  }
};

struct Session {
  explicit Session(const std::string& input = "") : in(input) {}
  std::istringstream in;
  std::ostringstream out;
  Kestrim k{in, out};
};

// The values of one system, each exact at four significant digits so that
// TAVO's 1PG12.4 records hold them exactly.
struct System {
  std::string title = "Oxford triplet 3.2 MeV protons";
  double obj[4] = {5.0e-6, 0.0, 2.5e-6, 1.0e-7};      // X/2, X CENTRE, Y/2, Y CENTRE
  double ap[4] = {2.01e-4, 0.0, 1.5e-4, -2.0e-6};
  double objap = 0.2, shadow = 0.1, total = 7.25;
  char shape = 'S';
  double m1[16] = {-0.04, 0.0, 0.0, 0.0, -5.2, -25.0, 0.0, 0.0,
                   0.0, 0.0, -0.05, 0.0, 0.0, 0.0, -4.8, -20.0};
  double m2[40];
  double t3x[10], t3y[10];
  double chrom[4] = {-0.012, 0.0345, 1.2e-3, -4.5e-4};
  System() {
    for (int i = 0; i < 40; ++i) m2[i] = (i - 20) * 0.25;
    for (int i = 0; i < 10; ++i) {
      t3x[i] = 100.0 + 12.5 * i;
      t3y[i] = -(50.0 + 2.25 * i);
    }
  }

  // The file as TAVO writes it.
  std::string tavoFile() const {
    auto g4 = [](const double* v, int n, int w) {
      std::string s;
      for (int i = 0; i < n; ++i) s += (i ? "," : "") + gx::fG(v[i], w, 4, 1);
      return s;
    };
    std::string f;
    f += " " + gx::pad(title, 50) + "\n";
    f += g4(obj, 4, 12) + "\n" + g4(ap, 4, 12) + "\n";
    f += " " + gx::fF(objap, 12, 7) + "\n";
    f += std::string(" ") + shape + "\n";
    f += gx::fF(shadow, 12, 7) + "\n" + gx::fF(total, 12, 7) + "\n";
    for (int r = 0; r < 4; ++r) f += g4(m1 + 4 * r, 4, 12) + "\n";
    for (int r = 0; r < 4; ++r) f += g4(m2 + 10 * r, 10, 12) + "\n";
    f += g4(t3x, 10, 11) + ",0,0\n" + g4(t3y, 10, 11) + ",0,0\n";
    f += "0,0,0,0,0,0\n0,0,0,0,0,0\n";
    f += gx::fG(chrom[0], 12, 5, 1) + "," + gx::fG(chrom[1], 12, 5, 1) + "\n";
    f += gx::fG(chrom[2], 12, 5, 1) + "," + gx::fG(chrom[3], 12, 5, 1) + "\n";
    f += " Coefficients from TAVO\n";
    return f;
  }

  // The same numbers with other line breaks, blanks and exponent letters.
  std::string scatteredFile() const {
    std::ostringstream f;
    f.precision(17);
    f << " " << title << "\n";
    f << obj[0] << "\n" << obj[1] << " " << obj[2] << "\n\n" << obj[3] << "\n";
    f << ap[0] << ", " << ap[1] << " ,\t" << ap[2] << ",\n" << ap[3] << "\n";
    f << "2.0D-1\n";
    f << "      Square\n";
    f << shadow << "\n" << total << "\n";
    for (double v : m1) f << v << " ";
    f << "\n";
    for (int i = 0; i < 40; ++i) f << m2[i] << (i % 3 == 2 ? "\n" : " ");
    f << "\n";
    for (double v : t3x) f << v << "\n";
    f << "0 0 ";
    for (double v : t3y) f << v << " ";
    f << "0\n0\n";
    f << "12*0\n";
    f << chrom[0] << " " << chrom[1] << " " << chrom[2] << "\n" << chrom[3] << "\n";
    return f.str();
  }

  void expectStore(const Kestrim& k) const {
    EXPECT_EQ(k.coffile, 1);
    EXPECT_EQ(std::string(gx::trimRight(k.coftitle)), " " + title);
    EXPECT_EQ(k.obap.v[0], obj[0]);
    EXPECT_EQ(k.obap.v[4], obj[1]);
    EXPECT_EQ(k.obap.v[1], obj[2]);
    EXPECT_EQ(k.obap.v[5], obj[3]);
    EXPECT_EQ(k.obap.v[2], ap[0]);
    EXPECT_EQ(k.obap.v[6], ap[1]);
    EXPECT_EQ(k.obap.v[3], ap[2]);
    EXPECT_EQ(k.obap.v[7], ap[3]);
    EXPECT_EQ(k.dis.objap, objap);
    EXPECT_EQ(k.dis.shadow, shadow);
    EXPECT_EQ(k.dis.totlen, total);
    EXPECT_EQ(k.cofshape, shape);
    for (int r = 1; r <= 4; ++r)
      for (int c = 1; c <= 4; ++c) {
        EXPECT_EQ(k.bmat(r, c), m1[(r - 1) * 4 + c - 1]) << r << "," << c;
        EXPECT_EQ(k.bmat(r, c + 4), m1[(r - 1) * 4 + c - 1]) << "copy " << r << "," << c;
      }
    for (int r = 1; r <= 4; ++r)
      for (int j = 1; j <= 10; ++j) EXPECT_EQ(k.bmat(r, 8 + j), m2[(r - 1) * 10 + j - 1]) << r << "," << j;
    for (int n = 1; n <= 10; ++n) {
      EXPECT_EQ(k.bmat.t3(1, n), t3x[n - 1]);
      EXPECT_EQ(k.bmat.t3(2, n), t3y[n - 1]);
    }
    for (int p = 1; p <= 2; ++p) {
      EXPECT_EQ(k.bmat.t3(p, 11), 0.0);
      EXPECT_EQ(k.bmat.t3(p, 12), 0.0);
      for (int n = 1; n <= 6; ++n) EXPECT_EQ(k.bmat.t5(p, n), 0.0);
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(k.chrm[static_cast<size_t>(i)], chrom[i]);
  }
};

void expectSameStore(const Kestrim& a, const Kestrim& b) {
  EXPECT_EQ(a.coffile, b.coffile);
  EXPECT_EQ(gx::trimRight(a.coftitle), gx::trimRight(b.coftitle));
  EXPECT_EQ(a.cofshape, b.cofshape);
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(a.obap.v[i], b.obap.v[i]) << i;
  EXPECT_EQ(a.dis.objap, b.dis.objap);
  EXPECT_EQ(a.dis.shadow, b.dis.shadow);
  EXPECT_EQ(a.dis.totlen, b.dis.totlen);
  for (size_t i = 0; i < 108; ++i) EXPECT_EQ(a.bmat.a[i], b.bmat.a[i]) << "entry " << i + 1;
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(a.chrm[i], b.chrm[i]);
}

TEST_F(CofStore, ReadsEveryGroupOfATavoFileWithItsProgress) {
  System sys;
  put("triplet.cof", sys.tavoFile());
  Session s;
  std::string name = "triplet";
  ASSERT_EQ(kestrim::cofin(s.k, name), 0);
  EXPECT_EQ(name, "triplet.cof");
  sys.expectStore(s.k);
  const std::string out = s.out.str();
  size_t at = 0;
  for (const char* m : {" Getting coefficients from triplet.cof", " On unit number 3", " Opened file successfully.",
                        " Read title.", " Read image/aperture sizes", " read collimator.",
                        " read first order matrix", " Read fifth order matrix."}) {
    size_t p = out.find(m, at);
    EXPECT_NE(p, std::string::npos) << m << " in\n" << out;
    if (p != std::string::npos) at = p;
  }
}

TEST_F(CofStore, SameStoreWhateverTheLineBreaks) {
  System sys;
  put("a.cof", sys.tavoFile());
  put("b.dat", sys.scatteredFile());
  Session a, b;
  std::string na = "a.cof", nb = "b.dat";
  ASSERT_EQ(kestrim::cofin(a.k, na), 0);
  ASSERT_EQ(kestrim::cofin(b.k, nb), 0) << b.out.str();
  EXPECT_EQ(nb, "b.dat");   // a name with a point keeps it
  expectSameStore(a.k, b.k);
}

TEST_F(CofStore, KestrimWriterLayoutReadsBackToTheSameStore) {
  System sys;
  put("tavo.cof", sys.tavoFile());
  Session a;
  std::string na = "tavo.cof";
  ASSERT_EQ(kestrim::cofin(a.k, na), 0);
  // Values that need all seventeen digits survive too.
  a.k.bmat.t5(1, 3) = 1.0 / 3.0;
  a.k.bmat.t5(2, 6) = -2.0 / 7.0 * 1e-200;
  a.k.chrm[1] = 6.02214076e23;
  kestrim::cofout(a.k, "saved");
  ASSERT_TRUE(fs::exists("saved.COF"));
  auto rec = lines("saved.COF");
  ASSERT_EQ(rec.size(), 12u);  // no trailer
  EXPECT_EQ(rec[0], " " + sys.title);  // the stored title, no carriage blank added
  EXPECT_EQ(rec[4], " S");
  std::istringstream first(rec[7]);
  int count = 0;
  for (std::string w; first >> w;) ++count;
  EXPECT_EQ(count, 16);  // the whole first-order matrix on one record

  Session b;
  std::string nb = "saved.COF";
  ASSERT_EQ(kestrim::cofin(b.k, nb), 0);
  expectSameStore(a.k, b.k);
  // Nothing is left beside the file.
  int files = 0;
  for (auto& e : fs::directory_iterator(".")) files += e.is_regular_file();
  EXPECT_EQ(files, 2);
}

TEST_F(CofStore, ShortOrMalformedFilesFailWithTheMessage) {
  System sys;
  std::string good = sys.tavoFile();
  // Cut after the first-order matrix: the second-order group is missing.
  size_t cut = 0;
  for (int i = 0; i < 11; ++i) cut = good.find('\n', cut) + 1;
  put("short.cof", good.substr(0, cut));
  Session a;
  std::string na = "short.cof";
  EXPECT_EQ(kestrim::cofin(a.k, na), 1);
  EXPECT_NE(a.out.str().find(" Error reading data from file short.cof"), std::string::npos);
  EXPECT_EQ(a.k.coffile, 0);
  EXPECT_EQ(a.k.bmat(2, 2), -25.0);  // values read so far stay

  std::string bad = good;
  bad.replace(bad.find("0.2000000"), 9, "0.2OOO0OO");
  put("text.cof", bad);
  Session b;
  std::string nb = "text.cof";
  EXPECT_EQ(kestrim::cofin(b.k, nb), 1);
  EXPECT_NE(b.out.str().find("Error reading data from file text.cof"), std::string::npos);

  put("empty.cof", "");
  Session c;
  std::string nc = "empty.cof";
  EXPECT_EQ(kestrim::cofin(c.k, nc), 1);

  // A failed read does not undo an earlier good one.
  Session d;
  put("good.cof", good);
  std::string n1 = "good.cof", n2 = "short.cof";
  ASSERT_EQ(kestrim::cofin(d.k, n1), 0);
  EXPECT_EQ(kestrim::cofin(d.k, n2), 1);
  EXPECT_EQ(d.k.coffile, 1);
}

TEST_F(CofStore, MissingFileAsksAgainAndABlankAnswerGivesUp) {
  System sys;
  put("a_long_system_name.cof", sys.tavoFile());
  // The prompt takes a name longer than thirteen characters whole.
  Session s("a_long_system_name\n");
  std::string name = "nothere";
  ASSERT_EQ(kestrim::cofin(s.k, name), 0);
  EXPECT_EQ(name, "a_long_system_name.cof");
  EXPECT_NE(s.out.str().find(" %COFIN - nothere.cof Does not exist."), std::string::npos);
  EXPECT_NE(s.out.str().find("Filename for input > "), std::string::npos);

  Session t("\n");
  std::string blank = "   ";
  EXPECT_EQ(kestrim::cofin(t.k, blank), 1);
  EXPECT_EQ(t.k.coffile, 0);

  // At the terminal, input that ends ends the session.
  Session u("");
  std::string none;
  EXPECT_THROW(kestrim::cofin(u.k, none), gx::EndOfInput);
}

// Every answer of the review empty.
std::string emptyReview() {
  std::string a = "Y\n\nY\n" + std::string(8, '\n') + "\n\n\n\n";  // physical parameters
  a += "Y\n" + std::string(16, '\n');                            // first order
  a += "Y\n" + std::string(20, '\n');                            // second order, rows x and y
  a += "Y\n" + std::string(24, '\n');                            // third order
  a += "Y\n" + std::string(12, '\n');                            // fifth order
  a += "Y\n" + std::string(4, '\n');                             // chromatic
  return a;
}

TEST_F(CofStore, ReviewWithEveryAnswerEmptySavesTheSameValues) {
  System sys;
  put("sys.cof", sys.tavoFile());
  Session s(emptyReview() + "@@after\n");
  std::string name = "sys";
  int echo = -1, status = -1;
  kestrim::cofmod(s.k, 5, 6, echo, name, ' ', status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(echo, 0);
  const std::string out = s.out.str();
  EXPECT_NE(out.find("Modify/review the data in the coefficient file ? > "), std::string::npos);
  EXPECT_NE(out.find(" X/Th = "), std::string::npos);
  EXPECT_NE(out.find(" Y/YT2 = "), std::string::npos);
  EXPECT_NE(out.find(" Y/Ph%DE = "), std::string::npos);
  EXPECT_NE(out.find(" Saving new coefficients in file sys.cof"), std::string::npos) << out;
  // The next line of input was not consumed by the review.
  std::string rest;
  std::getline(s.in, rest);
  EXPECT_EQ(rest, "@@after");
  // The file now has KESTRIM's layout and the same values.
  EXPECT_EQ(lines("sys.cof").size(), 12u);
  Session r;
  std::string again = "sys.cof";
  ASSERT_EQ(kestrim::cofin(r.k, again), 0);
  sys.expectStore(r.k);
}

TEST_F(CofStore, ReviewChangesAreSavedOverTheFile) {
  System sys;
  put("sys.cof", sys.tavoFile());
  std::string a = "y\nNew title\ny\n";
  a += "\n\n\n\n";                       // object
  a += "3e-4\n\n\n\n";                   // aperture X/2
  a += "0.25\n";                         // object to aperture
  a += "c\n\n\n";                        // circular; shadow, length
  a += "n\nn\ny\n1250.5\n" + std::string(23, '\n') + "n\nn\n";
  Session s(a);
  std::string name = "sys.cof";
  int echo = 0, status = 1;
  kestrim::cofmod(s.k, 5, 6, echo, name, ' ', status);
  ASSERT_EQ(status, 0);
  EXPECT_NE(s.out.str().find(" Circular apertures selected."), std::string::npos);
  Session r;
  std::string again = "sys.cof";
  ASSERT_EQ(kestrim::cofin(r.k, again), 0);
  EXPECT_EQ(std::string(gx::trimRight(r.k.coftitle)), "New title");
  EXPECT_EQ(r.k.obap.v[2], 3e-4);
  EXPECT_EQ(r.k.dis.objap, 0.25);
  EXPECT_EQ(r.k.cofshape, 'C');
  EXPECT_EQ(r.k.bmat.t3(1, 1), 1250.5);
  EXPECT_EQ(r.k.bmat.t3(1, 2), sys.t3x[1]);
}

TEST_F(CofStore, AnswerNSkipsTheReviewAndNoKeepsTheFile) {
  System sys;
  put("sys.cof", sys.tavoFile());
  const std::string before = slurp("sys.cof");
  Session s;
  std::string name = "sys";
  int echo = 0, status = 1;
  kestrim::cofmod(s.k, 5, 6, echo, name, 'N', status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(s.out.str().find("Modify/review"), std::string::npos);

  Session t("n\n");
  std::string n2 = "sys";
  kestrim::cofmod(t.k, 5, 6, echo, n2, ' ', status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(t.out.str().find("Saving"), std::string::npos);
  EXPECT_EQ(slurp("sys.cof"), before);

  Session u;
  std::string n3 = "absent";
  u.in.str("\n");
  kestrim::cofmod(u.k, 5, 6, echo, n3, ' ', status);
  EXPECT_NE(status, 0);
}

TEST_F(CofStore, MacroInputEndingInTheReviewLeavesTheFileAlone) {
  System sys;
  put("sys.cof", sys.tavoFile());
  const std::string before = slurp("sys.cof");
  // A macro that answers the first questions and then ends.
  put("m.kcm", "sys\ny\n\ny\n1e-5\n");
  Session s;
  ASSERT_TRUE(s.k.gx.io.open(15, "m.kcm", gx::OpenStatus::Old, gx::Access::Read));
  std::string name;
  int echo = 0, status = 1;
  kestrim::cofmod(s.k, 15, 6, echo, name, ' ', status);
  EXPECT_EQ(echo, 1);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(s.out.str().find("Saving"), std::string::npos);
  EXPECT_EQ(slurp("sys.cof"), before);
  EXPECT_NE(s.out.str().find(" sys.cof"), std::string::npos);  // the name is echoed
  s.k.gx.io.close(15);
}

TEST_F(CofStore, WriterThatCannotOpenSaysSoAndKeepsTheStore) {
  Session s;
  s.k.coffile = 0;
  fs::create_directory("taken.cof");
  kestrim::cofout(s.k, "taken.cof");
  EXPECT_NE(s.out.str().find(" Unable to open taken.cof"), std::string::npos);
  EXPECT_EQ(s.k.coffile, 0);
  kestrim::cofout(s.k, "no/such/dir/x");
  EXPECT_NE(s.out.str().find(" Unable to open no/such/dir/x.COF"), std::string::npos);
}

}  // namespace
