// Whole TAVO sessions driven through the program's own command loop:
// start-up, command matching, the foundation commands, macros and a loaded
// system.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tavo/commands.h"

namespace {

// A fresh working directory for one test; the old one comes back after it.
struct WorkDir {
  std::string path, old;
  WorkDir() {
    char t[] = "/tmp/tavo_loopXXXXXX";
    path = mkdtemp(t);
    old = std::filesystem::current_path().string();
    std::filesystem::current_path(path);
  }
  ~WorkDir() {
    std::filesystem::current_path(old);
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  void file(const std::string& name, const std::string& text) const {
    std::ofstream(path + "/" + name, std::ios::binary) << text;
  }
  std::string read(const std::string& name) const {
    std::ifstream f(path + "/" + name);
    std::stringstream b;
    b << f.rdbuf();
    return b.str();
  }
};

struct Session {
  std::string out;
  int status = -1;
  explicit Session(const std::string& input) {
    std::istringstream in(input);
    std::ostringstream o;
    status = tavo::run(in, o, false);
    out = o.str();
  }
  bool has(const std::string& t) const { return out.find(t) != std::string::npos; }
  int count(const std::string& t) const {
    int n = 0;
    for (size_t p = out.find(t); p != std::string::npos; p = out.find(t, p + 1)) ++n;
    return n;
  }
  size_t at(const std::string& t) const { return out.find(t); }
};

const std::string kBanner =
    " \n"
    "         [[[[[ Program TAVO - Version 9.0 ]]]]]\n"
    " \n \n"
    "           Type DATA to load a filename to start....\n"
    " \n \n";

TEST(LoopStart, BannerPromptAndEndOfInputEndCleanly) {
  WorkDir w;
  Session s("");
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(s.out, kBanner + "tav> ");
}

TEST(LoopStart, ExitEndsTheRunWithStatusZero) {
  WorkDir w;
  Session s("EXIT\nMENU\n");
  EXPECT_EQ(s.status, 0);
  EXPECT_FALSE(s.has("TAVO commands")) << "nothing runs after EXIT";
  Session e("e\nMENU\n");
  EXPECT_EQ(e.status, 0);
  EXPECT_FALSE(e.has("TAVO commands")) << "E is EXIT";
}

TEST(LoopStart, ExitWithAListingLevelBeforeAnySystemEnds) {
  WorkDir w;
  Session s("EXIT 3\nMENU\n");
  EXPECT_EQ(s.status, 0);
  EXPECT_TRUE(s.has("No lens system loaded: no final listing."));
  EXPECT_FALSE(s.has("TAVO commands"));
}

TEST(LoopStart, ExitAboveNineAsksForTheLevelAndABadDigitReturnsToThePrompt) {
  WorkDir w;
  Session s("EXIT 12\nx\nDIAG 4\nEXIT 10\n0\nDIAG 5\n");
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(s.count(" IDIAG for final run  > "), 2);
  EXPECT_TRUE(s.has(" Diagnostic set to   4\n")) << "the bad digit returned to the prompt";
  EXPECT_FALSE(s.has("Diagnostic set to   5")) << "0 ended the run";
  EXPECT_FALSE(s.has("final listing"));
}

TEST(LoopStart, LoginMacroRunsBeforeTheTerminal) {
  WorkDir w;
  w.file("login.tcm", "DIAG 3\n");
  Session s("DIAG\n0\n");
  EXPECT_EQ(s.out.find(kBanner + "tav>_DIAG 3\n Diagnostic set to   3\n"), 0u) << s.out;
  EXPECT_TRUE(s.has(" Current diagnostic is   3 > "));
}

TEST(LoopMatch, PrefixSelectsTheEarliestSlot) {
  EXPECT_EQ(tavo::commandSlot("E"), 5);    // EXIT
  EXPECT_EQ(tavo::commandSlot("C"), 12);   // CRAM
  EXPECT_EQ(tavo::commandSlot("ST"), 4);   // STIG
  EXPECT_EQ(tavo::commandSlot("S"), 3);    // S
  EXPECT_EQ(tavo::commandSlot("PT"), 2);   // PTF
  EXPECT_EQ(tavo::commandSlot("P"), 1);
  EXPECT_EQ(tavo::commandSlot("DI"), 25);  // DIAG before DIP
  EXPECT_EQ(tavo::commandSlot("DIP"), 33);
  EXPECT_EQ(tavo::commandSlot("I"), 28);   // ION
  EXPECT_EQ(tavo::commandSlot("SE"), 39);  // SEXT
  EXPECT_EQ(tavo::commandSlot("@"), 40);
  EXPECT_EQ(tavo::commandSlot("$"), 51);
  EXPECT_EQ(tavo::commandSlot("IDLOUT"), 54);
  EXPECT_EQ(tavo::commandSlot("EXITS"), 0);
  EXPECT_EQ(tavo::commandSlot("XYZ"), 0);
  EXPECT_EQ(tavo::commandSlot(""), 0);
  EXPECT_EQ(tavo::commandSlot("EXA"), 55);
  EXPECT_EQ(tavo::commandSlot("FR"), 56);
  EXPECT_EQ(tavo::commandSlot("EX"), 5);   // still EXIT
  EXPECT_EQ(tavo::commandSlot("F"), 11);   // still FISHK
  // All 57 words, each reachable by its full name.
  int words = 0;
  for (int i = 0; i < 60; ++i) {
    const std::string w = tavo::kCommands[i].word;
    if (w.empty()) continue;
    ++words;
    EXPECT_EQ(tavo::commandSlot(w), i + 1) << w;
  }
  EXPECT_EQ(words, 57);
}

TEST(LoopMatch, UnknownWordEchoesTheFortyCharacterLine) {
  WorkDir w;
  Session s("XYZ\nxyz  abc\n");
  EXPECT_TRUE(s.has("\n?XYZ" + std::string(37, ' ') + "\n")) << s.out;
  EXPECT_TRUE(s.has("\n?XYZ    abc" + std::string(30, ' ') + "\n")) << s.out;
}

TEST(LoopMatch, LibraryWordsAndSilentCommandsPrintNoQuestionMark) {
  WorkDir w;
  Session s("FONT 2\nXSCTN\nIDLOUT\nX\n");
  EXPECT_TRUE(s.has("Default font set to 2."));
  EXPECT_FALSE(s.has("?")) << s.out;
}

TEST(LoopMatch, AbbreviationsRunTheirCommands) {
  WorkDir w;
  Session s("DI 4\nP\nCA\n\nCOR out\nME\n");
  EXPECT_TRUE(s.has(" Diagnostic set to   4\n"));
  EXPECT_TRUE(s.has(" No variable first order elements.\n"));
  EXPECT_TRUE(s.has(" Title: "));
  EXPECT_TRUE(s.has(" Output into file out.lpt\n"));
  EXPECT_TRUE(s.has(" TAVO commands: \n"));
}

TEST(LoopCommands, DiagSetsPromptsAndZeroKeeps) {
  WorkDir w;
  Session s("DIAG 3\nDIAG\n0\nDIAG 0\nq\n5\nDIAG\n0\nDIAG -2\n");
  EXPECT_TRUE(s.has(" Diagnostic set to   3\n"));
  // DIAG alone and DIAG 0 both ask; 0 keeps 3, a letter asks again, 5 is stored.
  EXPECT_EQ(s.count(" Current diagnostic is   3 > "), 3) << s.out;
  EXPECT_EQ(s.count(" Current diagnostic is   5 > "), 1) << s.out;
  EXPECT_TRUE(s.has(" Diagnostic set to  -2\n"));
}

TEST(LoopCommands, EndOfInputAtANestedPromptEndsCleanly) {
  WorkDir w;
  for (const char* in : {"DIAG\n", "CAP\n", "@\n", "EXIT 15\n", "VELNA\n", "ION\n"}) {
    Session s(in);
    EXPECT_EQ(s.status, 0) << in;
  }
}

TEST(LoopCommands, CapShowsAndReplacesTheTitleBlankKeepsIt) {
  WorkDir w;
  Session s("CAP\nQuadrupole triplet\nCAP\n\nCAP\n");
  EXPECT_TRUE(s.has(" Title: \n")) << s.out;
  EXPECT_TRUE(s.has(" New> "));
  EXPECT_EQ(s.count(" Title: Quadrupole triplet\n"), 2) << s.out;
}

TEST(LoopCommands, MenuListsAllSlotsEightToALine) {
  WorkDir w;
  Session s("MENU\n");
  const std::string table =
      " \n TAVO commands: \n \n"
      " P       PTF     S       STIG    EXIT    SAVE    HELP    THIRD   \n"
      " DATA    ELEMEN  FISHK   CRAM    AB3     SMAT    SYSTEM  QUAD    \n"
      " OCTU    SOLEN   ACCEL   RUSS    EXCITE  CHROM   VECTOR  CAP     \n"
      " DIAG    COUPLE  VELNA   ION     CORR    ROTN    MASK    SPEC    \n"
      " DIP     EINZ    VS      GAP     CYL     TRACE   SEXT    @       \n"
      " CLEAR   XSCTN   MENU    INSERT  REMOVE  AB2     COFOUT  AGP     \n"
      " SQUEEZ  EFFECT  $       PARASI  DISP    IDLOUT  EXACT   FRINGE  \n"
      " BELL    " + std::string(24, ' ') + "\n";
  EXPECT_TRUE(s.has(table)) << s.out;
  EXPECT_TRUE(s.has("GXLIBRARY commands:")) << "the library answers MENU too";
}

TEST(LoopCommands, ClearActsInTheLibraryAndInTheProgram) {
  WorkDir w;
  Session s("CLEAR/V\n");
  EXPECT_EQ(s.count("\x1b[2J"), 2) << "the screen is cleared twice";
  EXPECT_FALSE(s.has("?"));
}

TEST(LoopCommands, CorrVelnaAndIon) {
  WorkDir w;
  Session s("CORR run7\nVELNA\n\nVELNA other\nION\n\nION 2024\nCORR\n");
  EXPECT_TRUE(s.has(" Output into file run7.lpt\n"));
  EXPECT_TRUE(s.has(" VELNA filename for output> "));
  EXPECT_TRUE(s.has(" TIRVEX filename for output> "));
  EXPECT_EQ(s.count(" KQOUT not implemented\n"), 2);
  EXPECT_EQ(s.count(" IONOUT not implemented\n"), 2);
  EXPECT_EQ(s.count("Output into file"), 1) << "CORR without a name says nothing";
}

TEST(LoopCommands, DollarRunsTheArgumentAsTyped) {
  WorkDir w;
  Session s("$ touch Made_By_Shell\n$touch second\n");
  EXPECT_TRUE(std::filesystem::exists(w.path + "/Made_By_Shell"));
  EXPECT_TRUE(std::filesystem::exists(w.path + "/second"));
}

TEST(LoopCommands, HelpUsesTheFileInTheWorkingDirectory) {
  WorkDir w;
  w.file("tavo.hlp",
         "#HELP\nHow to get help.\n#DIAG, DIAGNOSTIC\nSets the level.\n#XHELP\nNot this.\n");
  Session s("HELP\nHELP diag\nHELP/B\n");
  EXPECT_TRUE(s.has(" How to get help.\n"));
  EXPECT_TRUE(s.has(" Sets the level.\n"));
  EXPECT_FALSE(s.has("Not this."));
  EXPECT_TRUE(s.has(" List of keywords for help information:\n"));
  EXPECT_TRUE(s.has(" HELP      DIAG      XHELP     \n")) << s.out;
}

TEST(LoopCommands, HelpSlashSReplacesThePath) {
  WorkDir w;
  w.file("mine.hlp", "#HELP\nMy own help.\n");
  Session s("HELP/S " + w.path + "/mine.hlp\nHELP\nHELP/S /nonexistent/none.hlp\nHELP\n");
  EXPECT_TRUE(s.has(" My own help.\n"));
  EXPECT_TRUE(s.has(" No help information available,\n /nonexistent/none.hlp does not exist.\n"));
}


// Macros: nesting, "@" with and without a name, words that name a macro,
// the nesting limit and macro files full of junk.
TEST(LoopMacro, NestedMacrosEchoTheirLinesAndAnswers) {
  WorkDir w;
  w.file("outer.tcm", "CAP\nFrom the outer macro\n@inner\nDIAG\n0\n");
  w.file("inner.tcm", "DIAG 7\n");
  Session s("@outer\nDIAG\n0\n");
  EXPECT_EQ(s.status, 0);
  // Lines and answers from a macro appear after their prompts.
  EXPECT_TRUE(s.has("tav>_CAP\n Title: \n New> From the outer macro\n")) << s.out;
  EXPECT_TRUE(s.has("tav>_@inner\n")) << s.out;
  EXPECT_TRUE(s.has("tav>_DIAG 7\n Diagnostic set to   7\n")) << s.out;
  EXPECT_TRUE(s.has("tav>_DIAG\n Current diagnostic is   7 > 0\n")) << s.out;
  // Back at the terminal the prompt has its blank again.
  EXPECT_TRUE(s.has("\ntav> \n Current diagnostic is   7 > ")) << s.out;
  EXPECT_LT(s.at("DIAG 7"), s.at("tav>_DIAG\n"));
}

TEST(LoopMacro, AtAloneAtTheTerminalAsksForTheName) {
  WorkDir w;
  w.file("sub.tcm", "DIAG 6\n");
  Session s("@\nsub\n@\n\n@ missing\n");
  EXPECT_EQ(s.count(" Macro file name > "), 2);
  EXPECT_TRUE(s.has(" Diagnostic set to   6\n"));
  EXPECT_TRUE(s.has(" Unable to open missing.tcm\n \n")) << s.out;
  EXPECT_EQ(s.count("Unable to open"), 1) << "a blank name does nothing";
}

TEST(LoopMacro, AtAloneInsideAMacroEndsThatMacro) {
  WorkDir w;
  w.file("a.tcm", "DIAG 4\n@\nDIAG 9\n");
  Session s("@a\nDIAG\n0\n");
  EXPECT_TRUE(s.has("Diagnostic set to   4"));
  EXPECT_FALSE(s.has("Diagnostic set to   9"));
  EXPECT_TRUE(s.has(" Current diagnostic is   4 > "));
}

TEST(LoopMacro, AWordThatNamesAMacroRunsIt) {
  WorkDir w;
  w.file("hello.tcm", "DIAG 8\n");
  w.file("TOUR.tcm", "DIAG 2\n");
  Session s("hello\nHELLO\ntour\nnomacro\n");
  EXPECT_EQ(s.count(" Diagnostic set to   8\n"), 2);
  EXPECT_EQ(s.count(" Diagnostic set to   2\n"), 1);
  EXPECT_TRUE(s.has("?NOMACR "));
}

TEST(LoopMacro, AMacroCallingItselfStopsAtTheNestingLimit) {
  WorkDir w;
  w.file("self.tcm", "@self\nX\n");
  Session s("@self\nDIAG 2\n");
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(s.count("?TAVO- Macros nested deeper than 64 levels; not opened: self.tcm\n"), 1) << s.out;
  EXPECT_EQ(s.count("tav>_@self\n"), gx::kMacroDepth);
  // The refused call ends every level: no level runs its remaining line.
  EXPECT_EQ(s.count("?TAVO- Line 1 of self.tcm: the command failed; the macro is left.\n"), 1);
  EXPECT_EQ(s.count("tav>_X\n"), 0);
  EXPECT_TRUE(s.has("tav> \n Diagnostic set to   2\n")) << "back at the terminal";
}

TEST(LoopMacro, AMacroCallingItselfTwiceIsBoundedInCalls) {
  WorkDir w;
  w.file("twice.tcm", "@twice\n@twice\n");
  Session s("@twice\nDIAG 2\n");
  EXPECT_EQ(s.status, 0);
  // The first refusal (the depth bound) ends the whole chain at once.
  EXPECT_EQ(s.count("?TAVO- Macros nested deeper than 64 levels; not opened: twice.tcm\n"), 1);
  EXPECT_EQ(s.count("the command failed"), 1);
  EXPECT_EQ(s.count("tav>_@twice\n"), gx::kMacroDepth);
  EXPECT_TRUE(s.has("tav> \n Diagnostic set to   2\n")) << "back at the terminal";
}

TEST(LoopMacro, JunkInAMacroIsReadAsFixedWidthLines) {
  WorkDir w;
  // Each piece of junk is refused as a word, which ends its macro: one
  // macro a piece.
  const char control[] = "\x01\x02\xff\xfe\x7f garbage\x1b[2J\n";
  const char nuls[] = "\0\0\0DIAG\0 5\nAB\0CD\n@AB\0CD\n";
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  const std::string junk[] = {std::string(control, sizeof control - 1),
                              std::string(nuls, sizeof nuls - 1),
                              std::string(5000, 'Q') + "\n",   // a very long line
                              "\xc3\xa9l\xc3\xa8ve\n",            // non-ASCII word
                              bytes + "\n"};
  std::string input;
  for (size_t k = 0; k < std::size(junk); ++k) {
    w.file("junk" + std::to_string(k) + ".tcm", junk[k]);
    input += "@junk" + std::to_string(k) + "\n";
  }
  w.file("clean.tcm", "\t\tDIAG\t3\n"                                   // tabs as blanks
                      "DIAG 6" + std::string(34, ' ') + "777 beyond column forty\n"
                      "DIAG 4");                                        // no final line end
  w.file("AB", "DIAG 9\n");  // a NUL must not cut a name short to this file
  Session s(input + "@clean\nDIAG\n0\n");
  EXPECT_EQ(s.status, 0);
  EXPECT_TRUE(s.has(" Diagnostic set to   3\n")) << s.out;
  EXPECT_TRUE(s.has(" Diagnostic set to   6\n")) << "columns after 40 are not read";
  EXPECT_FALSE(s.has("Diagnostic set to 777"));
  EXPECT_FALSE(s.has("Diagnostic set to   9"));
  EXPECT_TRUE(s.has("\n?QQQQQQ")) << s.out;
  EXPECT_EQ(s.count("the command failed; the macro is left."), static_cast<int>(std::size(junk)))
      << s.out;
  EXPECT_TRUE(s.has(" Diagnostic set to   4\n"));
  EXPECT_TRUE(s.has(" Current diagnostic is   4 > ")) << "the session goes on at the terminal";
}

TEST(LoopMacro, EndOfAMacroInsideACommandPromptAbandonsTheCommand) {
  WorkDir w;
  w.file("cut.tcm", "CAP\n");
  w.file("cut2.tcm", "DIAG\n");
  Session s("CAP\nKept title\n@cut\n@cut2\nCAP\n\n");
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(s.count(" Title: Kept title\n"), 2) << s.out;
}


// With a lens system loaded.

// Two quadrupoles tied with opposite signs (codes 4.1 and 4.01).
void writePair(const WorkDir& w) {
  w.file("pair.tav",
         " Coupled pair\n"
         "  0.00   ,    1.000000,    1.000000,    3.000000,    0.000000\n"
         "  1.00   ,    0.000010,    0.001000,    0.000010,    0.001000,    0.000000\n"
         "  3.00   ,    0.500000,    0.000000,    0.000000\n"
         "  4.10   ,    0.100000,    0.300000,    0.010000\n"
         "  3.00   ,    0.100000,    0.000000,    0.000000\n"
         "  4.01   ,    0.100000,   -0.300000,    0.010000\n"
         "  9.00   ,    0.200000,    0.000000,    0.000000\n"
         " SENTINEL\n");
}

const char kPPrompt[] = " Lenses with coupling code  1 have fields  0.30000     new > ";

TEST(LoopSystem, PUpdatesBothTiedFieldsWithTheirSigns) {
  WorkDir w;
  writePair(w);
  Session s("DATA pair\nP\nnot a number\n0.4\nSAVE out\n");
  EXPECT_EQ(s.status, 0);
  // An unreadable answer asks again with the value unchanged.
  EXPECT_EQ(s.count(kPPrompt), 2) << s.out;
  const std::string saved = w.read("out.tav");
  EXPECT_NE(saved.find("  4.10   ,    0.100000,    0.400000,    0.010000\n"), std::string::npos)
      << saved;
  EXPECT_NE(saved.find("  4.01   ,    0.100000,   -0.400000,    0.010000\n"), std::string::npos)
      << saved;
}

TEST(LoopSystem, PAbandonedAtTheEndOfAMacroChangesNothing) {
  WorkDir w;
  writePair(w);
  w.file("p.tcm", "P\n");
  Session s("DATA pair\n@p\nSAVE out\n");
  EXPECT_EQ(s.count(kPPrompt), 1) << s.out;
  const std::string saved = w.read("out.tav");
  EXPECT_NE(saved.find("    0.300000"), std::string::npos) << saved;
  EXPECT_NE(saved.find("   -0.300000"), std::string::npos) << saved;
}

TEST(LoopSystem, EndOfAMacroSetsTheDiagnosticLevelToMinusTwo) {
  WorkDir w;
  writePair(w);
  w.file("m.tcm", "DIAG 3\n");
  Session s("DATA pair\n@m\nDIAG\n0\n");
  EXPECT_TRUE(s.has(" Diagnostic set to   3\n"));
  EXPECT_TRUE(s.has(" Current diagnostic is  -2 > ")) << s.out;
}

TEST(LoopSystem, ThinLensLevelShowsTheAprPrompt) {
  WorkDir w;
  writePair(w);
  Session s("DATA pair\nDIAG -6\nDIAG 1\n");
  EXPECT_EQ(s.status, 0);
  // The pair's thin-lens images are far from its end: the astigmatism
  // prompt "sti>" takes the place of "apr>".
  EXPECT_EQ(s.count("\nsti> "), 1) << s.out;
  EXPECT_TRUE(s.has(" Diagnostic set to   1\n"));
}

}  // namespace

namespace {

// Text from files never sends control sequences to the terminal.
TEST(LoopFiles, ControlCharactersFromFilesShowAsQuestionMarks) {
  WorkDir w;
  w.file("esc.tcm", "DIAG 3 \x1b[2J\nCAP\n\x1b]0;owned\x07\n");
  w.file("tavo.hlp", "#HELP\n Plain help\x1b[31m red\tand tab\n");
  Session s("@esc\nHELP\n");
  EXPECT_EQ(s.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(s.out.find('\x07'), std::string::npos);
  EXPECT_TRUE(s.has("tav>_DIAG 3 ?[2J")) << s.out;
  EXPECT_TRUE(s.has(" Plain help?[31m red and tab")) << s.out;
}

}  // namespace
