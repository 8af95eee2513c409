// Bad input to TAVO: broken system files, names that cannot be written,
// answers of letters and end of input at the prompts, runaway macros.
#include <sys/stat.h>
#include <unistd.h>

#include "catalogue.h"
#include "tavo/commands.h"

namespace catalogue {
namespace {

// The triplet with line n replaced (1 = title).
std::string tripletWith(int n, const std::string& text) {
  std::istringstream in(example("triplet.tav"));
  std::string out, line;
  for (int k = 1; std::getline(in, line); ++k) out += (k == n ? text : line) + "\n";
  return out;
}

// The first `lines` lines of the triplet.
std::string tripletHead(int lines) {
  std::istringstream in(example("triplet.tav"));
  std::string out, line;
  for (int k = 1; k <= lines && std::getline(in, line); ++k) out += line + "\n";
  return out;
}

const File kTriplet{"triplet.tav", example("triplet.tav")};
const File kCof{"triplet.cof", example("triplet.cof")};

bool noTemporaries(const fs::path& dir) {
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.path().filename().string().find(".tmp") != std::string::npos) return false;
  return true;
}

std::vector<Case> tavoCases() {
  std::vector<Case> v;
  // --- system files that cannot be read -------------------------------
  v.push_back({"DataMissing", {kTriplet}, "DATA nothere\nEXIT\n", {" nothere.tav does not exist."}});
  v.push_back({"DataMissingWithExtension", {kTriplet}, "DATA nothere.dat\nEXIT\n",
               {" nothere.dat does not exist."}});
  v.push_back({"DataFolder", {kTriplet, {"sub.tav/x", "x"}}, "DATA sub\nEXIT\n",
               {" sub.tav does not exist."}});
  v.push_back({"DataMissingFolder", {kTriplet}, "DATA nodir/sys\nEXIT\n",
               {" nodir/sys.tav does not exist."}});
  v.push_back({"DataNameWithBlank", {kTriplet}, "DATA my sys\nEXIT\n", {"does not exist."}});
  v.push_back({"DataEmptyFile", {{"e.tav", ""}}, "DATA e\n", {"?MAIN- Severe error in data file"}});
  v.push_back({"DataTitleOnly", {{"t.tav", " Title only\n"}}, "DATA t\n",
               {"?MAIN- Severe error in data file"}});
  for (int n : {2, 3, 5, 9}) {
    v.push_back({"DataTruncatedAfter" + std::to_string(n) + "Lines", {{"cut.tav", tripletHead(n)}},
                 "DATA cut\n", {"?MAIN- Severe error in data file"}});
  }
  v.push_back({"DataCutMidLine", {{"cut.tav", tripletHead(5) + "  4.02   ,    0.06"}}, "DATA cut\n",
               {"?MAIN- Severe error in data file"}});
  v.push_back({"DataBinaryJunk", {{"junk.tav", junk(4000, 7)}}, "DATA junk\n", {"?MAIN-"}});
  v.push_back({"DataSentinelFirst", {{"s.tav", " SENTINEL\n"}}, "DATA s\n", {"Title:  SENTINEL"}});
  v.push_back({"DataBeamFirst", {{"b.tav", tripletWith(2, "  1.00, 1e-5, 2e-4, 1e-5, 2e-4, 0.01")}},
               "DATA b\n", {"?MAIN- First elements must be particle (0.0) and beam (1.0)"}});
  v.push_back({"DataLettersInNumber", {{"l.tav", tripletWith(5, "  4.10 , 0.06, abc, 0.006")}},
               "DATA l\n", {"?MAIN- Severe error in data file"}});
  v.push_back({"DataNumberOutOfRange", {{"r.tav", tripletWith(5, "  4.10 , 0.06, 1e999, 0.006")}},
               "DATA r\n", {"?MAIN- Severe error in data file"}});
  {
    std::string rows = tripletHead(3);
    for (int k = 0; k < 45; ++k) rows += "  3.00 , 0.1, 0, 0\n";
    v.push_back({"DataMoreThanFortyRows", {{"long.tav", rows + " SENTINEL\n"}}, "DATA long\n",
                 {"?MAIN- Severe error in data file"}});
  }
  v.push_back({"DataEndlessLine", {{"w.tav", tripletWith(5, std::string(200000, '7'))}}, "DATA w\n",
               {"?MAIN- Severe error in data file"}});
  v.push_back({"DataTitleWithEscapes", {{"esc.tav", tripletWith(1, " bad\x1b[2Jtitle\x07")}},
               "DATA esc\nEXIT\n", {"Title:  bad?[2Jtitle?"}, {}, {"\x1b[2J"}});
  v.push_back({"DataPipe", {kTriplet}, "DATA p\nEXIT\n", {" p.tav does not exist."}, {}, {}, Mount::None,
               [](const fs::path& d) { fifo(d, "p.tav"); }});
  v.push_back({"DataEndAtNamePrompt", {kTriplet}, "DATA\n", {"Filename for input > "}});
  v.push_back({"DataBlankNameFirst", {kTriplet}, "DATA\n\nEXIT\n", {"Filename for input > "}});

  // --- SAVE where it cannot be written ---------------------------------
  v.push_back({"SaveMissingFolder", {kTriplet}, "DATA triplet\nSAVE nodir/x.tav\nEXIT\n",
               {"Unable to open nodir/x.tav (no temporary file can be made in nodir"}});
  v.push_back({"SaveIntoAFile", {kTriplet}, "DATA triplet\nSAVE triplet.tav/x\nEXIT\n",
               {"Unable to open triplet.tav/x ("}});
  v.push_back({"SaveOverFolder", {kTriplet, {"sub.tav/x", "x"}}, "DATA triplet\nSAVE sub.tav\nEXIT\n",
               {"Unable to open sub.tav (it is a folder)"}});
  v.push_back({"SaveFullDisk", {kTriplet}, "DATA triplet\nSAVE disk.tav\nEXIT\n",
               {"?SAVE- Unable to write disk.tav; the old file is unchanged."}, {}, {}, Mount::None,
               [](const fs::path& d) { link(d, "disk.tav", "/dev/full"); }});
  v.push_back({"SaveSmallFileSystemFull", {kTriplet, {"full/old.tav", example("doublet.tav")}},
               "DATA triplet\nSAVE full/old.tav\nSAVE full/new.tav\nEXIT\n",
               {"Unable to write full/old.tav; the old file is unchanged.",
                "full/new.tav"},
               {"full/filler"}, {"Data saved in file: full/old.tav"}, Mount::Tiny, fillUp});
  v.push_back({"SaveReadOnlyFolderNew", {kTriplet, {"ro/keep", "k"}}, "DATA triplet\nSAVE ro/x.tav\nEXIT\n",
               {"Unable to open ro/x.tav (no temporary file can be made in ro"}, {}, {}, Mount::ReadOnly});
  v.push_back({"SaveReadOnlyFolderWritableFile", {kTriplet, {"ro/sys.tav", example("doublet.tav")}},
               "DATA triplet\nSAVE ro/sys.tav\nEXIT\n",
               {"Unable to open ro/sys.tav (no temporary file can be made in ro"}, {}, {}, Mount::ReadOnly});
  v.push_back({"SavePipeWithoutReader", {kTriplet}, "DATA triplet\nSAVE p.tav\nEXIT\n",
               {"Unable to open p.tav (no program reads the pipe)"}, {}, {}, Mount::None,
               [](const fs::path& d) { fifo(d, "p.tav"); }});
  v.push_back({"SaveToNullDevice", {kTriplet}, "DATA triplet\nSAVE null.tav\nEXIT\n",
               {"Data saved in file: null.tav"}, {}, {}, Mount::None,
               [](const fs::path& d) { link(d, "null.tav", "/dev/null"); }});
  v.push_back({"SaveEndAtNamePrompt", {kTriplet}, "DATA triplet\nSAVE\n",
               {"Filename for output (CR for triplet) > "}});
  v.push_back({"SaveNothingLoaded", {kTriplet}, "SAVE x\nEXIT\n", {"No lens system to save."}});

  // --- COFOUT -----------------------------------------------------------
  v.push_back({"CofoutNameExistsThenEnd", {kTriplet, kCof}, "DATA triplet\nCOFOUT triplet\n",
               {" triplet.cof already exists.", "Filename for output > "}});
  v.push_back({"CofoutNameExistsInMacro", {kTriplet, kCof, {"m.tcm", "COFOUT triplet\nC\nSAVE after\n"}},
               "DATA triplet\n@m\nEXIT\n",
               {" triplet.cof already exists.",
                "?TAVO- Line 1 of m.tcm: the command failed; the macro is left."},
               {}, {"Data saved in file: after.tav", "tav>_C\n"}});
  v.push_back({"CofoutNameWithBlanks", {kTriplet}, "DATA triplet\nCOFOUT\nmy file\n\nEXIT\n",
               {"?COFOUT- File name must not contain blanks."}});
  v.push_back({"CofoutNameTooLong", {kTriplet}, "DATA triplet\nCOFOUT\nabcdefghijklmnop\n\nEXIT\n",
               {"?COFOUT- File name longer than"}});
  v.push_back({"CofoutBlankName", {kTriplet}, "DATA triplet\nCOFOUT\n\nEXIT\n", {"Filename for output > "}});
  v.push_back({"CofoutEndAtShapePrompt", {kTriplet}, "DATA triplet\nCOFOUT new\n",
               {"Square or Circular aperture collimator? > "}});
  v.push_back({"CofoutMissingFolder", {kTriplet}, "DATA triplet\nCOFOUT nodir/x.cof\n\nEXIT\n",
               {"?COFOUT- Unable to open nodir/x.cof (no temporary file can be made in nodir"}});
  v.push_back({"CofoutFullDisk", {kTriplet}, "DATA triplet\nCOFOUT disk.cof\n\nEXIT\n",
               {"?COFOUT- Unable to open disk.cof (it is a device or pipe, not a new file)"}, {}, {},
               Mount::None, [](const fs::path& d) { link(d, "disk.cof", "/dev/full"); }});
  v.push_back({"CofoutSmallFileSystemFull", {kTriplet}, "DATA triplet\nCOFOUT full/x.cof\n\nEXIT\n",
               {"?COFOUT- Unable to write full/x.cof"}, {"full/filler"}, {}, Mount::Tiny, fillUp});
  v.push_back({"CofoutReadOnlyFolder", {kTriplet, {"ro/keep", "k"}}, "DATA triplet\nCOFOUT ro/x.cof\n\nEXIT\n",
               {"?COFOUT- Unable to open ro/x.cof (no temporary file can be made in ro"}, {}, {},
               Mount::ReadOnly});
  v.push_back({"CofoutZeroBoreRadius",
               {{"nobore.tav", tripletWith(7, "  4.02   ,    0.060000,   -0.226126,    0.000000")}},
               "DATA nobore\nCOFOUT nobore\nC\nEXIT\n",
               {"?COFOUT- Coefficients that are not finite numbers: nobore.cof not written.",
                " Element  6 (Quadrupole) has a zero bore radius."}});
  {
    // Another program creates the name while COFOUT asks its question:
    // the file is created exclusively at the end, never renamed over it.
    Case c{"CofoutNameTakenMeanwhile", {kTriplet}, "DATA triplet\nCOFOUT race\nC\nEXIT\n",
           {"race.cof"}, {"race.cof"}};
    c.at = "C\nEXIT";
    c.midway = [](const fs::path& d) {
      EXPECT_TRUE(noTemporaries(d));  // nothing named while the file is being made
      spit(d / "race.cof", "theirs\n");
    };
    c.check = [](const fs::path& d, const std::string&) { EXPECT_EQ(slurp(d / "race.cof"), "theirs\n"); };
    v.push_back(c);
  }
  {
    // While COFOUT waits at its question nothing is named in the folder, so
    // an interrupted run leaves no temporary behind.
    Case c{"CofoutNothingNamedWhileAsking", {kTriplet}, "DATA triplet\nCOFOUT ok\nS\nEXIT\n",
           {" Square aperture collimators."}, {"ok.cof"}};
    c.at = "S\nEXIT";
    c.midway = [](const fs::path& d) {
      EXPECT_TRUE(noTemporaries(d));
      EXPECT_FALSE(fs::exists(d / "ok.cof"));
    };
    c.check = [](const fs::path& d, const std::string&) { EXPECT_TRUE(fs::exists(d / "ok.cof")); };
    v.push_back(c);
  }

  // --- prompts answered with letters, or not at all ---------------------
  v.push_back({"DiagLettersThenEnd", {kTriplet}, "DATA triplet\nDIAG\nabc\n", {"Current diagnostic is"}});
  v.push_back({"DiagOutOfRange", {kTriplet}, "DATA triplet\nDIAG 1e300\nDIAG -1\nEXIT\n",
               {"Diagnostic set to ***", "Diagnostic set to  -1"}});
  v.push_back({"ParameterLettersThenEnd", {kTriplet}, "DATA triplet\nP\nabc\n",
               {"Lenses with coupling code  1 have fields"}});
  v.push_back({"ParameterNoSystem", {}, "P\nEXIT\n", {"No variable first order elements."}});
  v.push_back({"ExitLevelLetters", {kTriplet}, "DATA triplet\nEXIT 10\nx\n", {"IDIAG for final run  > "}});
  v.push_back({"CaptionEnd", {kTriplet}, "DATA triplet\nCAP\n", {"New> "}});
  v.push_back({"ElementEnd", {kTriplet}, "DATA triplet\nELEMEN 4\n", {"New data? > "}});
  v.push_back({"ElementLettersThenEnd", {kTriplet}, "DATA triplet\nELEMEN 4\nabc\nxyz\n", {"New data? > "}});
  v.push_back({"ElementOutOfTable", {kTriplet}, "DATA triplet\nELEMEN 99\nEXIT\n", {"?TAVO -  99 is not a valid element number, max = 10"}});
  v.push_back({"InsertOutOfTable", {kTriplet}, "DATA triplet\nINSERT 99\nEXIT\n", {"Last element is number"}});
  v.push_back({"RemoveOutOfTable", {kTriplet}, "DATA triplet\nREMOVE 99\nEXIT\n", {"Last element is number"}});
  v.push_back({"RemoveParticle", {kTriplet}, "DATA triplet\nREMOVE 1\nEXIT\n",
               {"Cannot remove beam or particle element."}});
  v.push_back({"EditNothingLoaded", {}, "ELEMEN 3\nEXIT\n", {"No lens system loaded: type DATA first."}});
  v.push_back({"CramLettersThenEnd", {kTriplet}, "DATA triplet\nCRAM S\nabc\n", {"(X/TH3)   = "}});
  v.push_back({"AgpLettersThenEnd", {kTriplet}, "DATA triplet\nAGP\nabc\n", {"Construct an AGP file"}});
  v.push_back({"MacroNameEnd", {kTriplet}, "@\n", {"Macro file name > "}});
  v.push_back({"StigEnd", {kTriplet}, "DATA triplet\nSTIG\n", {"After minimisation  (X/TH) ="}});
  v.push_back({"PtfLettersThenEnd", {kTriplet}, "DATA triplet\nPTF\nabc\n", {"Magn Quadrupole 1 field =     0.12990 Tesla > "}});
  v.push_back({"ChromEnd", {kTriplet}, "DATA triplet\nCHROM\n", {"Units: micron/milliradian/% momentum error"}});
  v.push_back({"ExciteEnd", {kTriplet}, "DATA triplet\nEXCITE\n", {"Units: micron/milliradian/%power supply error"}});
  v.push_back({"VectorEnd", {kTriplet}, "DATA triplet\nVECTOR\n", {}});
  v.push_back({"TraceEnd", {kTriplet}, "DATA triplet\nTRACE\n", {}, {"trace.dat"}});
  v.push_back({"MaskEnd", {kTriplet}, "DATA triplet\nMASK\n", {"Enter the variable mask"}});
  v.push_back({"SpecEnd", {kTriplet}, "DATA triplet\nSPEC\n", {"Filename for output > "}});
  v.push_back({"EndAtFirstPrompt", {}, "", {"Type DATA to load a filename to start...."}});
  v.push_back({"UnknownWord", {}, "XYZ\nEXIT\n", {"?XYZ"}});
  v.push_back({"EndlessCommandLine", {kTriplet}, std::string(300000, 'Q') + "\nEXIT\n", {"?QQQQ"}});
  v.push_back({"BinaryCommandLines", {kTriplet}, junk(3000, 11) + "\nEXIT\n", {}});

  // --- trace.dat and the listing where they cannot be written -----------
  v.push_back({"SpecMissingFolder", {kTriplet}, "DATA triplet\nSPEC nodir/a.dat\n\nEXIT\n",
               {"Unable to open nodir/a.dat (no temporary file can be made in nodir"}});
  v.push_back({"SpecNameExists", {kTriplet}, "DATA triplet\nSPEC triplet.tav\n\nEXIT\n",
               {"Unable to open triplet.tav (it exists)"}});
  v.push_back({"SpecFullDisk", {kTriplet}, "DATA triplet\nSPEC disk.dat\n\nEXIT\n",
               {"Unable to open disk.dat (it is a device or pipe, not a new file)"}, {}, {}, Mount::None,
               [](const fs::path& d) { link(d, "disk.dat", "/dev/full"); }});
  v.push_back({"SpecNameExistsInMacro", {kTriplet, {"m.tcm", "SPEC triplet.tav\nSAVE after\n"}},
               "DATA triplet\n@m\nEXIT\n",
               {"Unable to open triplet.tav (it exists)",
                "?TAVO- Line 1 of m.tcm: the command failed; the macro is left."},
               {}, {"Data saved in file: after.tav"}});
  v.push_back({"TraceFileIsFolder", {kTriplet, {"trace.dat/x", "x"}},
               "DATA triplet\nTRACE/E S\nTRACE\n\n\n\n\n\n\nEXIT\n",
               {"Unable to open trace.dat; the trajectories are not saved."}});
  v.push_back({"ListingKeptWhenPresent", {kTriplet, {"triplet.lpt", "earlier listing\n"}},
               "DATA triplet\nEXIT 1\n", {"triplet.lpt"}});
  v.push_back({"ListingReadOnlyFolder", {{"ro/triplet.tav", example("triplet.tav")}}, "DATA ro/triplet\nEXIT 1\n",
               {"Unable to open ro/triplet.lpt"}, {}, {}, Mount::ReadOnly});

  // --- macros and help files --------------------------------------------
  v.push_back({"MacroMissing", {}, "@nothere\nEXIT\n", {"Unable to open nothere.tcm"}});
  v.push_back({"MacroBinaryJunk", {{"junk.tcm", junk(2000, 3)}}, "@junk\nEXIT\n", {}});
  v.push_back({"MacroEchoWithEscapes", {{"e.tcm", "XYZ\x1b[2J\n"}}, "@e\nEXIT\n", {"XYZ?[2J"}, {}, {"\x1b"}});
  v.push_back({"MacroCallsItself", {{"m.tcm", "@m\n"}}, "@m\nEXIT\n", {"?TAVO- Macros nested deeper than"}});
  v.push_back({"MacroCallsItselfTwice", {{"m.tcm", "@m\n@m\n"}}, "@m\nEXIT\n",
               {"?TAVO- Macros nested deeper than 64 levels; not opened: m.tcm",
                "?TAVO- Line 1 of m.tcm: the command failed; the macro is left."},
               {}, {"More than 100000 macro calls"}});
  v.push_back({"MacroEndsAtPrompt", {kTriplet, {"m.tcm", "DATA triplet\nDIAG\n"}}, "@m\nEXIT\n",
               {"Current diagnostic is"}});
  v.push_back({"LoginMacroJunk", {{"login.tcm", junk(500, 5)}}, "EXIT\n", {}});
  v.push_back({"HelpFileJunk", {{"tavo.hlp", junk(3000, 9)}}, "HELP\nHELP DATA\nEXIT\n", {}, {}, {"\x1b"}});
  v.push_back({"HelpFileWithEscapes", {{"tavo.hlp", "#HELP\nPress \x1b[31mred\x1b[0m\n"}}, "HELP\n\nEXIT\n",
               {"Press ?[31mred?[0m"}, {}, {"\x1b"}});
  v.push_back({"HelpPathMissing", {}, "HELP/S /nonexistent/x.hlp\nHELP\nEXIT\n", {"does not exist."}});
  v.push_back({"TerminalWithoutLineEnd", {}, std::string((16 << 20) + 100, '\0'), {}});
  return v;
}

class TavoBadInput : public ::testing::TestWithParam<Case> {};

TEST_P(TavoBadInput, SaysSoAndKeepsEveryFile) {
  runCase(GetParam(), [](std::istream& in, std::ostream& out) { return tavo::run(in, out); });
}

INSTANTIATE_TEST_SUITE_P(Catalogue, TavoBadInput, ::testing::ValuesIn(tavoCases()), CaseName());

}  // namespace
}  // namespace catalogue
