// Ray sets past 200 000 rays in whole sessions: SYNTH keeps every ray it is
// asked for, and the one-pass analyses count sets of any size by hand-known
// numbers while the rays stream through in bounded memory.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "session.h"
#include "workdir.h"

// AddressSanitizer maps its own memory and keeps freed blocks aside, so a
// data limit measures it rather than the program: the limit is set only in
// plain builds.
#if defined(__SANITIZE_ADDRESS__)
#define TK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TK_ASAN 1
#endif
#endif
#ifndef TK_ASAN
#define TK_ASAN 0
#endif

namespace {

namespace fs = std::filesystem;
using kqtest::Ray;
using kqtest::Session;

class LargeSet : public kqtest::WorkDir {};

constexpr std::uintmax_t kCaptionBytes = 108;   // 100-byte caption and its two markers
constexpr std::uintmax_t kRayBytes = 48;        // 40-byte ray and its two markers

// A coefficient file whose polynomial is the identity: the rays written are
// the rays made.
void identityCof(const std::string& name) {
  std::ofstream f(name);
  f << "  Identity lens\n5e-6 0 5e-6 0\n1e-4 0 1e-4 0\n1\n C\n0.1\n1\n";
  f << "1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\n40*0\n0 11*0\n0 11*0\n12*0\n0 0 0 0\n";
}

// Writes n rays through the program's write channel one at a time, so the
// test itself never holds the set.
void streamSet(const std::string& name, long long n, const std::function<Ray(long long)>& ray) {
  std::istringstream none;
  std::ostringstream sink;
  kestrim::Kestrim k(none, sink);
  k.caption = "Big set";
  std::string file = name;
  int ierr = 1;
  kestrim::kqio(k, 'W', file, ierr);
  ASSERT_EQ(ierr, 0);
  for (long long i = 1; i <= n; ++i) {
    Ray r = ray(i);
    ASSERT_TRUE(kestrim::kqrays(k, 'W', 0, r[0], r[1], r[2], r[3], r[4]));
  }
  kestrim::kqioend(k, 'W');
}

// Lines of a data file after its seven heading lines, as numbers.
std::vector<std::vector<double>> dataLines(const std::string& name, size_t heading = 7) {
  std::vector<std::vector<double>> v;
  const auto l = kqtest::lines(name);
  for (size_t i = heading; i < l.size(); ++i) v.push_back(kqtest::numbers(l[i]));
  return v;
}

// Random mode with square apertures rejects nothing: NTOT is the request
// plus the paraxial pair, and the file holds exactly that many records.
TEST_F(LargeSet, RandomSynthOfMoreThanTwoHundredThousandRaysKeepsThemAll) {
  identityCof("id.cof");
  Session s("SYNTH/N id\n1\n260000\nS\n10 10\n\n0.2 0.2\n\n\n\nQ\nNTOT\nEXIT\n");
  EXPECT_EQ(s.k.ntot, 260002) << s.text().substr(0, 3000);
  EXPECT_FALSE(s.has("Maximum number of rays exceeded"));
  EXPECT_TRUE(s.has("  260002 rays generated total."));
  EXPECT_TRUE(s.has("Finding number of rays....260002 rays in file."));
  EXPECT_TRUE(s.has("Total number of ray vectors =  260002"));
  EXPECT_EQ(fs::file_size("id.bin"), kCaptionBytes + 260002u * kRayBytes);

  // A second pass appends its own pair and rays: NTOT counts both passes,
  // no longer cut at 200 000.
  Session t("SYNTH/N id\n1\n150000\nS\n10 10\n\n0.2 0.2\n\n\n\nR\n1\n150000\nS\n10 10\n\n0.2 0.2\n\n\n\nQ\nEXIT\n");
  EXPECT_EQ(t.k.ntot, 300004);
  EXPECT_EQ(fs::file_size("id.bin"), kCaptionBytes + 300004u * kRayBytes);
}

// A pass far beyond what the disk can hold is refused before a ray is
// made; the set keeps its paraxial pair and the dialogue goes on.
TEST_F(LargeSet, SynthPassBeyondTheDiskIsRefusedAtOnce) {
  identityCof("id.cof");
  Session s("SYNTH/N id\n1\n999999999999999999\nS\n10 10\n\n0.2 0.2\n\n\n\nQ\nNTOT\nEXIT\n");
  EXPECT_TRUE(s.has("?KQSYNTH- No rays generated in this pass.")) << s.text();
  EXPECT_TRUE(s.has("       2 rays generated total."));
  EXPECT_EQ(s.k.ntot, 2);
  EXPECT_EQ(fs::file_size("id.bin"), kCaptionBytes + 2u * kRayBytes);
}

// 250 000 rays in one cell, far past a 16-bit counter and past the old
// ray bound: every count of the grid, the edge scan and the percentage
// table is the number put there.
TEST_F(LargeSet, SortCountsEveryRayOfABigSetInItsCell) {
  // With a 4 micron square about the axis and N = 3 the cell centres lie
  // at -2, 0 and +2 micron.
  const long long left = 70000, centre = 250000;
  streamSet("big.bin", 2 + left + centre + 1, [&](long long i) -> Ray {
    if (i == 1) return {0, 0, 0, 0, 0};
    if (i == 2) return {0, 1e-3, 0, 1e-3, 0};
    if (i <= 2 + left) return {-2e-6, 0, 0, 0, 0};
    if (i <= 2 + left + centre) return {0, 0, 0, 0, 0};
    return {2e-6, 0, 2e-6, 0, 0};
  });
  const long long total = 2 + left + centre + 1;
  Session s("DATA big\nSORT/F big\n3\n0\n4\nSORT/P big\n3\n0\n4\nT\nEXIT\n");
  EXPECT_EQ(s.k.ntot, total);
  const auto l = kqtest::lines("big.agp");
  ASSERT_EQ(l.size(), 3u + 9u) << s.text();
  std::vector<double> c;
  for (size_t i = 3; i < l.size(); ++i) c.push_back(kqtest::numbers(l[i])[2]);
  // Rows j = 1..3 of columns i = 1..3; the grid counts rays 3 on (the
  // paraxial pair sets only the extent).
  const std::vector<double> want = {0, 0, 0, double(left), double(centre), 0, 0, 0, 1};
  EXPECT_EQ(c, want);
  EXPECT_NE(l[7].find(",250000"), std::string::npos) << l[7];   // too wide for I5: whole

  const auto e = dataLines("big.FIT");
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0][1], double(left));
  EXPECT_EQ(e[1][1], double(left + centre));
  EXPECT_EQ(e[2][1], double(left + centre + 1));
  EXPECT_NEAR(e[2][2], std::sqrt(double(left + centre + 1)), 1e-4 * std::sqrt(double(total)));

  const auto p = kqtest::lines("big.lpt");
  ASSERT_GE(p.size(), 5u);
  EXPECT_EQ(p[0].substr(0, 8), "320003- ");
  // Cell (2, 2): 100 * 250000 / 320003 = 78.12 %, written F4.1.
  EXPECT_NE(p[2].find("78.1"), std::string::npos) << p[2];
  EXPECT_NE(kqtest::slurp("big.lpt").find("Data expressed as a percentage of     320003 counts."),
            std::string::npos);
}

