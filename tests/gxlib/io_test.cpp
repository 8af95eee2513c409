// Numbered units: the terminal's carriage control, file statuses, fixed-width
// records, end of file against read errors, and files never half written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "gxlib/fortran/fortio.h"
#include "test_support.h"

using gxtest::Session;
using gxtest::TempDir;

TEST(Terminal, CarriageControl) {
  Session s;
  s.g.io.write(6, " first");
  s.g.io.write(6, "+ continued");  // no prompt pending: a line of its own
  s.g.io.prompt("Value > ");
  s.g.io.write(6, "+3.5");  // the macro answer's echo on the prompt's line
  s.g.io.prompt("Next > ");
  s.g.io.write(6, " after");  // a record after a prompt starts a new line
  s.g.io.write(6, "");
  s.g.io.write(6, " ");
  EXPECT_EQ(s.text(), " first\n continued\nValue > 3.5\nNext > \n after\n\n \n");
}

TEST(Terminal, InteractiveAnswerEndsThePromptLine) {
  std::istringstream in("yes\n");
  std::ostringstream out;
  gx::Lib g(in, out, true);
  g.io.prompt("Go? > ");
  std::string ans;
  EXPECT_EQ(g.io.readLine(5, ans), gx::RdStat::Ok);
  g.io.write(6, " done");
  // The user's RETURN already ended the line on a real terminal.
  EXPECT_EQ(out.str(), "Go? >  done\n");
}

TEST(Terminal, EndOfInputThrows) {
  Session s("only\n");
  std::string l;
  EXPECT_EQ(s.g.io.readLine(5, l, 40), gx::RdStat::Ok);
  EXPECT_EQ(l, gx::pad("only", 40));
  EXPECT_THROW(s.g.io.readLine(5, l, 40), gx::EndOfInput);
  EXPECT_THROW(s.g.io.readLine(5, l, 40), gx::EndOfInput);
}

TEST(Terminal, FixedWidthLinesKeepEveryByte) {
  std::string raw = "tab\there\x01\x7f" "\xc3\xa9" "end";
  raw.push_back('\0');
  raw += "nul";
  Session s(raw + "\n" + std::string(50, 'x') + "\r\n\n");
  std::string l;
  s.g.io.readLine(5, l, 40);
  EXPECT_EQ(l, gx::pad(raw, 40));
  EXPECT_EQ(l[3], '\t');
  EXPECT_EQ(l[15], '\0');
  s.g.io.readLine(5, l, 40);
  EXPECT_EQ(l, std::string(40, 'x'));  // cut at 40, CR of a DOS line gone
  s.g.io.readLine(5, l, 40);
  EXPECT_EQ(l, std::string(40, ' '));
}

TEST(Files, OpenStatuses) {
  TempDir t;
  Session s;
  gx::Io& io = s.g.io;
  const std::string f = t.file("a.txt");
  EXPECT_FALSE(gx::Io::exists(f));
  EXPECT_FALSE(io.open(20, f, gx::OpenStatus::Old, gx::Access::Read));
  EXPECT_FALSE(io.open(20, f, gx::OpenStatus::Old, gx::Access::Write));
  EXPECT_FALSE(io.isOpen(20));

  ASSERT_TRUE(io.open(20, f, gx::OpenStatus::New, gx::Access::Write));
  io.write(20, " one");
  EXPECT_TRUE(io.close(20));
  EXPECT_EQ(t.read("a.txt"), " one\n");
  EXPECT_TRUE(gx::Io::exists(f));

  // New refuses an existing file, whether for reading or writing.
  EXPECT_FALSE(io.open(20, f, gx::OpenStatus::New, gx::Access::Write));
  EXPECT_FALSE(io.open(20, f, gx::OpenStatus::New, gx::Access::Read));
  EXPECT_EQ(t.read("a.txt"), " one\n");

  ASSERT_TRUE(io.open(20, f, gx::OpenStatus::Unknown, gx::Access::Write));
  io.write(20, " two");
  io.close(20);
  EXPECT_EQ(t.read("a.txt"), " two\n");
  ASSERT_TRUE(io.open(20, f, gx::OpenStatus::Replace, gx::Access::Write));
  io.write(20, " three");
  io.close(20);
  EXPECT_EQ(t.read("a.txt"), " three\n");
  ASSERT_TRUE(io.open(20, f, gx::OpenStatus::Old, gx::Access::Write));
  io.write(20, " four");
  io.close(20);
  EXPECT_EQ(t.read("a.txt"), " four\n");

  // A directory is not a file; nothing is created for an empty name.
  EXPECT_FALSE(io.open(20, t.path(), gx::OpenStatus::Unknown, gx::Access::Write));
  EXPECT_FALSE(gx::Io::exists(t.path()));
  EXPECT_FALSE(io.open(20, "", gx::OpenStatus::Unknown, gx::Access::Write));
  EXPECT_FALSE(io.open(20, t.file("no/such/dir.txt"), gx::OpenStatus::Unknown,
                       gx::Access::Write));
  // No temporary files are left behind.
  int n = 0;
  for (auto& e : std::filesystem::directory_iterator(t.path())) {
    (void)e;
    ++n;
  }
  EXPECT_EQ(n, 1);
}

