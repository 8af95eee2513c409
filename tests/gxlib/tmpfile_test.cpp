// Files being written are never seen half-made: an interrupted writer leaves
// nothing beside the target, a new file never replaces one that appeared
// meanwhile, and temporaries of dead writers are cleared.
#include <gtest/gtest.h>
#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "gxlib/gxlib.h"
#include "test_support.h"
#include "../ci_support.h"

using gxtest::Session;
using gxtest::TempDir;

namespace {
size_t entries(const std::string& dir) {
  size_t n = 0;
  for (auto it = std::filesystem::directory_iterator(dir); it != std::filesystem::directory_iterator(); ++it) ++n;
  return n;
}

// Starts a child that writes name through a unit and stops in the middle;
// returns its pid once the records are on their way. namedOnly: the child
// sees an empty /proc (a mount namespace of its own), so unnamed files
// cannot be reopened and a named temporary is used; -2 when this machine
// does not allow that.
pid_t stalledWriter(const std::string& name, gx::OpenStatus st, bool namedOnly = false) {
  int p[2];
  if (::pipe(p) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(p[0]);
    if (namedOnly && (::unshare(CLONE_NEWNS) != 0 ||
                      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                      ::mount("tmpfs", "/proc", "tmpfs", 0, "size=4k") != 0)) {
      char c = 's';
      if (::write(p[1], &c, 1) != 1) ::_exit(3);
      ::_exit(4);
    }
    std::istringstream in;
    std::ostringstream out;
    gx::Lib g(in, out);
    if (!g.io.open(20, name, st, gx::Access::Write)) ::_exit(2);
    for (int i = 0; i < 5000; ++i) g.io.write(20, "a record that must never land half-way");
    g.io.stream(20)->flush();
    char c = 'w';
    if (::write(p[1], &c, 1) != 1) ::_exit(3);
    ::pause();
    ::_exit(0);
  }
  ::close(p[1]);
  char c;
  if (::read(p[0], &c, 1) != 1) pid = -1;
  ::close(p[0]);
  if (pid > 0 && c == 's') {
    ::waitpid(pid, nullptr, 0);
    return -2;
  }
  return pid;
}
}  // namespace

TEST(Temporaries, KilledOrInterruptedWritersLeaveNothingBehind) {
  for (int sig : {SIGKILL, SIGTERM, SIGINT, SIGHUP}) {
    TempDir d;
    d.write("old.cof", "old\n");
    pid_t pid = stalledWriter(d.file("old.cof"), gx::OpenStatus::Unknown);
    ASSERT_GT(pid, 0);
    ::kill(pid, sig);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << sig;
    EXPECT_EQ(d.read("old.cof"), "old\n") << sig;
    EXPECT_EQ(entries(d.path()), 1u) << "signal " << sig << " left a temporary";
  }
}

TEST(Temporaries, ANewFileNeverReplacesOneMadeMeanwhile) {
  TempDir d;
  Session s;
  ASSERT_TRUE(s.g.io.open(20, d.file("run.cof"), gx::OpenStatus::New, gx::Access::Write));
  s.g.io.write(20, "ours");
  d.write("run.cof", "theirs\n");  // another program took the name
  EXPECT_FALSE(s.g.io.close(20));
  EXPECT_EQ(d.read("run.cof"), "theirs\n");
  EXPECT_FALSE(s.g.io.lastError().empty());
  EXPECT_EQ(entries(d.path()), 1u);
  // With the name free, the file appears complete at close.
  ASSERT_TRUE(s.g.io.open(20, d.file("new.cof"), gx::OpenStatus::New, gx::Access::Write));
  s.g.io.write(20, "ours");
  EXPECT_FALSE(std::filesystem::exists(d.file("new.cof")));
  EXPECT_TRUE(s.g.io.close(20));
  EXPECT_EQ(d.read("new.cof"), "ours\n");
}

TEST(Temporaries, StaleOnesOfDeadWritersAreCleared) {
  TempDir d;
  // A pid that is certainly not running: a child that has been reaped.
  pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  const std::string stale = "set.bin.tmp" + std::to_string(dead) + "_1_8";
  const std::string live = "set.bin.tmp" + std::to_string(::getppid()) + "_1_8";
  d.write(stale, "left by a crash");
  d.write(live, "still being written");
  d.write("set.bin.tmpnotes", "a user's file");
  Session s;
  ASSERT_TRUE(s.g.io.open(8, d.file("set.bin"), gx::OpenStatus::Unknown, gx::Access::Write));
  EXPECT_TRUE(s.g.io.close(8));
  EXPECT_FALSE(std::filesystem::exists(d.file(stale)));
  EXPECT_TRUE(std::filesystem::exists(d.file(live)));
  EXPECT_TRUE(std::filesystem::exists(d.file("set.bin.tmpnotes")));
}

TEST(Temporaries, AReplacedFileKeepsItsPermissions) {
  TempDir d;
  d.write("keep.tav", "old\n");
  std::filesystem::permissions(d.file("keep.tav"), std::filesystem::perms(0640));
  Session s;
  ASSERT_TRUE(s.g.io.open(3, d.file("keep.tav"), gx::OpenStatus::Unknown, gx::Access::Write));
  s.g.io.write(3, "new");
  EXPECT_TRUE(s.g.io.close(3));
  EXPECT_EQ(d.read("keep.tav"), "new\n");
  EXPECT_EQ(std::filesystem::status(d.file("keep.tav")).permissions(), std::filesystem::perms(0640));
}

// Where unnamed files cannot be had, the named temporary beside the target
// is removed by the signals that can be caught, and one left by SIGKILL is
// cleared by the next write of the same target.
TEST(Temporaries, NamedTemporariesGoWithTheWriter) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
    TempDir d;
    d.write("old.cof", "old\n");
    pid_t pid = stalledWriter(d.file("old.cof"), gx::OpenStatus::Unknown, true);
    if (pid == -2) TK_SKIP_OUTSIDE_CI("no private mount namespace here");
    ASSERT_GT(pid, 0);
    EXPECT_EQ(entries(d.path()), 2u) << "no named temporary beside the target";
    ::kill(pid, sig);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << sig;
    EXPECT_EQ(d.read("old.cof"), "old\n") << sig;
    if (sig != SIGKILL) {
      EXPECT_EQ(entries(d.path()), 1u) << "signal " << sig << " left its temporary";
      continue;
    }
    EXPECT_EQ(entries(d.path()), 2u);
    Session s;
    ASSERT_TRUE(s.g.io.open(20, d.file("old.cof"), gx::OpenStatus::Unknown, gx::Access::Write));
    s.g.io.write(20, "new");
    EXPECT_TRUE(s.g.io.close(20));
    EXPECT_EQ(d.read("old.cof"), "new\n");
    EXPECT_EQ(entries(d.path()), 1u) << "the dead writer's temporary was not cleared";
  }
}