// A set of 220 002 rays, half at x = -1 um with DE = -1 %, half at +1 um
// with DE = +1 %, the paraxial pair at 0: PROFIL and DELTAE count each half
// whole, and DELTAE's rearranged set holds every ray.
TEST_F(LargeSet, ProfileAndEnergyHistogramOfABigSetCountByHand) {
  const long long half = 110000, total = 2 + 2 * half;
  streamSet("big.bin", total, [&](long long i) -> Ray {
    if (i == 1) return {0, 0, 0, 0, 0};
    if (i == 2) return {0, 1e-3, 0, 1e-3, 0};
    return i <= 2 + half ? Ray{-1e-6, 0, 0, 0, -1} : Ray{1e-6, 0, 0, 0, 1};
  });
  Session s("DATA big\nPROFIL/X big\n2\nDELTAE de.fit\nEXIT\n");
  EXPECT_EQ(s.k.ntot, total) << s.text();

  // Two channels over [-1, 1] um: channel index 2 (v + 1 um)/(2 um) + 1.5
  // puts -1 um in 1, the pair in 2, +1 um in 3.
  const auto x = dataLines("bigx.fit");
  ASSERT_EQ(x.size(), 3u) << s.text();
  EXPECT_EQ(x[0][1], double(half));
  EXPECT_EQ(x[1][1], 2.0);
  EXPECT_EQ(x[2][1], double(half));
  EXPECT_NEAR(x[0][2], std::sqrt(double(half)), 0.01);
  EXPECT_NEAR(x[0][0], -1.0, 1e-9);
  EXPECT_NEAR(x[2][0], 1.0, 1e-9);

  // 100 bins of DE over [-1, 1] %: bin 99 (de + 1)/2 + 1.5 puts -1 in bin 1,
  // 0 in bin 51 and +1 in bin 100; each as a percentage of all the rays.
  const auto d = dataLines("de.fit");
  ASSERT_EQ(d.size(), 100u) << s.text();
  for (size_t b = 0; b < d.size(); ++b) {
    double want = 0.0;
    if (b == 0 || b == 99) want = 100.0 * double(half) / double(total);
    if (b == 50) want = 100.0 * 2.0 / double(total);
    EXPECT_NEAR(d[b][1], want, 1e-4 * std::max(want, 1e-3)) << "bin " << b + 1;
  }
  EXPECT_EQ(fs::file_size("DEbig.bin"), kCaptionBytes + std::uintmax_t(total) * kRayBytes);
}

