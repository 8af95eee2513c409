// Bad input to KESTRIM: broken ray sets, dumps, coefficient and register
// files, outputs that cannot be written, answers of letters and end of
// input at every prompt of SYNTH, runaway macros.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "catalogue.h"
#include "kestrim/kestrim.h"

namespace catalogue {
namespace {

const File kCof{"triplet.cof", example("triplet.cof")};
const File kBeam{"beam.txt", example("beam.txt")};
// The answers of one regular pass of about 100 rays, then quit.
const std::string kPass = "2\n100\n\n10,10\n0,0\n1,1\n0,0\n0\n0,0\nQ\n";

std::vector<Case> kestrimCases() {
  std::vector<Case> v;
  // --- ray sets that cannot be read -------------------------------------
  v.push_back({"DataMissing", {}, "DATA nothere\nNTOT\nEXIT\n",
               {"Unable to open file: nothere.bin", "Total number of ray vectors =       0"}});
  v.push_back({"DataMissingFolder", {}, "DATA nodir/r\nEXIT\n", {"Unable to open file: nodir/r.bin"}});
  v.push_back({"DataFolder", {{"sub.bin/x", "x"}}, "DATA sub\nEXIT\n", {"Unable to open file: sub.bin"}});
  v.push_back({"DataEmptyFile", {{"e.bin", ""}}, "DATA e\nEXIT\n",
               {"?KQIO- No caption record: e.bin is not a ray set."}});
  v.push_back({"DataBinaryJunk", {{"junk.bin", junk(3000, 1)}}, "DATA junk\nEXIT\n",
               {"?KQIO- No caption record: junk.bin is not a ray set."}});
  v.push_back({"DataTextFile", {kBeam}, "DATA beam.txt\nEXIT\n",
               {"?KQIO- No caption record: beam.txt is not a ray set."}});
  v.push_back({"DataCaptionOnly", {{"c.bin", raySet("Only a caption", 0)}}, "DATA c\nEXIT\n",
               {"     0 rays in file."}});
  v.push_back({"DataTruncatedRecord", {{"t.bin", raySet("Cut", 5).substr(0, 108 + 5 * 48 - 20)}},
               "DATA t\nNTOT\nEXIT\n",
               {"%KQIO- Damaged or truncated record after ray 4; the rest of the file is not used.",
                "Total number of ray vectors =       4"}});
  {
    std::string bad = raySet("Bad marker", 3);
    bad += std::string("\xff\xff\xff\x7f", 4) + "xxxx";
    v.push_back({"DataHugeRecordMarker", {{"m.bin", bad}}, "DATA m\nEXIT\n",
                 {"%KQIO- Damaged or truncated record after ray 3"}});
  }
  v.push_back({"DataCaptionWithEscapes", {{"e.bin", raySet("bad\x1b[2Jcap", 2)}}, "DATA e\nEXIT\n",
               {"Caption: bad?[2Jcap"}, {}, {"\x1b"}});
  v.push_back({"DataPipe", {}, "DATA p.bin\nEXIT\n", {"Unable to open file: p.bin"}, {}, {}, Mount::None,
               [](const fs::path& d) { fifo(d, "p.bin"); }});
  v.push_back({"DataEndAtNamePrompt", {}, "DATA\n", {"Filename for rays file > "}});

  // --- dumps ---------------------------------------------------------------
  v.push_back({"DumpMissing", {}, "DUMP nothere\nEXIT\n", {"nothere.txt does not exist."}});
  v.push_back({"DumpEmpty", {{"e.txt", ""}}, "DUMP e\nEXIT\n", {"?KQDUMP- e.txt is empty: no caption line."}});
  v.push_back({"DumpCaptionOnly", {{"c.txt", "Caption\n"}}, "DUMP c\nEXIT\n", {"     0 rays in data file."},
               {"c.bin"}});
  v.push_back({"DumpLettersInRays", {{"b.txt", withLine(example("beam.txt"), 7, "1 2 abc 4 5 6 7")}},
               "DUMP b\nEXIT\n", {"     5 rays in data file."}, {"b.bin"}});
  v.push_back({"DumpNumberOutOfRange", {{"b.txt", withLine(example("beam.txt"), 7, "1e999 0 0 0 0 0 0")}},
               "DUMP b\nEXIT\n", {"     5 rays in data file."}, {"b.bin"}});
  v.push_back({"DumpBinaryJunk", {{"j.txt", junk(5000, 2)}}, "DUMP j\nEXIT\n", {"rays in data file."}, {"j.bin"},
               {"\x1b"}});
  v.push_back({"DumpEndlessLine", {{"w.txt", lines(example("beam.txt"), 1, 6) + std::string(300000, '1')}},
               "DUMP w\nEXIT\n", {"     2 rays in data file."}, {"w.bin"}});
  v.push_back({"DumpCaptionWithEscapes", {{"e.txt", withLine(example("beam.txt"), 1, "cap\x1b]0;x\x07")}},
               "DUMP e\nEXIT\n", {"Dump file caption: cap?]0;x?"}, {"e.bin"}, {"\x1b"}});
  v.push_back({"DumpOutputFullDisk", {kBeam}, "DUMP beam\nEXIT\n", {"Unable to write rays."}, {}, {},
               Mount::None, [](const fs::path& d) { link(d, "beam.bin", "/dev/full"); }});
  v.push_back({"DumpOutputReadOnlyFolder", {{"ro/beam.txt", example("beam.txt")}}, "DUMP ro/beam\nEXIT\n",
               {"Unable to open ro/beam.bin (no temporary file can be made in ro"}, {}, {}, Mount::ReadOnly});
  v.push_back({"DumpOutputSmallFileSystemFull", {{"full/beam.txt", example("beam.txt")}},
               "DUMP full/beam\nEXIT\n", {"Unable to write rays."}, {"full/filler"}, {}, Mount::Tiny, fillUp});
  v.push_back({"DumpEndAtNamePrompt", {}, "DUMP\n", {"Filename for input > "}});

  // --- LIST, DELETE, SAVE --------------------------------------------------
  v.push_back({"ListMissing", {}, "LIST nothere\nEXIT\n", {"nothere does not exist."}});
  v.push_back({"ListBinaryJunk", {{"j.dat", junk(4000, 3)}}, "LIST j.dat\nEXIT\n", {}, {}, {"\x1b"}});
  v.push_back({"ListEndlessLine", {{"w.dat", std::string(500000, 'w')}}, "LIST w.dat\nEXIT\n", {"wwww"}});
  v.push_back({"ListEndAtPrompt", {}, "LIST\n", {"Filename to list > "}});
  v.push_back({"DeleteMissing", {}, "DELETE nothere\nEXIT\n", {"nothere"}});
  v.push_back({"SaveMissingFolder", {}, "SAVE nodir/r\nEXIT\n", {"Unable to open nodir/r.bin (no temporary"}});
  v.push_back({"SaveOverFolder", {{"sub.bin/x", "x"}}, "SAVE sub\nEXIT\n",
               {"Unable to open sub.bin (it is a folder)"}});
  v.push_back({"SavePipeWithoutReader", {}, "SAVE p.bin\nEXIT\n",
               {"Unable to open p.bin (no program reads the pipe)"}, {}, {}, Mount::None,
               [](const fs::path& d) { fifo(d, "p.bin"); }});
  v.push_back({"SaveReadOnlyFolder", {{"ro/r.bin", raySet("keep", 3)}}, "SAVE ro/r\nEXIT\n",
               {"Unable to open ro/r.bin (no temporary file can be made in ro"}, {}, {}, Mount::ReadOnly});

  // --- register and delays files ------------------------------------------
  v.push_back({"RegsavExists", {{"kqsort.reg", " 1 2 3 4 5 6 7 8 9 10\n 1 2 3 4 5 6 7 8 9 10\n"}},
               "REGSAV\nEXIT\n", {"Unable to open kqsort.reg"}});
  v.push_back({"RegisterFileLetters", {{"kqsort.reg", "abc\n"}}, "REG/L\nEXIT\n",
               {"%KQREGLOAD - Error reading KQSORT.REG"}});
  v.push_back({"RegisterFileTruncated", {{"kqsort.reg", " 1 2 3 4 5 6 7 8 9 10\n"}}, "EXIT\n",
               {"%KQREGLOAD - Error reading KQSORT.REG"}});
  v.push_back({"RegisterFileIntegerOutOfRange",
               {{"kqsort.reg", " 1 2 3 4 5 6 7 8 9 10\n 1e20 2 3 4 5 6 7 8 9 10\n"}}, "EXIT\n",
               {"%KQREGLOAD - Error reading KQSORT.REG"}});
  v.push_back({"RegisterFileJunk", {{"kqsort.reg", junk(2000, 4)}}, "EXIT\n",
               {"%KQREGLOAD - Error reading KQSORT.REG"}});
  v.push_back({"DelaysFileLetters", {{"kqsort.del", "x y\n"}}, "EXIT\n",
               {"%KESTRIM- Error reading kqsort.del: the delays stay at 1000."}});
  v.push_back({"DelaysFileEmpty", {{"kqsort.del", ""}}, "EXIT\n",
               {"%KESTRIM- Error reading kqsort.del: the delays stay at 1000."}});
  v.push_back({"DelaysFileFolder", {{"kqsort.del/x", "x"}}, "EXIT\n", {"KESTRIM - High Resolution"}});

  // --- coefficient files that cannot be read ------------------------------
  v.push_back({"SynthCofMissing", {}, "SYNTH/N missing\n", {"%COFIN - missing.cof Does not exist."}});
  v.push_back({"SynthCofEmpty", {{"e.cof", ""}}, "SYNTH/N e\nNTOT\nEXIT\n",
               {"Error getting coefficients", "Total number of ray vectors =       0"}});
  v.push_back({"SynthCofJunk", {{"j.cof", junk(3000, 5)}}, "SYNTH/N j\nEXIT\n", {"Error getting coefficients"}});
  for (int n : {1, 3, 8, 15, 19}) {
    v.push_back({"SynthCofTruncatedAfter" + std::to_string(n) + "Lines",
                 {{"t.cof", lines(example("triplet.cof"), 1, n)}}, "SYNTH/N t\nEXIT\n",
                 {"Error getting coefficients"}});
  }
  v.push_back({"SynthCofLettersInMatrix", {{"l.cof", withLine(example("triplet.cof"), 9, " 1,abc,0,0")}},
               "SYNTH/N l\nEXIT\n", {"Error getting coefficients"}});
  v.push_back({"SynthCofNotFinite", {{"n.cof", withLine(example("triplet.cof"), 9, " nan,inf,0,0")}},
               "SYNTH/N n\nEXIT\n", {"Error getting coefficients"}});
  v.push_back({"SynthCofTitleWithEscapes", {{"e.cof", withLine(example("triplet.cof"), 1, " T\x1b[5m")}},
               "SYNTH/N e\n" + kPass + "EXIT\n", {"Caption: T?[5m"}, {"e.bin"}, {"\x1b"}});

  // --- SYNTH output that cannot be written ---------------------------------
  v.push_back({"SynthOutputMissingFolder", {kCof}, "SYNTH nodir/out\ntriplet\nN\n" + kPass + "NTOT\nEXIT\n",
               {"Unable to open nodir/out.bin (no temporary", "?KQSYNTH- No ray set written.",
                "Total number of ray vectors =       0"},
               {}, {"?10,10", "?Q"}});
  v.push_back({"SynthOutputFullDisk", {kCof}, "SYNTH disk\ntriplet\nN\n" + kPass + "NTOT\nEXIT\n",
               {"Unable to write rays."}, {}, {}, Mount::None,
               [](const fs::path& d) { link(d, "disk.bin", "/dev/full"); }});
  v.push_back({"SynthOutputSmallFileSystemFull", {kCof}, "SYNTH full/out\ntriplet\nN\n" + kPass + "EXIT\n",
               {"Unable to write rays."}, {"full/filler"}, {}, Mount::Tiny, fillUp});
  v.push_back({"SynthOutputReadOnlyFolder", {kCof, {"ro/out.bin", raySet("old", 2)}},
               "SYNTH ro/out\ntriplet\nN\n" + kPass + "EXIT\n",
               {"Unable to open ro/out.bin (no temporary file can be made in ro"}, {}, {}, Mount::ReadOnly});
  v.push_back({"SynthOutputIsTheCoefficientFile", {kCof}, "SYNTH/N triplet.cof\n" + kPass + "NTOT\nEXIT\n",
               {"?KQSYNTH- triplet.cof is the coefficient file; the rays need another name.",
                "Total number of ray vectors =       0"}});
  v.push_back({"SynthOutputPipeWithoutReader", {kCof}, "SYNTH p\ntriplet\nN\n" + kPass + "EXIT\n",
               {"Unable to open p.bin (no program reads the pipe)"}, {}, {}, Mount::None,
               [](const fs::path& d) { fifo(d, "p.bin"); }});
  v.push_back({"SynthHistogramIsFolder", {kCof, {"dist.fit/x", "x"}},
               "SYNTH/N triplet\n2\n100\n\n10,10\n0,0\n1,1\n0,0\n0.1\n0,0\nQ\nEXIT\n",
               {"Unable to open dist.fit (it is a folder)"}, {"triplet.bin"}});

  {
    // While SYNTH waits at its last question the ray set being written has
    // no name yet: an interrupted run leaves nothing behind.
    Case c{"SynthNothingNamedWhileAsking", {kCof}, "SYNTH/N triplet\n" + kPass + "EXIT\n",
           {" rays generated total."}, {"triplet.bin"}};
    c.at = "Q\nEXIT";
    c.midway = [](const fs::path& d) {
      EXPECT_FALSE(fs::exists(d / "triplet.bin"));
      for (const auto& e : fs::directory_iterator(d))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
    };
    c.check = [](const fs::path& d, const std::string&) { EXPECT_TRUE(fs::exists(d / "triplet.bin")); };
    v.push_back(c);
  }
  {
    // A temporary left by a writer that died is cleared when the name is
    // written again.
    Case c{"SaveClearsStaleTemporary", {{"r.bin.tmp999999999_1", "half a ray set"}}, "SAVE r\nEXIT\n",
           {"W: Rays file opened: r.bin"}, {"r.bin", "r.bin.tmp999999999_1"}};
    c.check = [](const fs::path& d, const std::string&) {
      EXPECT_FALSE(fs::exists(d / "r.bin.tmp999999999_1"));
    };
    v.push_back(c);
  }

  // --- end of input at every prompt of SYNTH, letters where numbers go -----
  {
    const std::vector<std::string> answers = {"2", "100", "", "10,10", "0,0", "1,1", "0,0", "0", "0,0", "Q"};
    const std::vector<std::string> prompts = {
        "mode (CR for 2) > ", "Number of rays (CR for non-auto) > ", "(CR for Circular) > ",
        "Object X and Y diameter (micron) > ", "Object offsets (x,y) in  (micron) > ",
        "Aperture X and Y diameter (mm) > ", "Aperture offsets (x,y) in mm > ",
        "Maximum beam energy half spread (%) > ", "Indicies for object and aperture (o,a) > ",
        "Return to top of this routine, or quit? (R/Q) > "};
    for (size_t n = 0; n < answers.size(); ++n) {
      std::string in = "SYNTH/N triplet\n";
      for (size_t k = 0; k < n; ++k) in += answers[k] + "\n";
      // The answers so far, then the end: nothing is written under the name.
      v.push_back({"SynthEndAtPrompt" + std::to_string(n + 1), {kCof}, in, {prompts[n]},
                   n + 1 == answers.size() ? std::vector<std::string>{"triplet.bin"} : std::vector<std::string>{}});
    }
    v.push_back({"SynthLettersForNumbers", {kCof}, "SYNTH/N triplet\n2\nabc\n100\n\nx,y\n10,10\n0,0\n1,1\n0,0\nzz\n0\n0,0\nQ\nEXIT\n",
                 {" rays generated total."}, {"triplet.bin"}});
    v.push_back({"SynthModeLetter", {kCof}, "SYNTH/N triplet\nX\n2\n100\n\n10,10\n0,0\n1,1\n0,0\n0\n0,0\nQ\nEXIT\n",
                 {" rays generated total."}, {"triplet.bin"}});
  }
  // 1e12 rays would need 48 TB: refused before a ray is made.
  v.push_back({"SynthRayCountBound", {kCof}, "SYNTH/N triplet\n2\n1e12\nS\n10,10\n0,0\n1,1\n0,0\n0\n0,0\nQ\nNTOT\nEXIT\n",
               {"bytes free.", "?KQSYNTH- No rays generated in this pass.", "Total number of ray vectors =       2"},
               {"triplet.bin"}});
  v.push_back({"SynthTotalDrawBound", {kCof},
               "SYNTH/N triplet\n1\n199000\n\n1000,0.001\n0,0\n1,1\n0,0\n0\n1,1\nQ\nEXIT\n",
               {"?KQSYNTH- More than 20000000 random rays fell outside the object or aperture"}, {"triplet.bin"}});
  // 1e12 object points and one aperture point, at the corner outside the
  // circle: only the paraxial pair, at once (the grid was walked for hours).
  v.push_back({"SynthNoAperturePointInsideTheCircle", {kCof},
               "SYNTH/N triplet\n2\n\n1e12,0\n\n3,20\n0,0\n61,61\n0,0\n0\n0,0\nQ\nNTOT\nEXIT\n",
               {"       2 rays generated total.", "Total number of ray vectors =       2"}, {"triplet.bin"}});
  // A line object and a million aperture points a side: the aperture's
  // columns are counted at once, though most lie outside the circle, and
  // the pass is refused for want of disk.
  v.push_back({"SynthHugeCircularGridFillsThePass", {kCof},
               "SYNTH/N triplet\n2\n\n1e6,1e6\n\n0,10\n0.1,-0.2\n1,1\n0.01,0\n0\n0,0\nQ\nNTOT\nEXIT\n",
               {"?KQSYNTH- No rays generated in this pass.", "Total number of ray vectors =       2"},
               {"triplet.bin"}});
  v.push_back({"SynthHugeEnergySpread", {kCof}, "SYNTH/N triplet\n2\n100\n\n10,10\n0,0\n1,1\n0,0\n1e308\n0,0\nQ\nEXIT\n",
               {"Energy distribution in dist.fit"}, {"triplet.bin", "dist.fit"}});
  v.push_back({"SynthNegativeRayCount", {kCof}, "SYNTH/N triplet\n1\n-5\n\n10,10\n0,0\n1,1\n0,0\n0\n0,0\nQ\nEXIT\n",
               {}, {"triplet.bin"}});

  // --- the small commands' prompts -----------------------------------------
  v.push_back({"CaptionEnd", {}, "CAPTIO\n", {"    New caption > "}});
  v.push_back({"ColourEnd", {}, "COLOUR\n", {"Enable or Disable colour > "}});
  v.push_back({"DotmodEnd", {}, "DOTMOD\n", {"Enable or Disable dot mode > "}});
  v.push_back({"FlashLettersThenEnd", {}, "FLASH/D\nabc\n", {"Delay in ms > "}});
  v.push_back({"IcoulEnd", {}, "ICOUL\n", {"Colour number > "}});
  v.push_back({"RegisterNumberEnd", {}, "REG 5\n", {"Register number > "}});
  v.push_back({"RegisterNumberLetter", {}, "ALOAD 5\nX\nREG/L\nEXIT\n", {"A0 = "}});
  v.push_back({"IncrementOutOfRange", {}, "INCR/3 1e300\nINCR/3 1e300\nREG/L\nEXIT\n", {"I3 = 2147483647"}});
  v.push_back({"FlashOutOfRange", {}, "FLASH 1e300\nEXIT\n", {}});
  v.push_back({"ValuesOutOfRange", {}, "VALUES 1e300\nEXIT\n", {" C   Object X"}});
  v.push_back({"EndAtFirstPrompt", {}, "", {"KESTRIM - High Resolution Image Intensity Mapping"}});
  v.push_back({"UnknownWord", {}, "XYZ\nEXIT\n", {"?XYZ"}});
  v.push_back({"EndlessCommandLine", {}, std::string(300000, 'Q') + "\nEXIT\n", {"?QQQQ"}});
  v.push_back({"BinaryCommandLines", {}, junk(3000, 6) + "\nEXIT\n", {}, {}, {"\x1b"}});

  // --- macros and help files ----------------------------------------------
  v.push_back({"MacroMissing", {}, "@nothere\nEXIT\n", {"nothere.kcm does not exist."}});
  v.push_back({"MacroBinaryJunk", {{"junk.kcm", junk(2000, 8)}}, "@junk\nEXIT\n", {}, {}, {"\x1b"}});
  v.push_back({"MacroEchoWithEscapes", {{"e.kcm", "XYZ\x1b[2J\n"}}, "@e\nEXIT\n", {"XYZ?[2J"}, {}, {"\x1b"}});
  v.push_back({"MacroCallsItself", {{"m.kcm", "@m\n"}}, "@m\nEXIT\n", {"?KESTRIM- Macros nested deeper than"}});
  v.push_back({"MacroCallsItselfTwice", {{"m.kcm", "@m\n@m\n"}}, "@m\nEXIT\n",
               {"?KESTRIM- Macros nested deeper than 64 levels; not opened: m.kcm",
                "?KESTRIM- Line 1 of m.kcm: the command failed; the macro is left."},
               {}, {"More than 100000 macro calls"}});
  v.push_back({"MacroRewindWithoutStop", {{"r.kcm", "NTOT\nREWIND\n"}}, "@r\nEXIT\n",
               {"?KESTRIM- More than 100000 macro rewinds from one command; the macro is left."}});
  v.push_back({"MacroEndsAtPrompt", {{"m.kcm", "CAPTIO\n"}}, "@m\nNTOT\nEXIT\n",
               {"Total number of ray vectors"}});
  v.push_back({"LoginMacroJunk", {{"login.kcm", junk(700, 10)}}, "EXIT\n", {"Executing the login macro"}});
  v.push_back({"HelpFileJunk", {{"kestrim.hlp", junk(3000, 12)}}, "HELP\nHELP SYNTH\nEXIT\n", {}, {}, {"\x1b"}});
  v.push_back({"HelpFileWithEscapes", {{"kestrim.hlp", "#HELP\nPress \x1b[31mred\n"}}, "HELP/S kestrim.hlp\nHELP\n\nEXIT\n",
               {"Press ?[31mred"}, {}, {"\x1b"}});
  return v;
}

class KestrimBadInput : public ::testing::TestWithParam<Case> {};

TEST_P(KestrimBadInput, SaysSoAndKeepsEveryFile) {
  runCase(GetParam(), [](std::istream& in, std::ostream& out) { return kestrim::run(in, out); });
}

INSTANTIATE_TEST_SUITE_P(Catalogue, KestrimBadInput, ::testing::ValuesIn(kestrimCases()), CaseName());

}  // namespace
}  // namespace catalogue
