// Bad input to KESTRIM's analyses: numbers out of range at their prompts,
// counter files that are junk or cannot be written, outputs that exist,
// are folders or devices, and files that never end a line.
#include <unistd.h>

#include "catalogue.h"
#include "kestrim/kestrim.h"

namespace catalogue {
namespace {

const File kSet{"b.bin", beamSet("Spiral", 60)};
const File kCof{"triplet.cof", example("triplet.cof")};
const std::string kMapped = "MAP/Q\nX\n2\n";   // one PostScript map of b
const std::vector<std::string> kMapFiles = {"kestrim.run", "num.ps", "plt01.ps"};

std::vector<Case> analysisCases() {
  std::vector<Case> v;
  const std::string data = "DATA b\n";
  // --- MAP and PLOT: widths, limits and counters ------------------------
  v.push_back({"MapWidthHuge", {kSet}, data + "MAP/U\nX\n1e308\nNTOT\nEXIT\n",
               {"Total number of ray vectors =      62"}, {"kestrim.run"}});
  v.push_back({"MapWidthNotANumber", {kSet}, data + "MAP/U\nX\nnan\n2\nNTOT\nEXIT\n",
               {"Total number of ray vectors =      62"}, {"kestrim.run"}});
  v.push_back({"MapWidthZero", {kSet}, data + "MAP/U\nX\n0\nEXIT\n", {}, {"kestrim.run"}});
  v.push_back({"MapRunCounterJunk", {kSet, {"kestrim.run", junk(300, 21)}}, data + kMapped + "EXIT\n",
               {" Run number   11 ......"}, kMapFiles});
  v.push_back({"MapRunCounterHuge", {kSet, {"kestrim.run", " 99999999999999999999\n"}},
               data + kMapped + "EXIT\n", {" Run number   11 ......"}, kMapFiles});
  v.push_back({"MapRunCounterNegative", {kSet, {"kestrim.run", " -7\n"}}, data + kMapped + "EXIT\n",
               {"Plot going to: plt01.ps (open, complete at CLOSE)"}, kMapFiles});
  v.push_back({"MapRunCounterIsFolder", {kSet, {"kestrim.run/x", "x"}}, data + kMapped + "EXIT\n",
               {" Run number    0 ......"}, {"num.ps", "plt01.ps"}});
  v.push_back({"MapPostscriptCounterJunk", {kSet, {"num.ps", junk(100, 22)}}, data + kMapped + "EXIT\n",
               {"Plot output file plt"}, {"kestrim.run", "num.ps", "plt11.ps", "plt01.ps"}});
  v.push_back({"MapPostscriptCounterIsFolder", {kSet, {"num.ps/x", "x"}}, data + kMapped + "EXIT\n",
               {"Plot output file plt"}, {"kestrim.run", "plt01.ps"}});
  v.push_back({"MapPostscriptOverFolder", {kSet, {"plt01.ps/x", "x"}}, data + kMapped + "NTOT\nEXIT\n",
               {"Total number of ray vectors"}, {"kestrim.run", "num.ps"}});
  {
    // The plot file a link to a full device: the write fails, nothing is
    // replaced by a regular file.
    Case c{"MapPostscriptToFullDevice", {kSet}, data + kMapped + "NTOT\nEXIT\n",
           {"Total number of ray vectors"}, {"kestrim.run", "num.ps"}};
    c.setup = [](const fs::path& d) { link(d, "plt01.ps", "/dev/full"); };
    v.push_back(c);
  }
  v.push_back({"PlotLimitsNotANumber", {kSet}, data + "PLOT/U\nY\nX\nT\nnan,nan\n\n-1e-6,1e-6\nNTOT\nEXIT\n",
               {"Total number of ray vectors =      62"}, {"kestrim.run"}});
  v.push_back({"PlotLimitsHuge", {kSet}, data + "PLOT/U\nY\nX\nT\n-1e308,1e308\n\nX\nY\nT\n\n\nNTOT\nEXIT\n",
               {" Limits beyond single precision on one axis", "Total number of ray vectors =      62"}, {"kestrim.run"}});
  v.push_back({"PlotAllRaysEqual", {{"e.bin", caption("Same") + ray(0, 0, 0, 0, 0) + ray(0, 0, 0, 0, 0) +
                                                  ray(1e-6, 0, 1e-6, 0, 0) + ray(1e-6, 0, 1e-6, 0, 0)}},
               "DATA e\nPLOT/U\nX\nY\nT\n\n\nX\nY\nT\n0,2e-6\n-1e-6,1e-6\nNTOT\nEXIT\n",
               {" Zero range on one axis", "Total number of ray vectors =       4"},
               {"kestrim.run"}});

  // --- SORT -------------------------------------------------------------
  v.push_back({"SortGridHuge", {kSet}, data + "SORT s\n1e12\n0\n0\nEXIT\n",
               {"Index too big, grid set to 90x90"}, {"s.agp"}});
  v.push_back({"SortGridNegative", {kSet}, data + "SORT s\n-5\n0\n0\nEXIT\n",
               {"Index too small, grid set to 1x1"}, {"s.agp"}});
  v.push_back({"SortGridNotANumber", {kSet}, data + "SORT s\nnan\ninf\n5\n0\n0\nEXIT\n",
               {"Using a maximum range of"}, {"s.agp"}});
  v.push_back({"SortRangeHuge", {kSet}, data + "SORT s\n5\n0\n1e308\nEXIT\n",
               {"Using a maximum range of"}, {"s.agp"}});
  v.push_back({"SortImagePlaneHuge", {kSet}, data + "SORT s\n5\n1e300\n0\nEXIT\n", {"Xmax ="}, {"s.agp"}});
  // A sort square of 1 nm at a plane 10 m away: every ray's cell index is
  // beyond any integer (found by the analysis fuzz target).
  v.push_back({"SortSquareTinyAtAFarPlane", {kSet}, data + "SORT s\n5\n1e7\n0.001\nEXIT\n",
               {"Using a maximum range of"}, {"s.agp"},
               {}, Mount::None, {}, [](const fs::path& d, const std::string&) {
                 EXPECT_EQ(slurp(d / "s.agp").find(",    1"), std::string::npos) << "a ray was counted";
               }});
  v.push_back({"SortRadialStepTiny", {kSet}, data + "SORT/C s\n0\n1e-30\nC\nEXIT\n",
               {"Radius out of range, I = 2147483647"}, {"s.fit"}});
  v.push_back({"SortPercentFileExists", {kSet, {"s.lpt", "the user's table\n"}},
               data + "SORT/P s\n5\n0\n0\nT\nEXIT\n", {"Writing a percentage file."}, {"s.agp"}});
  v.push_back({"SortEdgeFileExists", {kSet, {"s.FIT", "the user's scan\n"}}, data + "SORT/F s\n5\n0\n0\nEXIT\n",
               {"Writing an edge scan file."}, {"s.agp"}});
  v.push_back({"SortOutputIsFolder", {kSet, {"s.agp/x", "x"}}, data + "SORT s\nEXIT\n",
               {"?KQSORT - Unable to open s.agp (it is a folder)"}});
  v.push_back({"SortOutputReadOnlyFolder", {kSet, {"ro/s.agp", "old grid\n"}}, data + "SORT ro/s\nEXIT\n",
               {"?KQSORT - Unable to open ro/s.agp"}, {}, {}, Mount::ReadOnly});
  v.push_back({"SortOutputSmallFileSystemFull", {kSet}, data + "SORT full/s\n90\n0\n0\nNTOT\nEXIT\n",
               {"Total number of ray vectors"}, {"full/filler"}, {}, Mount::Tiny, fillUp});

  // --- SHADOW and FIND --------------------------------------------------
  v.push_back({"ShadowPeriodZero", {kSet}, data + "SHADOW g\n0\nH\n0\n0\n0\nY\nEXIT\n",
               {"Period     12.700     um"}, {"g.bin"}});
  v.push_back({"ShadowBarWiderThanPeriod", {kSet}, data + "SHADOW g\n0\nB\n5\n50\n0\nY\nEXIT\n",
               {"passed through the grid."}, {"g.bin"}});
  v.push_back({"ShadowRotationHuge", {kSet}, data + "SHADOW g\n0\nH\n12.7\n6.35\n1e308\nY\nEXIT\n",
               {"passed through the grid."}, {"g.bin"}});
  v.push_back({"ShadowPlaneNotANumber", {kSet}, data + "SHADOW g\nnan\n0\nH\n12.7\n6.35\n0\nY\nEXIT\n",
               {"passed through the grid."}, {"g.bin"}});
  v.push_back({"ShadowAnsweredNo", {kSet}, data + "SHADOW g\n0\nH\n12.7\n6.35\n0\nN\nEXIT\n",
               {"Proceed? > "}});
  v.push_back({"ShadowOutputIsFolder", {kSet, {"g.bin/x", "x"}}, data + "SHADOW g\nEXIT\n",
               {"?KQGRID - Unable to open g.bin"}});
  v.push_back({"FindCofMissing", {}, "FIND nothere\n\nEXIT\n", {"Unable to continue with FIND."}});
  v.push_back({"FindCofJunk", {{"j.cof", junk(2000, 23)}}, "FIND j\n\nEXIT\n", {"Unable to continue with FIND."}});
  v.push_back({"FindPeriodZero", {kCof}, "FIND triplet\nn\n0\n1 0\n0\n1\n1\nEXIT\n", {"Grid Shadow Pattern"}});
  v.push_back({"FindNumbersHuge", {kCof}, "FIND triplet\nn\n1e308\n1e308 1e308\n1e308\n1e308\n1e308\nEXIT\n",
               {"Grid Shadow Pattern"}});

  // --- TRANS, PROFIL, DIFF, DELTAE --------------------------------------
  v.push_back({"TransCofMissing", {kSet}, data + "TRANS nothere\n\nNTOT\nEXIT\n",
               {"Error getting coefficients", "Total number of ray vectors =      62"}});
  v.push_back({"TransOutputIsFolder", {kSet, kCof, {"Atriplet.bin/x", "x"}}, data + "TRANS triplet\nn\nEXIT\n",
               {"Unable to open Atriplet.bin (it is a folder)"}});
  v.push_back({"TransOutputReadOnlyFolder", {{"ro/b.bin", kSet.content}, {"ro/triplet.cof", kCof.content}},
               "DATA ro/b\nTRANS ro/triplet\nn\nEXIT\n", {"Unable to open"}, {}, {}, Mount::ReadOnly});
  v.push_back({"ProfilChannelsHuge", {kSet}, data + "PROFIL\nX\n1e12\nEXIT\n", {"999"}, {"bx.fit"}});
  v.push_back({"ProfilChannelsNotANumber", {kSet}, data + "PROFIL\nX\nnan\n20\nEXIT\n", {}, {"bx.fit"}});
  v.push_back({"ProfilOutputIsFolder", {kSet, {"px.fit/x", "x"}}, data + "PROFIL/X p\n20\nEXIT\n",
               {"?KQPROFILE - Unable to open px.fit"}});
  v.push_back({"DiffAnnuliHuge", {kSet}, data + "DIFF d\n1e12\n0\n3\nEXIT\n", {}, {"d.fit"}});
  v.push_back({"DiffRadiusNotANumber", {kSet}, data + "DIFF d\n10\nnan\n0\n3\nEXIT\n", {}, {"d.fit"}});
  v.push_back({"DiffOutputToFullDevice", {kSet}, data + "DIFF d\n10\n0\n3\nNTOT\nEXIT\n",
               {"Total number of ray vectors"}, {}, {}, Mount::None,
               [](const fs::path& d) { link(d, "d.fit", "/dev/full"); }});
  v.push_back({"DeltaeOutputIsFolder", {kSet, {"e.fit/x", "x"}}, data + "DELTAE e\nEXIT\n",
               {"?KQDELTAE - Unable to open e.fit"}});
  v.push_back({"DeltaeOutputSmallFileSystemFull", {kSet}, data + "DELTAE full/e\nNTOT\nEXIT\n",
               {"Total number of ray vectors"}, {"full/filler", "DEb.bin"}, {}, Mount::Tiny, fillUp});

  // --- files that never end a line ----------------------------------------
  {
    Case c{"ListSparseFile", {}, "LIST huge.dat\nNTOT\nEXIT\n",
           {"?LIST- Listing stopped: huge.dat has a line without end", "Total number of ray vectors"}};
    c.setup = [](const fs::path& d) { sparse(d / "huge.dat", 24 << 20); };
    v.push_back(c);
  }
  {
    Case c{"DumpSparseFile", {}, "DUMP huge.txt\nNTOT\nEXIT\n",
           {"?KQDUMP- The first line of huge.txt is too long or cannot be read"}};
    c.setup = [](const fs::path& d) { sparse(d / "huge.txt", 24 << 20); };
    v.push_back(c);
  }
  {
    Case c{"DumpRaysThenSparseTail", {}, "DUMP t\nNTOT\nEXIT\n",
           {"%KQDUMP- Reading stopped at a line of t.txt", "     6 rays in data file."}, {"t.bin"}};
    c.setup = [](const fs::path& d) {
      spit(d / "t.txt", example("beam.txt"));
      ASSERT_EQ(::truncate((d / "t.txt").c_str(), static_cast<off_t>(fs::file_size(d / "t.txt")) + (24 << 20)), 0);
    };
    v.push_back(c);
  }
  // A terminal that sends bytes without ever ending a line (a device or
  // binary file as input) ends the session instead of being read forever.
  v.push_back({"TerminalWithoutLineEnd", {}, std::string((16 << 20) + 100, 'x'), {"KESTRIM - High Resolution"}});
  return v;
}

class KestrimAnalysisBadInput : public ::testing::TestWithParam<Case> {};

TEST_P(KestrimAnalysisBadInput, SaysSoAndKeepsEveryFile) {
  runCase(GetParam(), [](std::istream& in, std::ostream& out) { return kestrim::run(in, out); });
}

INSTANTIATE_TEST_SUITE_P(Catalogue, KestrimAnalysisBadInput, ::testing::ValuesIn(analysisCases()), CaseName());

}  // namespace
}  // namespace catalogue
