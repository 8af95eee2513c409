// SYNTH maps its rays in blocks on every core and writes each block at
// once; the analyses read ray sets in blocks. Neither may change a bit:
// SYNTH's set must equal its object rays mapped one by one (TRANS, which
// runs coftran ray by ray) on any number of threads, and a set with odd
// records must read as the record-by-record reader reads it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "session.h"
#include "workdir.h"

namespace {

namespace fs = std::filesystem;

class SynthBlocks : public kqtest::WorkDir {};

// The geometry, caption and energy of a coefficient file; the polynomial
// follows.
const char* kHead = " Block test\n5e-6,0,5e-6,0\n1.5e-4,0,1.5e-4,0\n 6.5\n C\n0.1\n7.36\n";

// Every term of the polynomial non-zero: first, second, third and fifth
// order and the chromatic terms.
const char* kFullBody =
    "-0.05,-7e-6,1e-3,2e-3\n-3.6,-20,1e-3,4e-3\n4e-4,1e-3,-0.0625,3e-5\n1e-3,5e-3,-2.9,-16\n"
    "0.1,0.6,2e-6,8e-6,1.0,6e-6,2e-5,-0.9,-5.5,-8.5\n"
    "0.2,1.1,6e-6,2e-5,1.7,1.6e-5,5e-5,-1.9,-11.6,-17.9\n"
    "1e-5,9e-5,-1.1,-3.4,1e-4,-3.6,-11.2,2e-5,1e-4,2e-4\n"
    "5e-5,3e-4,-3.7,-11.4,5e-4,-12,-37,7e-5,4e-4,6e-4\n"
    "-2.1e5,-6.5e5,1.2e3,-8.4e2,3.1e4,-15.5,2.2e2,-73,0.35,-0.12,5e3,4e4\n"
    "-3.4e5,-5.8e5,2.6e3,9.1e2,2.7e4,-22.1,1.9e2,-56,0.41,0.17,3e3,2e4\n"
    "1e9,2e9,3e9,4e9,5e9,6e9\n7e9,8e9,9e9,1e10,2e9,3e9\n-0.52,1.8\n2e-3,-1.5e-3\n";

// The identity: the rays written are the object rays made.
const char* kIdentityBody =
    "1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\n40*0\n0 11*0\n0 11*0\n12*0\n0 0 0 0\n";

std::string slurp(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// A whole session at a fixed time of day, so that the random draws (which
// SYNTH seeds from the clock) are the same in every session.
std::string session(const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out;
  kestrim::Kestrim k(in, out);
  k.gx.clock = [] { return std::string("10:20:30"); };
  kestrim::kqsession(k);
  return out.str();
}

// The ray records of a set, its caption left out; nothing unless every
// record is a whole ray record (two markers of 40).
std::string records(const std::string& name) {
  const std::string all = slurp(name);
  if (all.size() < 108 || (all.size() - 108) % 48 != 0) return {};
  for (size_t at = 108; at < all.size(); at += 48) {
    std::uint32_t lead, trail;
    std::memcpy(&lead, &all[at], 4);
    std::memcpy(&trail, &all[at + 44], 4);
    if (lead != 40 || trail != 40) return {};
  }
  return all.substr(108);
}

struct Mode {
  const char* name;
  const char* answers;   // the dialogue after the mode's number, up to the last question
  long long rays;        // rays written, the paraxial pair included
};

// Random with offsets, energy spread and flux peaking; regular; divergence
// specified. Each crosses SYNTH's blocks of 32 768 rays at least once.
const Mode kModes[] = {
    {"random", "1\n70000\nC\n10 10\n2 1\n0.2 0.2\n0.01 0\n0.5\n0.5 1\nQ\n", 70002},
    {"regular", "2\n\n30,2500\nS\n10,10\n\n0.2,0.2\n\n0.5\n\nQ\n", 0},
    {"divergence", "3\n\n30,4000\nC\n1,1\n0.2,0.2\n\n0.3\n\nQ\n", 0},
};

// The object rays of a set mapped one by one through coftran, packed as
// a ray set's records.
std::string mappedByRay(const std::string& objects, const std::string& cof) {
  std::istringstream none;
  std::ostringstream sink;
  kestrim::Kestrim k(none, sink);
  std::string name = cof;
  if (kestrim::cofin(k, name) != 0) return {};
  std::string r = records(objects);
  for (size_t at = 0; at + 48 <= r.size(); at += 48) {
    double v[5], o[4];
    std::memcpy(v, &r[at + 4], 40);
    kestrim::coftran(k, v[0], v[1], v[2], v[3], v[4], o[0], o[1], o[2], o[3]);
    std::memcpy(&r[at + 4], o, 32);
  }
  return r;
}

TEST_F(SynthBlocks, EveryModeWritesTheRayByRayMapOnAnyThreadCount) {
  std::ofstream("full.cof") << kHead << kFullBody;
  std::ofstream("obj.cof") << kHead << kIdentityBody;
  for (const Mode& m : kModes) {
    SCOPED_TRACE(m.name);
    // The object rays, mapped one by one. The solenoid map of the identity
    // writes them as made, and by its own ray-by-ray path.
    const std::string made = session(std::string("SYNTH/N S obj\n") + m.answers + "EXIT\n");
    ASSERT_NE(made.find("rays generated total."), std::string::npos) << made.substr(0, 4000);
    const std::string byRay = mappedByRay("obj.bin", "full.cof");
    ASSERT_GT(byRay.size(), 65536u * 48u) << "too few rays to cross two blocks";
    if (m.rays > 0) {
      EXPECT_EQ(byRay.size(), static_cast<size_t>(m.rays) * 48u);
    }

    // SYNTH's own blocks, on two threads and on one.
    for (const char* threads : {"2", "1"}) {
      SCOPED_TRACE(threads);
      ASSERT_EQ(::setenv("KESTRIM_THREADS", threads, 1), 0);
      fs::remove("full.bin");
      const std::string out = session(std::string("SYNTH/N full\n") + m.answers + "EXIT\n");
      ::unsetenv("KESTRIM_THREADS");
      const std::string blocks = records("full.bin");
      ASSERT_EQ(blocks.size(), byRay.size());
      EXPECT_TRUE(blocks == byRay) << "first difference at byte "
                                   << std::mismatch(blocks.begin(), blocks.end(), byRay.begin()).first -
                                          blocks.begin();
      // A progress line at every 500th ray in regular mode, every 1000th
      // otherwise, counting the paraxial pair: none lost or doubled at the
      // blocks' edges.
      const long long n = static_cast<long long>(blocks.size() / 48);
      const long long every = std::string(m.name) == "regular" ? 500 : 1000;
      size_t lines = 0;
      for (size_t p = out.find(" rays generated\n"); p != std::string::npos;
           p = out.find(" rays generated\n", p + 1))
        ++lines;
      EXPECT_EQ(static_cast<long long>(lines), n / every);
      EXPECT_NE(out.find(std::to_string(n / every * every) + " rays generated\n"), std::string::npos);
    }
  }
}

// Writes a ray set whose ray i holds (i, -i/10, 2i, 1000/i, 0) nm or nrad,
// well inside the aperture; ray odd (if any) in a longer record of 48
// bytes, the extra 8 bytes a 7.
double rayValue(int i, int c) {
  const double v[4] = {1e-9 * i, -1e-10 * i, 2e-9 * i, 1e-6 / i};
  return v[c];
}

void oddSet(const std::string& name, int n, int odd) {
  std::ofstream f(name, std::ios::binary);
  auto marker = [&](std::uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
  marker(100);
  f << std::string(100, ' ');
  marker(100);
  for (int i = 1; i <= n; ++i) {
    const double v[6] = {rayValue(i, 0), rayValue(i, 1), rayValue(i, 2), rayValue(i, 3), 0.0, 7.0};
    const std::uint32_t len = i == odd ? 48 : 40;
    marker(len);
    f.write(reinterpret_cast<const char*>(v), len);
    marker(len);
  }
}

TEST_F(SynthBlocks, SetsWithALongerRecordReadAsRecordByRecord) {
  // A longer record is a ray whose first five values count. The sets are
  // read through windows of 21 845 records, the next read in on a second
  // thread: the record falls inside the first window, at its last ray
  // (21 846: ray 1 is read before the window opens), at the next window's
  // first, and deep in the second; on two threads and on one.
  std::ofstream("id.cof") << kHead << kIdentityBody;
  constexpr int n = 50000;
  for (const char* threads : {"2", "1"}) {
    ASSERT_EQ(::setenv("KESTRIM_THREADS", threads, 1), 0);
    for (int odd : {5000, 21846, 21847, 43691}) {
      SCOPED_TRACE(std::string(threads) + " threads, longer record at " + std::to_string(odd));
      fs::remove("Aid.bin");
      oddSet("odd.bin", n, odd);
      const std::string out = session("DATA odd\nTRANS id\nN\nEXIT\n");
      EXPECT_NE(out.find(std::to_string(n) + " rays in file."), std::string::npos) << out.substr(0, 2000);
      const std::string r = records("Aid.bin");
      ASSERT_EQ(r.size(), size_t{n} * 48u);
      for (int i = 1; i <= n; ++i) {
        double v[5];
        std::memcpy(v, &r[48 * (i - 1) + 4], 40);
        for (int c = 0; c < 4; ++c) ASSERT_EQ(v[c], rayValue(i, c)) << "ray " << i;
      }
    }
    ::unsetenv("KESTRIM_THREADS");
  }
}

TEST_F(SynthBlocks, CountingStopsAtTheDamageWhereverItFalls) {
  // A record shorter than a ray ends the count at the ray before it, and a
  // cut tail at the last whole ray, inside or at the edge of the megabyte
  // the count reads at a time (21 845 records).
  for (int n : {21845, 21846, 30000}) {
    SCOPED_TRACE(n);
    oddSet("cut.bin", n, 0);
    fs::resize_file("cut.bin", fs::file_size("cut.bin") - 20);
    const std::string out = session("DATA cut\nEXIT\n");
    EXPECT_NE(out.find(std::to_string(n - 1) + " rays in file."), std::string::npos) << out;
    EXPECT_NE(out.find("Damaged or truncated record after ray " + std::to_string(n - 1)),
              std::string::npos);
  }
  oddSet("short.bin", 30000, 0);
  {
    // Ray 25 000's leading marker says 32 bytes.
    std::fstream f("short.bin", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(108 + 48 * 24999);
    const std::uint32_t len = 32;
    f.write(reinterpret_cast<const char*>(&len), 4);
  }
  const std::string out = session("DATA short\nEXIT\n");
  EXPECT_NE(out.find("24999 rays in file."), std::string::npos) << out;
}

}  // namespace

namespace {

TEST_F(SynthBlocks, NtotCountsEveryPassAndWhatAnAppendKept) {
  // Random passes of 1000 and 500 rays, each with its paraxial pair, then
  // an appended pass of 300: 1002 + 502, then 300 + 2 more.
  std::ofstream("full.cof") << kHead << kFullBody;
  const std::string pass = "C\n10 10\n\n0.2 0.2\n\n\n\n";
  const std::string out = session("SYNTH/N full\n1\n1000\n" + pass + "R\n1\n500\n" + pass +
                                  "Q\nNTOT\nSYNTH/A full\nfull\nN\n1\n300\n" + pass + "Q\nNTOT\nEXIT\n");
  EXPECT_NE(out.find("Finding number of rays....  1504 rays in file."), std::string::npos) << out;
  EXPECT_NE(out.find("Total number of ray vectors =    1504"), std::string::npos);
  EXPECT_NE(out.find("Appending after the 1504 rays the file holds."), std::string::npos);
  EXPECT_NE(out.find("Total number of ray vectors =    1806"), std::string::npos);
  EXPECT_EQ(fs::file_size("full.bin"), 108u + 1806u * 48u);
}

}  // namespace

namespace {

// The lines of a session's output that start with text.
std::string linesStarting(const std::string& out, const std::string& text) {
  std::istringstream in(out);
  std::string line, got;
  while (std::getline(in, line))
    if (line.rfind(text, 0) == 0) got += line + "\n";
  return got;
}

TEST_F(SynthBlocks, SortAfterSynthFindsTheExtentCountingFindsAndReadsOnce) {
  // Two random passes through the full polynomial, the first across two
  // blocks; the second pass's paraxial pair lies among the rest of the
  // file's rays. SORT at the end of the system right after SYNTH must show
  // what it shows after DATA has counted the set in a new session, and
  // read the set once.
  std::ofstream("full.cof") << kHead << kFullBody;
  const std::string pass = "C\n10 10\n\n0.2 0.2\n\n\n\n";
  std::istringstream in("SYNTH/N full\n1\n40000\n" + pass + "R\n1\n500\n" + pass + "Q\nSORT\n5\n0\n\nEXIT\n");
  std::ostringstream out;
  long long reads = 0, ntot = 0;
  {
    kestrim::Kestrim k(in, out);
    k.gx.clock = [] { return std::string("10:20:30"); };
    kestrim::kqsession(k);
    reads = k.rays.reads;
    ntot = k.ntot;
  }
  ASSERT_EQ(ntot, 40504);
  const std::string afterSynth = slurp("full.agp");
  const std::string counted = session("DATA full\nSORT\n5\n0\n\nEXIT\n");
  for (const char* line : {" Xmax =", " Ymax =", "Range =", " Rmin"}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(linesStarting(counted, line).empty()) << counted.substr(0, 3000);
    EXPECT_EQ(linesStarting(out.str(), line), linesStarting(counted, line));
  }
  EXPECT_EQ(slurp("full.agp"), afterSynth);
  EXPECT_LE(reads, ntot + 4);
}

}  // namespace
