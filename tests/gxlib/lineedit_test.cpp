// Completion, the history file and the terminal read through a line source.
#include "gxlib/console/lineedit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/fortio.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// A table in the programs' manner: order decides which word a prefix picks.
gx::CompletionTable table() {
  gx::CompletionTable t;
  t.words = {"P", "S", "STIG", "EXIT", "SAVE", "DATA", "SYSTEM", "SMAT", "", "@", "$", "COFOUT", ""};
  t.extraWords = {"CLEAR", "FONT", "DEFINE", "DEST"};
  t.fileWords = {"DATA", "SAVE", "COFOUT", "@"};
  t.macroExt = ".tcm";
  return t;
}

std::vector<std::string> items(std::string_view before) {
  return gx::completeLine(table(), before).items;
}

std::vector<std::string> fileLines(const std::string& path) {
  std::vector<std::string> v;
  std::ifstream f(path);
  for (std::string l; std::getline(f, l);) v.push_back(l);
  return v;
}

TEST(Completion, CommandWordsFromTheTable) {
  gxtest::TempDir d;
  d.enter();
  // A unique word is completed with the blank that ends it.
  EXPECT_EQ(items("SY"), std::vector<std::string>{"SYSTEM "});
  EXPECT_EQ(gx::completeLine(table(), "SY").start, 0u);
  // Typed in lower case, completed in lower case; leading blanks stay.
  const gx::Completions c = gx::completeLine(table(), "  sy");
  EXPECT_EQ(c.start, 2u);
  EXPECT_EQ(c.items, std::vector<std::string>{"system "});
  // Several: all of them, sorted, settings words included.
  EXPECT_EQ(items("S"), (std::vector<std::string>{"S", "SAVE", "SMAT", "STIG", "SYSTEM"}));
  EXPECT_EQ(items("DE"), (std::vector<std::string>{"DEFINE", "DEST"}));
  EXPECT_EQ(gx::commonPrefix(items("DE")), "DE");
  EXPECT_EQ(gx::commonPrefix({"STIG", "STIGMA", "STI"}), "STI");
  // Nothing for a word no command begins with, for a qualifier, after "$".
  EXPECT_TRUE(items("XQ").empty());
  EXPECT_TRUE(items("SYSTEM/").empty());
  EXPECT_TRUE(items("$ l").empty());
}

TEST(Completion, MacroNamesAsFirstWordsAndAfterAt) {
  gxtest::TempDir d;
  d.enter();
  d.write("setup.tcm", "SYSTEM\n");
  d.write("scan.tcm", "SYSTEM\n");
  d.write("setup.tav", "x\n");
  d.write("setup_long.tcm", "SYSTEM\n");
  fs::create_directory(d.file("runs"));
  d.write("runs/late.tcm", "EXIT\n");
  // A macro runs by its name: the first word offers it beside the commands,
  // when the name fits the six columns of a command word.
  EXPECT_EQ(items("se"), std::vector<std::string>{"setup "});
  EXPECT_EQ(items("sc"), std::vector<std::string>{"scan "});
  // "@" offers macros without their extension (it is added) and folders.
  EXPECT_EQ(items("@se"), (std::vector<std::string>{"setup", "setup_long"}));
  EXPECT_EQ(items("@ s"), (std::vector<std::string>{"scan", "setup", "setup_long"}));
  EXPECT_EQ(gx::completeLine(table(), "@ s").start, 2u);
  EXPECT_EQ(items("@r"), std::vector<std::string>{"runs/"});
  EXPECT_EQ(items("@runs/"), std::vector<std::string>{"runs/late"});
}

TEST(Completion, FileNamesAfterFileCommands) {
  gxtest::TempDir d;
  d.enter();
  d.write("triplet.tav", "x\n");
  d.write("triplet_oct.tav", "x\n");
  d.write("doublet.tav", "x\n");
  d.write(".hidden.tav", "x\n");
  fs::create_directory(d.file("lenses"));
  d.write("lenses/quad.tav", "x\n");
  const gx::Completions c = gx::completeLine(table(), "DATA tri");
  EXPECT_EQ(c.start, 5u);
  EXPECT_EQ(c.items, (std::vector<std::string>{"triplet.tav", "triplet_oct.tav"}));
  EXPECT_EQ(gx::commonPrefix(c.items), "triplet");
  // The word selects its command as the loop does: "D" is DATA here, and
  // a qualifier does not change the command.
  EXPECT_EQ(items("D dou"), std::vector<std::string>{"doublet.tav"});
  EXPECT_EQ(items("SAVE/Q dou"), std::vector<std::string>{"doublet.tav"});
  EXPECT_EQ(items("cofout l"), std::vector<std::string>{"lenses/"});
  EXPECT_EQ(items("DATA lenses/q"), std::vector<std::string>{"lenses/quad.tav"});
  // Hidden files only when asked for.
  EXPECT_EQ(items("DATA ."), std::vector<std::string>{".hidden.tav"});
  EXPECT_EQ(items("DATA ").size(), 4u);
  // Commands without a file argument, and a second argument, complete nothing.
  EXPECT_TRUE(items("SYSTEM tri").empty());
  EXPECT_TRUE(items("STIG tri").empty());
  EXPECT_TRUE(items("DATA a tri").empty());
  EXPECT_TRUE(items("DATA nosuchdir/x").empty());
}