// VmData of this process (kB), the share RLIMIT_DATA bounds.
long vmDataKb() {
  std::ifstream f("/proc/self/status");
  for (std::string l; std::getline(f, l);)
    if (l.rfind("VmData:", 0) == 0) return std::atol(l.c_str() + 7);
  return -1;
}

// The session in a child held to 6 MB of data beyond what it had at the
// start: 300 000 rays are 12 MB as doubles, so a command that held the set
// would run out, while streaming needs only its buffers. The child proves
// the limit bites by failing to take the 12 MB itself afterwards.
void boundedSession() {
  identityCof("id.cof");
  if (!TK_ASAN) {
    const long kb = vmDataKb();
    if (kb <= 0) std::_Exit(3);
    const rlim_t cap = static_cast<rlim_t>(kb + 6 * 1024) * 1024;
    rlimit r{cap, cap};
    if (setrlimit(RLIMIT_DATA, &r) != 0) std::_Exit(4);
  }
  {
    Session s(
        "SYNTH/N id\n1\n300000\nS\n10 10\n\n0.2 0.2\n\n1\n\nQ\n"
        "SORT/F id\n25\n0\n\nPROFIL/X id\n50\nDIFF id\n20\n0\n\nDELTAE de\nMAXIMA/1 0\nDATA DEid\nEXIT\n");
    if (s.k.ntot != 300002) std::_Exit(5);
    if (s.has("memory") || s.has("Unable to write")) std::_Exit(6);
    long long sorted = 0;
    for (const auto& n : dataLines("id.FIT")) sorted = static_cast<long long>(n[1]);
    // The edge scan's last running sum: rays 3 on, all inside the square.
    if (sorted != 300000) std::_Exit(7);
    if (fs::file_size("DEid.bin") != kCaptionBytes + 300002u * kRayBytes) std::_Exit(8);
    if (dataLines("idx.fit").empty() || dataLines("id.fit").size() != 20u) std::_Exit(9);
  }
  if (TK_ASAN) std::_Exit(0);
  try {
    std::vector<double> all(5 * 300000, 1.0);
    if (all[12345] == 1.0) std::_Exit(10);   // the limit did not bite
  } catch (const std::bad_alloc&) {
  }
  std::_Exit(0);
}

TEST_F(LargeSet, OnePassAnalysesStreamInBoundedMemory) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(boundedSession(), ::testing::ExitedWithCode(0), "");
}

// A disk that fills in the middle of a pass (here a file-size limit of
// 4 MB, about 87 000 rays): the write fails, nothing takes the set's name
// and the current set keeps its count.
void fullDiskSession() {
  identityCof("id.cof");
  kqtest::writeSet("small.bin", {Ray{0, 0, 0, 0, 0}, Ray{0, 1e-3, 0, 1e-3, 0}, Ray{1e-6, 0, 0, 0, 0}});
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit r{4u << 20, 4u << 20};
  if (setrlimit(RLIMIT_FSIZE, &r) != 0) std::_Exit(4);
  Session s("DATA small\nSYNTH/N id\n1\n260000\nS\n10 10\n\n0.2 0.2\n\n\n\nQ\nNTOT\nEXIT\n");
  if (!s.has("Unable to write rays.") || !s.has("?KQSYNTH- No ray set written.")) std::_Exit(5);
  if (s.has("?Q")) std::_Exit(8);   // the last answer is not taken as a command
  if (fs::exists("id.bin")) std::_Exit(6);
  if (s.k.ntot != 3 || !s.has("Total number of ray vectors =       3")) std::_Exit(7);
  std::_Exit(0);
}

TEST_F(LargeSet, DiskFullInAPassLeavesNoSetAndKeepsTheCurrentOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(fullDiskSession(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
