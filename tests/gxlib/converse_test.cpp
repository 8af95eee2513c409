// The conversation layer: prompts and their macro echo, asking again, the
// end of input, nearest integers, macro levels, command tables, and units
// that are devices rather than files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <thread>

#include "gxlib/console/converse.h"
#include "test_support.h"

using gxtest::Session;
using gxtest::TempDir;

TEST(Prompt, AnswerFromAMacroIsEchoedOnThePromptLine) {
  TempDir d;
  d.write("m.tcm", "42\n");
  Session s;
  ASSERT_TRUE(s.g.io.open(15, d.file("m.tcm"), gx::OpenStatus::Old, gx::Access::Read));
  std::string reply;
  EXPECT_EQ(gx::gxprompt(s.g, 15, 6, " Value > ", reply, 10), gx::Reply::Ok);
  EXPECT_EQ(reply, "42        ");
  gx::gxsay(s.g, 6, "next");
  EXPECT_EQ(s.text(), " Value > 42\n next\n");
}

TEST(Prompt, AnswerFromTheTerminalIsNotEchoed) {
  Session s("7\n");
  std::string reply;
  EXPECT_EQ(gx::gxprompt(s.g, 5, 6, "N > ", reply), gx::Reply::Ok);
  EXPECT_EQ(reply, "7");
  EXPECT_EQ(s.text(), "N > ");
}

TEST(Prompt, UnreadableAnswerAsksAgain) {
  Session s("x\n\n12\n");
  std::string reply;
  int asked = 0;
  auto digits = [&](const std::string& r) {
    ++asked;
    return !r.empty() && r.find_first_not_of("0123456789") == std::string::npos;
  };
  EXPECT_EQ(gx::gxask(s.g, 5, 6, "N > ", reply, 0, digits), gx::Reply::Ok);
  EXPECT_EQ(reply, "12");
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(s.text(), "N > \nN > \nN > ");
}

TEST(Prompt, EndOfAMacroEndsEveryPrompt) {
  TempDir d;
  d.write("m.tcm", "abc\n");
  Session s;
  ASSERT_TRUE(s.g.io.open(15, d.file("m.tcm"), gx::OpenStatus::Old, gx::Access::Read));
  std::string reply;
  // Never accepted, then the file ends: the loop gives up instead of spinning.
  EXPECT_EQ(gx::gxask(s.g, 15, 6, "N > ", reply, 4, [](const std::string&) { return false; }),
            gx::Reply::End);
  EXPECT_EQ(reply, "    ");
  double a = 1.0;
  EXPECT_EQ(gx::gxaskupdate(s.g, 15, 6, 1, "A > ", a), gx::Reply::End);
  EXPECT_EQ(a, 1.0);
}

TEST(Prompt, EndOfTheTerminalThrows) {
  Session s("");
  std::string reply;
  EXPECT_THROW(gx::gxprompt(s.g, 5, 6, "N > ", reply), gx::EndOfInput);
  double a = 0.0;
  Session t("junk\n");
  EXPECT_THROW(gx::gxaskupdate(t.g, 5, 6, 0, "A > ", a), gx::EndOfInput);
}

TEST(Prompt, UpdateRepeatsUntilANumberAndKeepsOnEmpty) {
  Session s("abc\n2.5 , 4\n\n");
  double a = 1.0, b = 2.0;
  EXPECT_EQ(gx::gxaskupdate(s.g, 5, 6, 0, "A B > ", a, b), gx::Reply::Ok);
  EXPECT_EQ(a, 2.5);
  EXPECT_EQ(b, 4.0);
  EXPECT_EQ(gx::gxaskupdate(s.g, 5, 6, 0, "A B > ", a, b), gx::Reply::Ok);
  EXPECT_EQ(a, 2.5);
  EXPECT_EQ(s.text(), "A B > \nA B > \nA B > ");
}

TEST(Message, OneCarriageControlBlank) {
  Session s;
  gx::gxsay(s.g, 6, "Hello");
  gx::gxsay(s.g, 6, " indented");
  gx::gxsay(s.g, 6, "");
  EXPECT_EQ(s.text(), " Hello\n  indented\n \n");
}

