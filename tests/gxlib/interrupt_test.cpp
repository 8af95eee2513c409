// Ctrl-C in the library: the signal counted by the handler, the terminal
// read that returns because of it, the poll of long work, and the files a
// cancelled command had opened.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/interrupt.h"
#include "gxlib/gxlib.h"

namespace {

namespace fs = std::filesystem;

struct Cleared : ::testing::Test {
  void SetUp() override { gx::interruptClear(); }
  void TearDown() override { gx::interruptClear(); }
};

// A terminal whose read returns early, as the line editor's does when the
// key is pressed (or the input ends when pressed is false).
struct Returning : gx::LineSource {
  bool pressed = true;
  bool readLine(std::string_view, std::string&) override {
    if (pressed) gx::interruptRaise();
    return false;
  }
};

using Interrupt = Cleared;

TEST_F(Interrupt, TheHandlerCountsTheKeyAndTheProcessGoesOn) {
  struct sigaction old {};
  ASSERT_EQ(::sigaction(SIGINT, nullptr, &old), 0);
  gx::interruptInstall();
  EXPECT_FALSE(gx::interruptPending());
  ASSERT_EQ(::raise(SIGINT), 0);
  EXPECT_TRUE(gx::interruptPending());
  // Installed without SA_RESTART: a waiting read returns.
  struct sigaction now {};
  ::sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_flags & SA_RESTART, 0);
  gx::interruptClear();
  EXPECT_FALSE(gx::interruptPending());
  ::sigaction(SIGINT, &old, nullptr);
}

TEST_F(Interrupt, AnIgnoredKeyStaysIgnored) {
  struct sigaction old {};
  ASSERT_EQ(::sigaction(SIGINT, nullptr, &old), 0);
  ::signal(SIGINT, SIG_IGN);
  gx::interruptInstall();
  struct sigaction now {};
  ::sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
  ::sigaction(SIGINT, &old, nullptr);
}

TEST_F(Interrupt, ATerminalReadCutShortThrowsInterruptedNotEndOfInput) {
  std::istringstream in;
  std::ostringstream out;
  gx::Lib g(in, out, true);
  Returning keys;
  g.io.setLineSource(&keys);
  std::string reply;
  EXPECT_THROW(gx::gxprompt(g, gx::Io::kIn, gx::Io::kOut, "Answer > ", reply), gx::Interrupted);
  gx::interruptClear();
  keys.pressed = false;
  EXPECT_THROW(gx::gxprompt(g, gx::Io::kIn, gx::Io::kOut, "Answer > ", reply), gx::EndOfInput);
}

TEST_F(Interrupt, PollThrowsOnlyOnceTheKeyWasPressed) {
  std::istringstream in;
  std::ostringstream out;
  gx::Lib g(in, out);
  int polls = 0;
  g.onPoll = [&] { ++polls; };
  EXPECT_NO_THROW(gx::gxpoll(g));
  gx::interruptRaise();
  EXPECT_THROW(gx::gxpoll(g), gx::Interrupted);
  EXPECT_EQ(polls, 2);
}

class CancelFiles : public Cleared {
 protected:
  void SetUp() override {
    Cleared::SetUp();
    char tmpl[] = "/tmp/gxcancelXXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    fs::remove_all(dir_);
    Cleared::TearDown();
  }
  static std::string slurp(const fs::path& p) {
    std::ifstream f(p);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  fs::path dir_;
};

TEST_F(CancelFiles, WhatTheCommandWasWritingIsDiscardedAndEarlierFilesStay) {
  std::istringstream in;
  std::ostringstream out;
  gx::Lib g(in, out, true);
  g.userAtTerminal = true;
  const std::string kept = (dir_ / "kept.txt").string(), old = (dir_ / "old.txt").string();
  { std::ofstream(old) << "the old file\n"; }
  // A file opened before the command stays open and is completed later.
  ASSERT_TRUE(g.io.open(20, kept, gx::OpenStatus::Unknown, gx::Access::Write));
  g.io.write(20, "before");
  const long long mark = g.io.opens();
  // The command replaces old.txt and is stopped half-way.
  ASSERT_TRUE(g.io.open(21, old, gx::OpenStatus::Unknown, gx::Access::Write));
  g.io.write(21, "half of the new");
  gx::gxcommandstart(g, gx::Io::kIn);
  gx::interruptRaise();
  EXPECT_EQ(gx::gxcancelled(g, gx::Io::kOut, mark), gx::After::Go);
  EXPECT_FALSE(gx::interruptPending());
  EXPECT_FALSE(g.io.isOpen(21));
  EXPECT_EQ(slurp(old), "the old file\n");
  ASSERT_TRUE(g.io.isOpen(20));
  EXPECT_TRUE(g.io.close(20));
  EXPECT_EQ(slurp(kept), "before\n");
  // Nothing else was left in the folder.
  size_t n = 0;
  for (const auto& e : fs::directory_iterator(dir_)) n += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(out.str(), " Interrupted\n");
  EXPECT_EQ(g.failures, 1);
}

TEST_F(CancelFiles, InAMacroOrWithNobodyAtTheTerminalTheMessageSaysWhatEnds) {
  std::istringstream in;
  std::ostringstream out;
  gx::Lib g(in, out);
  const std::string mac = (dir_ / "m.tcm").string();
  { std::ofstream(mac) << "ONE\nTWO\n"; }
  ASSERT_TRUE(g.io.open(15, mac, gx::OpenStatus::Old, gx::Access::Read));
  std::string line;
  g.io.readLine(15, line);
  g.io.readLine(15, line);
  gx::gxcommandstart(g, 15);
  g.userAtTerminal = true;
  EXPECT_EQ(gx::gxcancelled(g, gx::Io::kOut, g.io.opens()), gx::After::LeaveMacros);
  EXPECT_EQ(out.str(), " Interrupted at line 2 of " + mac + "; the macro is left.\n");
  EXPECT_FALSE(g.endedByCtrlc);
  out.str("");
  g.userAtTerminal = false;
  EXPECT_EQ(gx::gxcancelled(g, gx::Io::kOut, g.io.opens()), gx::After::Stop);
  EXPECT_EQ(out.str(), " Interrupted at line 2 of " + mac + "; the run stops.\n");
  EXPECT_TRUE(g.endedByCtrlc);
}

TEST_F(Interrupt, AtThePromptTheSecondPressInARowEnds) {
  std::istringstream in;
  std::ostringstream out;
  gx::Lib g(in, out);
  g.userAtTerminal = true;
  EXPECT_FALSE(gx::gxpromptinterrupt(g, gx::Io::kOut, "TAVO"));
  EXPECT_EQ(out.str(), " Ctrl-C again, Ctrl-D or EXIT ends TAVO.\n");
  // A line typed in between starts the count again.
  gx::gxcommandstart(g, gx::Io::kIn);
  EXPECT_FALSE(gx::gxpromptinterrupt(g, gx::Io::kOut, "TAVO"));
  EXPECT_FALSE(g.endedByCtrlc);
  EXPECT_TRUE(gx::gxpromptinterrupt(g, gx::Io::kOut, "TAVO"));
  EXPECT_TRUE(g.endedByCtrlc);
  EXPECT_NE(out.str().find(" Interrupted: TAVO ends.\n"), std::string::npos);
}

}  // namespace