TEST(Files, EndOfFileRewindAndReadErrors) {
  TempDir t;
  t.write("r.txt", "l1\nl2");
  Session s;
  gx::Io& io = s.g.io;
  ASSERT_TRUE(io.open(15, t.file("r.txt"), gx::OpenStatus::Old, gx::Access::Read));
  std::string l;
  EXPECT_EQ(io.readLine(15, l), gx::RdStat::Ok);
  EXPECT_EQ(l, "l1");
  EXPECT_EQ(io.readLine(15, l, 4), gx::RdStat::Ok);  // last line without a newline
  EXPECT_EQ(l, "l2  ");
  EXPECT_EQ(io.readLine(15, l), gx::RdStat::Eof);
  EXPECT_EQ(io.readLine(15, l), gx::RdStat::Eof);
  EXPECT_TRUE(io.rewind(15));
  EXPECT_EQ(io.readLine(15, l), gx::RdStat::Ok);
  EXPECT_EQ(l, "l1");
  EXPECT_EQ(io.nameOf(15), t.file("r.txt"));
  EXPECT_TRUE(io.close(15));
  EXPECT_FALSE(io.isOpen(15));
  // Reading a unit that is not open, or one open for writing, is an error.
  EXPECT_EQ(io.readLine(15, l), gx::RdStat::Err);
  ASSERT_TRUE(io.open(16, t.file("w.txt"), gx::OpenStatus::Unknown, gx::Access::Write));
  EXPECT_EQ(io.readLine(16, l), gx::RdStat::Err);
  double v[2] = {1, 2};
  EXPECT_EQ(io.readList(15, v, 2), gx::RdStat::Err);
  io.close(16);
  EXPECT_FALSE(io.rewind(15));
  EXPECT_TRUE(io.close(15));  // closing a closed unit is harmless
}

TEST(Files, ReadingAMissingFileWithUnknownCreatesIt) {
  TempDir t;
  Session s;
  ASSERT_TRUE(s.g.io.open(15, t.file("new.txt"), gx::OpenStatus::Unknown, gx::Access::Read));
  std::string l;
  EXPECT_EQ(s.g.io.readLine(15, l), gx::RdStat::Eof);
  EXPECT_TRUE(gx::Io::exists(t.file("new.txt")));
}

TEST(Files, RewindWhileWritingStartsAgain) {
  TempDir t;
  Session s;
  ASSERT_TRUE(s.g.io.open(20, t.file("c.txt"), gx::OpenStatus::Unknown, gx::Access::Write));
  s.g.io.write(20, "old");
  EXPECT_TRUE(s.g.io.rewind(20));
  s.g.io.write(20, "new");
  s.g.io.close(20);
  EXPECT_EQ(t.read("c.txt"), "new\n");
}