TEST(NearestInteger, HalvesAwayFromZeroAndSaturates) {
  EXPECT_EQ(gx::gxnint(0.5), 1);
  EXPECT_EQ(gx::gxnint(-0.5), -1);
  EXPECT_EQ(gx::gxnint(1.5), 2);
  EXPECT_EQ(gx::gxnint(-2.5), -3);
  EXPECT_EQ(gx::gxnint(0.49999999999999994), 0);
  EXPECT_EQ(gx::gxnint(1e10), INT_MAX);
  EXPECT_EQ(gx::gxnint(-1e10), INT_MIN);
  EXPECT_EQ(gx::gxnint(INFINITY), INT_MAX);
  EXPECT_EQ(gx::gxnint(NAN), 0);
  // The edges of the int range: a half rounds out of it and saturates.
  EXPECT_EQ(gx::gxnint(2147483646.4999998), 2147483646);
  EXPECT_EQ(gx::gxnint(2147483646.5), INT_MAX);
  EXPECT_EQ(gx::gxnint(-2147483647.5), INT_MIN);
  EXPECT_EQ(gx::gxnint(-2147483647.4999998), -2147483647);
  EXPECT_EQ(gx::gxnint(-INFINITY), INT_MIN);
  EXPECT_EQ(gx::gxnint(-1e300), INT_MIN);
  // Where doubles are whole numbers already, and just short of a half.
  EXPECT_EQ(gx::gxnint(4503599627370497.0), INT_MAX);
  EXPECT_EQ(gx::gxnint(-0.49999999999999994), 0);
  EXPECT_EQ(gx::gxnint(1234567.5), 1234568);
  EXPECT_EQ(gx::gxnint(-1234567.5), -1234568);
  EXPECT_EQ(gx::gxnint(-0.0), 0);
}

TEST(MacroLevels, OpenNestAndEnd) {
  TempDir d;
  d.write("a.tcm", "x\n");
  Session s;
  int unit = 5;
  EXPECT_TRUE(gx::gxmacro(s.g, unit, 6, d.file("a.tcm"), "TEST"));
  EXPECT_EQ(unit, 15);
  EXPECT_TRUE(gx::gxmacro(s.g, unit, 6, d.file("a.tcm"), "TEST"));
  EXPECT_EQ(unit, 25);
  EXPECT_EQ(gx::gxmacrodepth(unit), 2);
  EXPECT_FALSE(gx::gxmacro(s.g, unit, 6, d.file("missing.tcm"), "TEST"));
  EXPECT_EQ(unit, 25);
  EXPECT_EQ(s.text(), " Unable to open " + d.file("missing.tcm") + "\n \n");
  gx::gxmacroend(s.g, unit);
  EXPECT_EQ(unit, 15);
  EXPECT_FALSE(s.g.io.isOpen(25));
  gx::gxmacroend(s.g, unit);
  gx::gxmacroend(s.g, unit);  // at the terminal: nothing to end
  EXPECT_EQ(unit, 5);
}

TEST(MacroLevels, DepthBound) {
  TempDir d;
  d.write("a.tcm", "x\n");
  Session s;
  int unit = 5;
  for (int i = 0; i < gx::kMacroDepth; ++i) ASSERT_TRUE(gx::gxmacro(s.g, unit, 6, d.file("a.tcm"), "TEST"));
  EXPECT_FALSE(gx::gxmacro(s.g, unit, 6, "a.tcm", "TEST"));
  EXPECT_EQ(unit, 5 + 10 * gx::kMacroDepth);
  EXPECT_EQ(s.text(), " ?TEST- Macros nested deeper than 64 levels; not opened: a.tcm\n \n");
}

namespace {
struct Ctx {};
struct St {
  int ran = 0;
};
void one(St& s, Ctx&) { s.ran = 1; }
void two(St& s, Ctx&) { s.ran = 2; }
const gx::Command<St, Ctx> kTable[] = {{"EXIT", one}, {"EXPAND", two}, {"", nullptr}, {"S", one},
                                      {"STIG", two}};
}  // namespace

TEST(CommandTable, PrefixSelectsTheEarliestSlot) {
  EXPECT_EQ(gx::gxlookup("E      ", kTable), 1);
  EXPECT_EQ(gx::gxlookup("EXP    arg", kTable), 2);
  EXPECT_EQ(gx::gxlookup("S      ", kTable), 4);
  EXPECT_EQ(gx::gxlookup("ST     ", kTable), 5);
  EXPECT_EQ(gx::gxlookup("EXITS  ", kTable), 0);  // longer than the word
  EXPECT_EQ(gx::gxlookup("       ", kTable), 0);  // blank slots never match
  EXPECT_EQ(gx::gxlookup("EXPANDS", kTable), 2);  // seven letters: six compared
  EXPECT_EQ(gx::gxlookup("STIGMAT", kTable), 0);  // "STIGMA" is no slot
  St st;
  Ctx c;
  kTable[gx::gxlookup("EXPAND", kTable) - 1].run(st, c);
  EXPECT_EQ(st.ran, 2);
}

