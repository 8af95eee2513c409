// KESTRIM's command loop as its users drive it: command words and their
// abbreviations, macros and loops, registers, prompts at the end of input.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "workdir.h"
#include "kestrim/kestrim.h"
#include "kestrim/kqcmd.h"
#include "kestrim/state.h"

namespace fs = std::filesystem;

namespace {

class LoopDir : public kqtest::WorkDir {
 protected:
};

// One whole session on the given terminal input; the state stays readable.
struct Live {
  std::istringstream in;
  std::ostringstream out;
  kestrim::Kestrim k;
  int rc;
  explicit Live(const std::string& input) : in(input), k(in, out) {
    rc = kestrim::kqsession(k);
  }
  std::string text() const { return out.str(); }
  bool has(const std::string& s) const { return out.str().find(s) != std::string::npos; }
  size_t count(const std::string& s) const {
    size_t n = 0;
    for (size_t p = out.str().find(s); p != std::string::npos; p = out.str().find(s, p + 1)) ++n;
    return n;
  }
};

void file(const std::string& name, const std::string& text) { std::ofstream(name) << text; }

std::string slurp(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST(LoopLookup, AbbreviationsTakeTheFirstCommandInTableOrder) {
  auto slot = [](const std::string& w) {
    std::string line = w;
    line.resize(40, ' ');
    int s = kestrim::kqlookup(line);
    return s > 0 ? std::string(kestrim::kCommands[s - 1].word) : std::string("?");
  };
  EXPECT_EQ(slot("S"), "SHADOW");
  EXPECT_EQ(slot("SY"), "SYNTH");
  EXPECT_EQ(slot("P"), "PREV");
  EXPECT_EQ(slot("PRO"), "PROFIL");
  EXPECT_EQ(slot("MA"), "MAP");
  EXPECT_EQ(slot("MAX"), "MAXIMA");
  EXPECT_EQ(slot("DE"), "DELETE");
  EXPECT_EQ(slot("DELT"), "DELTAE");
  EXPECT_EQ(slot("F"), "FLASH");
  EXPECT_EQ(slot("R"), "REG");
  EXPECT_EQ(slot("E"), "EXIT");
  EXPECT_EQ(slot("@"), "@");
  EXPECT_EQ(slot("$"), "$");
  EXPECT_EQ(slot("XYZ"), "?");
  EXPECT_EQ(slot("MAPS"), "?");
}

TEST_F(LoopDir, AbbreviationsRunTheirCommands) {
  // With no ray set each command says so or asks its first question.
  Live s("ma\nmax\ndelt\n\npro\n\nsmea\ninf\ns\n");
  EXPECT_EQ(s.rc, 0);
  EXPECT_TRUE(s.has("Filename for output rayset (CR for shadow.bin) > "));
  EXPECT_TRUE(s.has(" ? - No data for display.\n"));
  EXPECT_TRUE(s.has(" No data!\n"));
  EXPECT_TRUE(s.has("DELTA E sorting options"));
  EXPECT_TRUE(s.has("Profile sorting options"));
  EXPECT_TRUE(s.has(" This command is not active.\n"));
  EXPECT_TRUE(s.has(" This command not active.\n"));
}

TEST_F(LoopDir, StartupBannerDelaysAndLoginMacro) {
  file("kqsort.del", "250 40\n");
  file("login.kcm", "reg/4 125\n");
  Live s("");
  EXPECT_EQ(s.rc, 0);
  EXPECT_EQ(s.k.ndel, 250);
  EXPECT_EQ(s.k.nper, 40);
  EXPECT_EQ(s.k.areg[4], 125.0);
  const std::string want =
      " Using delays from: kqsort.del.\n"
      " NDEL =  250 NPER =   40\n"
      " \n"
      " KESTRIM - High Resolution Image Intensity Mapping\n"
      "           Version 2 (flux peaking)\n"
      " \n"
      " \n"
      " Executing the login macro login.kcm\n"
      " \n"
      "kestrim> reg/4 125\n";
  EXPECT_EQ(s.text().substr(0, want.size()), want);
}

TEST_F(LoopDir, MenuListsTheLibraryFirstThenSixtySlots) {
  Live s("menu\n");
  size_t lib = s.text().find("GXLIBRARY commands:");
  size_t own = s.text().find(" KESTRIM commands: \n \n");
  ASSERT_NE(lib, std::string::npos);
  ASSERT_NE(own, std::string::npos);
  EXPECT_LT(lib, own);
  const std::string blank8(64, ' ');
  const std::string table =
      " KESTRIM commands: \n \n"
      " MENU    SHADOW  SMEAR   INFO    DATA    SYNTH   CLEAR   @       \n"
      " PREV    NTOT    REG     ALOAD   ILOAD   FLASH   REWIND  REGSAV  \n"
      " REGLD   INCR    EXIT    MAP     STOP    LIST    SAVE    SORT    \n"
      " MAXIMA  CAPTIO  COLOUR  VALUES  ICOUL   DOTMOD  HELP    DELETE  \n"
      " DELTAE  $       !       FIND    MULE    TRANS   PROFIL  PLOT    \n"
      " DUMP    DIFF    OPMD    GRAPH   " + std::string(32, ' ') + "\n"
      " " + blank8 + "\n"
      " " + std::string(32, ' ') + "\n"
      " \n";
  EXPECT_EQ(s.text().substr(own, table.size()), table);
}

TEST_F(LoopDir, AtAloneAtTheTerminalLooksForABlankName) {
  Live s("@\n");
  EXPECT_TRUE(s.has(" " + std::string(26, ' ') + ".kcm does not exist.\n"));
}

TEST_F(LoopDir, ValuesWithNoRaysPrintsOnlyTheHeader) {
  Live s("values\nntot\n");
  EXPECT_TRUE(s.has("kestrim> \n C   Object X      Object Th     Object Y      Object Ph   Object DE\n"
                    "kestrim> \n Total number of ray vectors =       0\n"));
}

TEST_F(LoopDir, UnknownWordIsAMacroNameOrAQuestion) {
  file("mymac.kcm", "ilo/3 7.6\n");
  Live s("mymac\nxyz 12\n");
  EXPECT_TRUE(s.has(" Executing a macro: mymac.kcm\n"));
  EXPECT_EQ(s.k.ireg[3], 8);   // 7.6 to the nearest integer
  EXPECT_TRUE(s.has(" ?XYZ       12.000\n"));
}

TEST_F(LoopDir, MacroLoopWithIncrStopRewind) {
  // Ten passes: I1 runs 1..10, the loop ends when it exceeds 9.
  file("loop.kcm",
       "! ten passes, adding 2 to A2 and 1 to I4\n"
       "reg/2 2\n"
       "incr/4 1\n"
       "incr/1 1\n"
       "stop/1 9\n"
       "rewind\n");
  Live s("@loop\nreg/l\n");
  EXPECT_EQ(s.k.ireg[1], 10);
  EXPECT_EQ(s.k.ireg[4], 10);
  EXPECT_EQ(s.k.areg[2], 20.0);
  EXPECT_EQ(s.k.io.in, 5);
  EXPECT_EQ(s.k.io.macro, 0);
  EXPECT_TRUE(s.has(" A1 =    0.0000     I1 =         10\n"));
  EXPECT_TRUE(s.has(" A2 =    20.000     I2 =          0\n"));
  // Each macro line is echoed after the prompt.
  EXPECT_EQ(s.count("kestrim> rewind\n"), 9u);
}

TEST_F(LoopDir, StopLeavesWhenTheRegisterExceedsTheValue) {
  // I0 (the default register) falls by 2 a pass: -2 already exceeds -7, so
  // the first STOP leaves. With the test reversed the loop would run on.
  file("down.kcm", "incr -2\nreg/0 1\nstop -7\nrewind\n");
  // I3 rises by 1 a pass and the loop leaves once I3 exceeds 4: five passes.
  file("up.kcm", "incr/3 1\nreg/3 1\nstop/3 4\nrewind\n");
  Live s("@down\n@up\n");
  EXPECT_EQ(s.k.ireg[0], -2);
  EXPECT_EQ(s.k.areg[0], 1.0);
  EXPECT_EQ(s.k.ireg[3], 5);
  EXPECT_EQ(s.k.areg[3], 5.0);
}

TEST_F(LoopDir, SelfCallingMacroOpensFurtherLevels) {
  // Level 3 stops; levels 2 and 1 then go on after their own @ line.
  file("self.kcm", "incr/1 1\nstop/1 2\n@self\nreg/5 1\n");
  Live s("@self\nntot\n");
  EXPECT_EQ(s.k.ireg[1], 3);
  EXPECT_DOUBLE_EQ(s.k.areg[5], 2.0);
  EXPECT_EQ(s.k.io.in, 5);
  EXPECT_TRUE(s.has(" Total number of ray vectors ="));
}

TEST_F(LoopDir, ADoubleSelfCallIsBoundedInCalls) {
  file("two.kcm", "incr/1 1\n@two\n@two\n");
  Live s("@two\nilo/2 5\n");
  // The first refusal (the depth bound) ends the whole chain at once.
  EXPECT_EQ(s.k.ireg[1], gx::kMacroDepth);  // one increment per macro run
  EXPECT_EQ(s.count("Macros nested deeper than 64 levels"), 1u);
  EXPECT_EQ(s.count("the command failed; the macro is left."), 1u);
  EXPECT_EQ(s.k.ireg[2], 5);
  EXPECT_EQ(s.k.io.in, 5);
}

TEST_F(LoopDir, EndlessSelfCallIsCappedAndUnwinds) {
  file("deep.kcm", "incr/1 1\n@deep\n");
  Live s("@deep\nilo/2 5\n");
  EXPECT_EQ(s.k.ireg[1], gx::kMacroDepth);
  EXPECT_EQ(s.count("Macros nested deeper than 64 levels"), 1u);
  EXPECT_EQ(s.k.ireg[2], 5);   // back at the terminal afterwards
  EXPECT_EQ(s.k.io.in, 5);
}

TEST_F(LoopDir, AtWithABlankNameEndsTheMacro) {
  file("short.kcm", "reg/1 1\n@\nreg/1 100\n");
  Live s("@short.kcm\n");
  EXPECT_DOUBLE_EQ(s.k.areg[1], 1.0);
}

TEST_F(LoopDir, PrevRunsTheLastLineAgainWithItsQualifier) {
  Live s("reg/2 2\nprev\np\nntot\n");
  EXPECT_EQ(s.k.areg[2], 6.0);
}

TEST_F(LoopDir, RegisterCommands) {
  Live s("reg 25\n3\nreg\n\nreg/x 9\naload/7 -4e3\niload/9 -2.5\nincr/9 -1.5\nincr 4\n");
  EXPECT_EQ(s.k.areg[3], 25.0);   // register asked for
  EXPECT_EQ(s.k.areg[7], -4000.0);
  EXPECT_EQ(s.k.ireg[9], -5);   // NINT(-2.5) = -3, then NINT(-1.5) = -2
  EXPECT_EQ(s.k.ireg[0], 4);
  for (int i : {0, 1, 2, 4, 5, 6, 8, 9}) EXPECT_EQ(s.k.areg[static_cast<size_t>(i)], 0.0) << i;
}

TEST_F(LoopDir, RegisterFileRoundTripsExactly) {
  std::array<double, 10> a{};
  std::array<int, 10> i{};
  {
    // Decimal fractions are decoded through single-precision powers of ten,
    // so these values use all 53 bits.
    Live s("aload/0 0.1\naload/1 -1e-30\naload/9 3.14159265\naload/4 -7\n"
           "iload/0 -2147483648\niload/5 123456\nregsav\n");
    EXPECT_TRUE(s.has(" Registers saved.\n"));
    a = s.k.areg;
    i = s.k.ireg;
    EXPECT_EQ(i[0], -2147483647 - 1);
    EXPECT_EQ(a[4], -7.0);
  }
  Live t("ntot\n");
  EXPECT_TRUE(t.has("          <<< Loading registers from KQSORT.REG >>>\n \n"));
  for (size_t n = 0; n < 10; ++n) {
    EXPECT_EQ(t.k.areg[n], a[n]) << n;
    EXPECT_EQ(t.k.ireg[n], i[n]) << n;
  }
  EXPECT_NE(a[1], 0.0);
  // An existing register file is never overwritten.
  std::string before = slurp("kqsort.reg");
  Live u("aload/0 5\nregsav\n");
  EXPECT_TRUE(u.has(" Unable to open kqsort.reg\n"));
  EXPECT_EQ(slurp("kqsort.reg"), before);
}

TEST_F(LoopDir, RegisterFileWithLettersKeepsWhatWasRead) {
  file("kqsort.reg", "1.5 2.5 abc 4 5 6 7 8 9 10\n1 2 3 4 5 6 7 8 9 10\n");
  Live s("");
  EXPECT_TRUE(s.has(" %KQREGLOAD - Error reading KQSORT.REG\n \n"));
  EXPECT_EQ(s.k.areg[0], 1.5);
  EXPECT_EQ(s.k.areg[1], 2.5);
  EXPECT_EQ(s.k.areg[3], 0.0);
  EXPECT_EQ(s.k.ireg[0], 0);
  file("kqsort.reg", "1 2 3 4 5 6 7 8 9 10\n1 2 x\n");
  Live t("aload/0 99\naload/i\n");
  EXPECT_EQ(t.k.areg[0], 1.0);   // reloaded over the 99
  EXPECT_EQ(t.k.areg[9], 10.0);
  EXPECT_EQ(t.k.ireg[1], 2);
  EXPECT_EQ(t.k.ireg[2], 0);
  EXPECT_EQ(t.count("Error reading KQSORT.REG"), 2u);
  EXPECT_FALSE(t.has("Registers loaded from disk."));
}

TEST_F(LoopDir, AloadIWithoutAFileSaysSoAndChangesNothing) {
  Live s("aload/3 2\naload/i\n");
  EXPECT_TRUE(s.has(" Unable to open kqsort.reg\n"));
  EXPECT_FALSE(s.has("Registers loaded from disk."));
  EXPECT_EQ(s.k.areg[3], 2.0);
}

TEST_F(LoopDir, DataNamesAndTheCurrentSet) {
  Live w("captio\nOne caption\nsave run\nsave run.dat\n");
  ASSERT_TRUE(fs::exists("run.bin"));
  ASSERT_TRUE(fs::exists("run.dat"));
  Live s("data run\nntot\ndata run.dat\n");
  EXPECT_TRUE(s.has(" R: Rays file opened: run.bin\n Caption: One caption\n"));
  EXPECT_TRUE(s.has(" R: Rays file opened: run.dat\n"));
  EXPECT_EQ(kestrim::kqtrim(s.k.rayFile), "run.dat");
  Live m("data missing\nntot\n");
  EXPECT_TRUE(m.has(" Unable to open missing.bin\n Unable to open file: missing.bin\n"));
  EXPECT_TRUE(m.has("Total number of ray vectors =       0"));
  EXPECT_FALSE(fs::exists("missing.bin"));
}

TEST_F(LoopDir, FileNamesThatLookLikeNumbersStayAsTyped) {
  // The decoder writes a leading number back as 1PG13.5 ("2024" becomes
  // "2024.0"); file names must not go through that.
  Live w("save 2024\n");
  ASSERT_TRUE(fs::exists("2024.bin"));
  file("7.kcm", "ilo/6 3\n");
  Live s("data 2024\n@7\nntot\nprev\ndelete 2024.bin\n");
  EXPECT_TRUE(s.has(" R: Rays file opened: 2024.bin\n"));
  EXPECT_EQ(s.k.ireg[6], 3);
  EXPECT_FALSE(fs::exists("2024.bin"));
}

TEST_F(LoopDir, WholeSessionDumpDataValuesAndALoop) {
  file("beam.txt",
       "Bench beam\nx\nx\nx\n"
       "0 0 0 0 0 0 0\n"
       "1e-9 0 0 0 0 0 0\n"
       "1.5e-6 -2.5e-4 0 2.5 0 0.1 0\n");
  file("scan.kcm", "reg/1 2\nincr/1 1\nstop/1 2\nrewind\n");
  Live s("dump beam\ndata beam\nvalues\nvalues 1\n@scan\nreg/l\nexit\nreg/1 100\n");
  EXPECT_EQ(s.rc, 0);
  const std::string header =
      " C   Object X      Object Th     Object Y      Object Ph   Object DE\n";
  const std::string r1 = " 0   0.0000       0.0000       0.0000       0.0000      0.0000    \n";
  const std::string r2 = " 0  1.00000E-09   0.0000       0.0000       0.0000      0.0000    \n";
  const std::string r3 = " 0  1.50000E-06 -2.50000E-04   0.0000       2.5000     0.10000    \n";
  EXPECT_TRUE(s.has(header + r1 + r2 + r3 + "kestrim> \n" + header + r1 + "kestrim> "));
  EXPECT_EQ(s.k.ntot, 3);
  // Three passes: I1 = 1, 2, 3; A1 = 6; EXIT ends the input.
  EXPECT_EQ(s.k.ireg[1], 3);
  EXPECT_EQ(s.k.areg[1], 6.0);
  EXPECT_TRUE(s.has(" A1 =    6.0000     I1 =          3\n"));
}

TEST_F(LoopDir, MuleIsDumpByAnotherName) {
  // The same dump read by either word gives the same ray set, byte for byte.
  file("beam.txt", "Mule beam\nx\nx\nx\n1e-6 2e-3 -1e-6 0 7 0.5 9\n2e-6 0 0 1e-3 7 -0.25 9\n");
  Live dump("dump beam\nexit\n");
  const std::string byDump = slurp("beam.bin");
  ASSERT_FALSE(byDump.empty());
  fs::remove("beam.bin");
  Live mule("mule beam\nexit\n");
  EXPECT_EQ(slurp("beam.bin"), byDump);
  EXPECT_EQ(mule.k.ntot, 2);
  EXPECT_TRUE(mule.has("Dump file caption: Mule beam"));
  // Every one of the 44 words reaches a handler; the 16 spare slots none.
  for (int i = 0; i < 60; ++i) EXPECT_EQ(kestrim::kCommands[i].run != nullptr, i < 44) << i;
}

TEST_F(LoopDir, EndOfInputAtEveryPromptEndsCleanly) {
  for (const char* cmd : {"captio", "reg", "aload", "flash/d", "colour", "dotmod", "list",
                          "data", "save", "dump", "icoul", "help"}) {
    Live s(std::string(cmd) + "\n");
    EXPECT_EQ(s.rc, 0) << cmd;
    EXPECT_FALSE(s.k.running) << cmd;
  }
  // In a macro the prompt gives up and the terminal takes over again.
  file("cut.kcm", "captio\n");
  Live s("@cut\ncolour/e\n");
  EXPECT_EQ(s.k.flags.colour, 1);
  EXPECT_EQ(s.k.io.in, 5);
}

TEST_F(LoopDir, JunkAnswersAreAskedAgain) {
  Live s("flash/d -3.7\nabc\n250\nicoul\nx\n2\ncolour\nmaybe\ndotmod 3\nd\n");
  EXPECT_EQ(s.k.ndel, 250);
  EXPECT_EQ(s.k.flashCount, 3);
  EXPECT_EQ(s.count("Delay in ms > "), 2u);
  EXPECT_EQ(s.count("Colour number > "), 2u);
  EXPECT_TRUE(s.has(" Not implemented in this version.\n"));
  EXPECT_TRUE(s.has(" Colour status unchanged.\n"));
  EXPECT_EQ(s.k.dotSize, 3.0);
  EXPECT_TRUE(s.has(" Dot mode disabled.\n DOT SIZE SET TO 3.0000\n"));
}

TEST_F(LoopDir, IcoulWithoutAColourNumberEndsTheRun) {
  Live s("icoul\n0\nreg/1 5\n");
  EXPECT_EQ(s.rc, 0);
  EXPECT_EQ(s.k.areg[1], 0.0);
}

TEST_F(LoopDir, ExitStopsAndEndOfInputKeepsAWrittenSet) {
  Live s("save kept\n");
  EXPECT_EQ(s.rc, 0);
  // The caption record alone: 4 + 100 + 4 bytes.
  EXPECT_EQ(slurp("kept.bin").size(), 108u);
}

TEST_F(LoopDir, DeleteAndList) {
  file("notes.txt", "first line\n  second line\n");
  Live s("list notes.txt\nlist\nnothere.txt\ndelete notes.txt\ndelete notes.txt\ndelete\n");
  EXPECT_TRUE(s.has(" first line\n   second line\n"));
  EXPECT_TRUE(s.has(" nothere.txt does not exist.\n"));
  EXPECT_TRUE(s.has(" notes.txt deleted.\n"));
  EXPECT_TRUE(s.has("does not exist or cannot be opened.\n"));
  EXPECT_FALSE(fs::exists("notes.txt"));
  EXPECT_FALSE(fs::exists("nothere.txt"));
}

TEST_F(LoopDir, CaptionBecomesTheCaptionRecordOfASavedSet) {
  Live s("captio\n   \nsave a\ncaptio\nA new caption for the set\nsave b\n");
  EXPECT_TRUE(s.has(" Current caption : \n"));
  EXPECT_EQ(kestrim::kqtrim(s.k.caption), "A new caption for the set");
  std::string b = slurp("b.bin");
  ASSERT_EQ(b.size(), 108u);
  EXPECT_EQ(b.substr(4, 25), "A new caption for the set");
  EXPECT_EQ(b.substr(29, 75), std::string(75, ' '));
  EXPECT_EQ(slurp("a.bin").substr(4, 100), std::string(100, ' '));
}

TEST_F(LoopDir, EveryCommandHasAHelpEntry) {
  std::string input;
  for (int i = 0; i < 44; ++i) input += std::string("help ") + kestrim::kCommands[i].word + "\n";
  Live s(input);
  EXPECT_FALSE(s.has("No help information available"));
  EXPECT_TRUE(s.has("Example:"));
  EXPECT_GE(s.count("Example:"), 44u);
}

}  // namespace