TEST(Files, NoHalfWrittenFiles) {
  TempDir t;
  t.write("lens.tav", "precious\n");
  ::chmod(t.file("lens.tav").c_str(), 0640);
  {
    Session s;
    ASSERT_TRUE(s.g.io.open(3, t.file("lens.tav"), gx::OpenStatus::Unknown, gx::Access::Write));
    s.g.io.write(3, "half");
    // Until the unit is closed the user's file is untouched.
    EXPECT_EQ(t.read("lens.tav"), "precious\n");
    EXPECT_TRUE(s.g.io.close(3, false));  // abandoned
  }
  EXPECT_EQ(t.read("lens.tav"), "precious\n");
  {
    Session s;
    ASSERT_TRUE(s.g.io.open(3, t.file("lens.tav"), gx::OpenStatus::Unknown, gx::Access::Write));
    s.g.io.write(3, "half");
  }  // the session ends without closing: the write is abandoned
  EXPECT_EQ(t.read("lens.tav"), "precious\n");
  {
    Session s;
    ASSERT_TRUE(s.g.io.open(3, t.file("lens.tav"), gx::OpenStatus::Unknown, gx::Access::Write));
    s.g.io.write(3, "whole");
    s.g.io.closeAll();  // closing everything at the end also abandons writes
  }
  EXPECT_EQ(t.read("lens.tav"), "precious\n");

  Session s;
  ASSERT_TRUE(s.g.io.open(3, t.file("lens.tav"), gx::OpenStatus::Unknown, gx::Access::Write));
  s.g.io.write(3, "whole");
  EXPECT_TRUE(s.g.io.close(3));
  EXPECT_EQ(t.read("lens.tav"), "whole\n");
  struct stat st {};
  ASSERT_EQ(::stat(t.file("lens.tav").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replaced file keeps its permissions
  int n = 0;
  for (auto& e : std::filesystem::directory_iterator(t.path())) {
    (void)e;
    ++n;
  }
  EXPECT_EQ(n, 1);
}

TEST(Files, SymbolicLinkIsFollowed) {
  TempDir t;
  t.write("real.tav", "old\n");
  std::filesystem::create_symlink(t.file("real.tav"), t.file("link.tav"));
  Session s;
  ASSERT_TRUE(s.g.io.open(3, t.file("link.tav"), gx::OpenStatus::Old, gx::Access::Write));
  s.g.io.write(3, "new");
  EXPECT_TRUE(s.g.io.close(3));
  EXPECT_TRUE(std::filesystem::is_symlink(t.file("link.tav")));
  EXPECT_EQ(t.read("real.tav"), "new\n");
}

TEST(Files, TwoSessionsWriteTheSameUnitNumber) {
  TempDir t;
  Session a, b;
  ASSERT_TRUE(a.g.io.open(20, t.file("x.txt"), gx::OpenStatus::Unknown, gx::Access::Write));
  ASSERT_TRUE(b.g.io.open(20, t.file("x.txt"), gx::OpenStatus::Unknown, gx::Access::Write));
  a.g.io.write(20, "from a");
  b.g.io.write(20, "from b");
  EXPECT_TRUE(a.g.io.close(20));
  EXPECT_EQ(t.read("x.txt"), "from a\n");
  EXPECT_TRUE(b.g.io.close(20));
  EXPECT_EQ(t.read("x.txt"), "from b\n");
}

TEST(Files, BinaryStreams) {
  TempDir t;
  Session s;
  ASSERT_TRUE(s.g.io.open(9, t.file("b.dat"), gx::OpenStatus::Unknown, gx::Access::Write, true));
  std::fstream* f = s.g.io.stream(9);
  ASSERT_NE(f, nullptr);
  const char bytes[] = {'\0', '\n', '\r', '\xff'};
  f->write(bytes, 4);
  s.g.io.close(9);
  EXPECT_EQ(t.read("b.dat"), std::string(bytes, 4));
  EXPECT_EQ(s.g.io.stream(9), nullptr);
}

TEST(Files, NamesWithControlCharactersOpenNothing) {
  TempDir t;
  Session s;
  gx::Io& io = s.g.io;
  for (std::string bad : {t.file("a\001b.bin"), t.file("x\177"), t.file("tab\tname")}) {
    EXPECT_FALSE(io.open(21, bad, gx::OpenStatus::Unknown, gx::Access::Write)) << bad;
    EXPECT_FALSE(io.open(21, bad, gx::OpenStatus::Unknown, gx::Access::Read)) << bad;
    EXPECT_FALSE(gx::Io::exists(bad));
  }
  // A NUL must not cut the name short and reach another file.
  std::string cut = t.file("real.txt");
  ASSERT_TRUE(io.open(22, cut, gx::OpenStatus::New, gx::Access::Write));
  io.close(22);
  EXPECT_FALSE(io.open(23, cut + std::string(1, '\0') + "junk", gx::OpenStatus::Old, gx::Access::Read));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.path()), {}), 1);
}