TEST(DirectUnits, AFifoStaysAFifo) {
  TempDir d;
  const std::string fifo = d.file("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string got;
  std::thread reader([&] {
    std::ifstream f(fifo);
    std::getline(f, got);
  });
  {
    Session s;
    ASSERT_TRUE(s.g.io.open(20, fifo, gx::OpenStatus::Unknown, gx::Access::Write));
    s.g.io.write(20, "through the pipe");
    EXPECT_TRUE(s.g.io.close(20));
  }
  reader.join();
  EXPECT_EQ(got, "through the pipe");
  struct stat st {};
  ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d.path()),
                          std::filesystem::directory_iterator()),
            1)
      << "no temporary left beside it";
}

// A program reading the pipe (cat, a plotter) takes the moment the last
// writer leaves an empty pipe for the end of the data. Looking for a
// reader must not be such a moment, or the reader goes and the real open
// waits for ever. The watcher samples the pipe while the unit is opened,
// written and closed; a read of 0 (no writer, no data) before the data is
// the fault. The window is microseconds wide, so it is tried many times.
TEST(DirectUnits, AReaderOfThePipeSeesNoEndBeforeTheData) {
  TempDir d;
  const std::string fifo = d.file("pipe");
  int ends = 0;
  for (int round = 0; round < 50; ++round) {
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    std::atomic<bool> stop{false}, ended{false};
    std::atomic<int> polls{0};
    std::string got;
    std::thread watcher([&] {
      while (!stop) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 0);
        ++polls;
        if (!(p.revents & (POLLIN | POLLHUP))) continue;
        // poll alone may report a hang-up as the first writer arrives; a
        // read tells it under the pipe's lock.
        char b[64];
        const ssize_t k = ::read(fd, b, sizeof b);
        if (k > 0) {
          got.assign(b, static_cast<size_t>(k));
          break;
        }
        if (k == 0) {
          ended = true;
          break;
        }
      }
    });
    while (polls < 1000) std::this_thread::yield();
    bool opened = false;
    {
      Session s;
      opened = s.g.io.open(20, fifo, gx::OpenStatus::Unknown, gx::Access::Write);
      s.g.io.write(20, "through the pipe");
      EXPECT_TRUE(s.g.io.close(20));
    }
    stop = true;
    watcher.join();
    if (!ended && got.empty()) {  // the watcher was stopped before it looked
      char b[64];
      const ssize_t k = ::read(fd, b, sizeof b);
      if (k > 0) got.assign(b, static_cast<size_t>(k));
    }
    ::close(fd);
    ASSERT_TRUE(opened);
    if (ended) ++ends;
    else EXPECT_EQ(got.substr(0, 16), "through the pipe");
  }
  EXPECT_EQ(ends, 0) << "rounds in which the reader saw the end before the data";
}

TEST(DirectUnits, DevNullStaysADevice) {
  Session s;
  ASSERT_TRUE(s.g.io.open(20, "/dev/null", gx::OpenStatus::Unknown, gx::Access::Write));
  s.g.io.write(20, "discarded");
  EXPECT_TRUE(s.g.io.close(20));
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  // A device is never "new".
  EXPECT_FALSE(s.g.io.open(20, "/dev/null", gx::OpenStatus::New, gx::Access::Write));
}

TEST(DirectUnits, AKilledWriterLeavesTheOldFile) {
  TempDir d;
  d.write("keep.dat", "old contents\n");
  const std::string name = d.file("keep.dat");
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::istringstream in;
    std::ostringstream out;
    gx::Lib g(in, out);
    if (!g.io.open(20, name, gx::OpenStatus::Unknown, gx::Access::Write)) ::_exit(2);
    for (int i = 0; i < 1000; ++i) g.io.write(20, "new contents that never land");
    g.io.flush();
    ::kill(::getpid(), SIGKILL);  // dies before the unit is closed
    ::_exit(3);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(d.read("keep.dat"), "old contents\n");
}