TEST(History, BoundedAndKeptAcrossSessions) {
  gxtest::TempDir d;
  const std::string path = d.file(".prog_history");
  {
    gx::History h(path, 1000);
    EXPECT_TRUE(h.entries().empty());
    for (int i = 1; i <= 1500; ++i) EXPECT_TRUE(h.add("SYSTEM " + std::to_string(i)));
    // Blank lines and a repeat of the last entry are not kept.
    EXPECT_FALSE(h.add("   "));
    EXPECT_FALSE(h.add("SYSTEM 1500"));
    EXPECT_FALSE(h.add("SYSTEM 1500  "));
    EXPECT_EQ(h.entries().size(), 1000u);
    EXPECT_EQ(h.entries().front(), "SYSTEM 501");
  }
  std::vector<std::string> lines = fileLines(path);
  ASSERT_EQ(lines.size(), 1000u);
  EXPECT_EQ(lines.front(), "SYSTEM 501");
  EXPECT_EQ(lines.back(), "SYSTEM 1500");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // what was typed is the user's own
  // The next session starts with them and goes on.
  {
    gx::History h(path, 1000);
    ASSERT_EQ(h.entries().size(), 1000u);
    EXPECT_EQ(h.entries().back(), "SYSTEM 1500");
    h.add("EXIT");
  }
  lines = fileLines(path);
  ASSERT_EQ(lines.size(), 1000u);
  EXPECT_EQ(lines.front(), "SYSTEM 502");
  EXPECT_EQ(lines.back(), "EXIT");
  // No temporary is left beside it.
  int files = 0;
  for (const auto& e : fs::directory_iterator(d.path())) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1);
}

TEST(History, OverlongFileCutWhenOpenedAndSessionsSideBySide) {
  gxtest::TempDir d;
  const std::string path = d.file(".prog_history");
  {
    std::ofstream f(path);
    for (int i = 1; i <= 30; ++i) f << "L" << i << "\n";
  }
  {
    gx::History a(path, 10);
    EXPECT_EQ(fileLines(path).size(), 10u);
    EXPECT_EQ(a.entries().front(), "L21");
    gx::History b(path, 10);
    a.add("A1");
    b.add("B1");
    a.add("A2");
  }
  // Both sessions' lines are there, in the order they were typed.
  const std::vector<std::string> lines = fileLines(path);
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[7], "A1");
  EXPECT_EQ(lines[8], "B1");
  EXPECT_EQ(lines[9], "A2");
  // Without a home folder the history lives in memory only.
  gx::History m("", 5);
  EXPECT_TRUE(m.add("SYSTEM"));
  EXPECT_EQ(m.entries().size(), 1u);
}

// Lines from a script, recording the prompts the source was asked to draw.
struct ScriptSource : gx::LineSource {
  std::vector<std::string> lines, prompts;
  size_t next = 0;
  bool readLine(std::string_view prompt, std::string& line) override {
    prompts.emplace_back(prompt);
    if (next >= lines.size()) return false;
    line = lines[next++];
    return true;
  }
};

TEST(LineSource, PromptsGoToTheSourceAndOutputStaysTheSame) {
  gxtest::TempDir d;
  d.enter();
  d.write("m.tcm", "7\n");
  std::istringstream in("ignored\n");
  std::ostringstream out;
  gx::Lib g(in, out, true);
  ScriptSource src;
  src.lines = {"5", std::string(70000, 'x')};
  g.io.setLineSource(&src);
  gx::gxsay(g, 6, "Before");
  std::string reply;
  ASSERT_EQ(gx::gxprompt(g, 5, 6, " Element number > ", reply, 40), gx::Reply::Ok);
  EXPECT_EQ(reply, gx::pad("5", 40));
  // The source drew the prompt: it is not in the output a second time.
  ASSERT_EQ(src.prompts.size(), 1u);
  EXPECT_EQ(src.prompts[0], " Element number > ");
  EXPECT_EQ(out.str(), " Before\n");
  // A prompt answered from a macro is written with its echo after it.
  int unit = 5;
  ASSERT_TRUE(gx::gxmacro(g, unit, 6, "m.tcm", "TEST"));
  ASSERT_EQ(gx::gxprompt(g, unit, 6, " Field > ", reply, 0), gx::Reply::Ok);
  EXPECT_EQ(out.str(), " Before\n Field > 7\n");
  // A line longer than any record is cut to the record bound.
  ASSERT_EQ(g.io.readLine(5, reply), gx::RdStat::Ok);
  EXPECT_EQ(reply.size(), 65536u);
  // The end of the source is the end of the terminal input.
  EXPECT_THROW(g.io.readLine(5, reply), gx::EndOfInput);
}

TEST(LineSource, ErrorMessagesAreCounted) {
  gxtest::Session s;
  s.g.io.write(6, " Fine");
  s.g.io.write(6, "+?echoed answer");
  EXPECT_EQ(s.g.io.errorLines(), 0);
  s.g.io.write(6, "?SYSTEX");  // the unknown command, "?" in the control column
  gx::gxsay(s.g, 6, "?TAVO- No such element");
  s.g.io.write(6, " %GXPARAM- a warning");
  EXPECT_EQ(s.g.io.errorLines(), 2);
}

}  // namespace
