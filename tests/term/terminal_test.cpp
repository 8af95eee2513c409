// Both programs at a real terminal (a tmux pane): TAB completion, the up
// arrow, Ctrl-C, and the history file they leave in the home folder.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "term_support.h"

namespace {

using termtest::quote;
using termtest::Scratch;

// A tmux server of our own (its own socket) running one program in a pane.
class Pane {
 public:
  // status: the program's exit status is written to .status in the folder
  // (its shell only notes the interrupt key, so it outlives the program).
  Pane(const Scratch& s, const std::string& program, bool status = false)
      : socket_((s.dir() / ".tmux").string()) {
    std::string prog = quote(termtest::program(program));
    if (status) prog = "sh -c " + quote("trap : INT; " + prog + "; echo $? > .status");
    const std::string cmd = "cd " + quote(s.dir().string()) + " && env HOME=" +
                            quote(s.home().string()) + " " + prog;
    ok_ = run("new-session -d -x 120 -y 40 " + quote(cmd)) == 0;
  }
  ~Pane() { run("kill-server"); }
  Pane(const Pane&) = delete;
  Pane& operator=(const Pane&) = delete;

  bool ok() const { return ok_; }
  void keys(const std::string& k) { run("send-keys " + k); }
  // The pane's lines, trailing blank lines dropped.
  std::vector<std::string> screen() {
    const std::string file = socket_ + ".cap";
    std::vector<std::string> v;
    if (run("capture-pane -p -S - > " + quote(file)) != 0) return v;
    std::stringstream ss(termtest::slurp(file));
    for (std::string l; std::getline(ss, l);) {
      while (!l.empty() && l.back() == ' ') l.pop_back();
      v.push_back(l);
    }
    while (!v.empty() && v.back().empty()) v.pop_back();
    return v;
  }
  std::string lastLine() {
    const auto v = screen();
    return v.empty() ? std::string() : v.back();
  }
  bool alive() { return run("has-session") == 0; }
  // Polls until pred holds; false after the timeout.
  template <class Pred>
  bool waitFor(Pred pred, double seconds = 15.0) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      if (pred()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    return pred();
  }
  // The last line is line (trailing blanks do not show on a screen).
  bool waitLast(std::string line) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return waitFor([&] { return lastLine() == line; });
  }
  std::string dump() {
    std::string d;
    for (const auto& l : screen()) d += l + "\n";
    return d;
  }

 private:
  int run(const std::string& args) const {
    return std::system(("tmux -S " + quote(socket_) + " -f /dev/null " + args + " 2>/dev/null").c_str());
  }
  std::string socket_;
  bool ok_ = false;
};

std::vector<std::string> lines(const std::string& path) {
  std::vector<std::string> v;
  std::stringstream ss(termtest::slurp(path));
  for (std::string l; std::getline(ss, l);) v.push_back(l);
  return v;
}

// One session: history of earlier runs recalled, a completed command run
// and recalled, a completed file name, EXIT; then the history file.
void session(const std::string& program, const std::string& prompt, const std::string& typed,
             const std::string& word, const std::string& fileCmd) {
  if (!termtest::have("tmux")) GTEST_FAIL() << "tmux is not installed";
  Scratch s;
  const std::string hist = (s.home() / ("." + program + "_history")).string();
  {
    std::ofstream f(hist);
    for (int i = 1; i <= 1200; ++i) f << "CAP old " << i << "\n";  // past the bound of 1000
  }
  s.write("spot_file.dat", "x\n");
  Pane p(s, program);
  ASSERT_TRUE(p.ok());
  ASSERT_TRUE(p.waitLast(prompt)) << p.dump();
  // The up arrow brings back the last line of the earlier runs.
  p.keys("Up");
  ASSERT_TRUE(p.waitLast(prompt + "CAP old 1200")) << p.dump();
  p.keys("C-u " + typed + " Tab");
  ASSERT_TRUE(p.waitLast(prompt + word)) << p.dump();
  p.keys("Enter");
  // The command ran and the prompt is back; the up arrow recalls it.
  ASSERT_TRUE(p.waitFor([&] { return p.screen().size() > 4 && p.lastLine() + " " == prompt; })) << p.dump();
  p.keys("Up");
  ASSERT_TRUE(p.waitLast(prompt + word)) << p.dump();
  // A file name after a command that takes one.
  p.keys("C-u " + quote(fileCmd + " spot_") + " Tab");
  ASSERT_TRUE(p.waitLast(prompt + fileCmd + " spot_file.dat")) << p.dump();
  p.keys("C-u EXIT Enter");
  ASSERT_TRUE(p.waitFor([&] { return !p.alive(); })) << p.dump();
  const std::vector<std::string> h = lines(hist);
  // Cut to its bound, the oldest lines gone, the new ones at the end.
  ASSERT_EQ(h.size(), 1000u);
  EXPECT_EQ(h[0], "CAP old 203");
  EXPECT_EQ(h[997], "CAP old 1200");
  EXPECT_EQ(h[998], word);
  EXPECT_EQ(h[999], "EXIT");
  // Nothing was left in the working folder.
  for (const auto& e : std::filesystem::directory_iterator(s.dir())) {
    const std::string n = e.path().filename().string();
    EXPECT_TRUE(n == "home" || n == "spot_file.dat" || n.rfind(".tmux", 0) == 0 || n == ".out" ||
                n == ".err")
        << n;
  }
}

TEST(RealTerminal, TavoCompletesRecallsAndKeepsHistory) {
  session("tavo", "tav> ", "SY", "SYSTEM", "DATA");
}

TEST(RealTerminal, KestrimCompletesRecallsAndKeepsHistory) {
  session("kestrim", "kestrim> ", "NT", "NTOT", "DATA");
}

}  // namespace

namespace {

// A line far longer than the editor's own buffers, sent away with the up
// arrow and brought back with the down arrow: the command gets exactly what
// was typed, and so does the history file.
TEST(RealTerminal, ALongLineRecalledAndRestoredIsTakenAsTyped) {
  if (!termtest::have("tmux")) GTEST_FAIL() << "tmux is not installed";
  Scratch s;
  const std::string hist = (s.home() / ".tavo_history").string();
  { std::ofstream(hist) << "CAP earlier\n"; }
  Pane p(s, "tavo");
  ASSERT_TRUE(p.ok());
  ASSERT_TRUE(p.waitLast("tav> ")) << p.dump();
  std::string typed = "QQQ";
  for (int i = 0; typed.size() < 3000; ++i) typed += std::to_string(i % 10);
  // In pieces: one send-keys argument of 3000 characters is too much for
  // some shells' command lines.
  for (size_t at = 0; at < typed.size(); at += 500) p.keys("-l " + quote(typed.substr(at, 500)));
  p.keys("Up");
  ASSERT_TRUE(p.waitLast("tav> CAP earlier")) << p.dump();
  p.keys("Down Enter");
  ASSERT_TRUE(p.waitFor([&] { return p.dump().find("?QQQ012") != std::string::npos; })) << p.dump();
  ASSERT_TRUE(p.waitLast("tav> ")) << p.dump();
  p.keys("EXIT Enter");
  ASSERT_TRUE(p.waitFor([&] { return !p.alive(); })) << p.dump();
  const std::vector<std::string> h = lines(hist);
  ASSERT_EQ(h.size(), 3u);
  EXPECT_EQ(h[0], "CAP earlier");
  EXPECT_EQ(h[1], typed);
  EXPECT_EQ(h[2], "EXIT");
}

}  // namespace

namespace {

// Lines typed ahead, each followed by Enter.
void typeLines(Pane& p, const std::string& text) {
  std::stringstream in(text);
  for (std::string l; std::getline(in, l);) p.keys((l.empty() ? std::string() : quote(l) + " ") + "Enter");
}

// Ctrl-C at a question and during long work returns to the command prompt
// with the system as it was; a second Ctrl-C at the prompt ends the program
// like EXIT (the history written) with the status of an interrupt, 130.
struct CtrlC {
  std::string program, prompt;
  std::string setup;     // lines that load a system
  std::string question;  // a command that asks a question
  std::string longWork;  // a command that works for a long time, with its answers
  int workMs;            // how long it runs before the key is pressed
  std::string check;     // a command whose answer shows the system...
  std::string checked;   // ...in this text
};

void ctrlC(const CtrlC& c) {
  if (!termtest::have("tmux")) GTEST_FAIL() << "tmux is not installed";
  Scratch s;
  const std::filesystem::path ex = std::filesystem::path(TK_SOURCE_DIR) / "examples";
  std::filesystem::copy_file(ex / "triplet.tav", s.dir() / "triplet.tav");
  std::filesystem::copy_file(ex / "triplet.cof", s.dir() / "triplet.cof");
  std::filesystem::copy_file(ex / "triplet.cof", s.dir() / "big.cof");
  Pane p(s, c.program, true);
  ASSERT_TRUE(p.ok());
  ASSERT_TRUE(p.waitLast(c.prompt)) << p.dump();
  auto atPrompt = [&](const std::string& text, size_t n) {
    return p.waitFor([&] {
      const std::string d = p.dump();
      return termtest::count(d, text) == n && p.lastLine() + " " == c.prompt;
    }, 90.0);
  };
  typeLines(p, c.setup + "\n" + c.check);
  ASSERT_TRUE(atPrompt(c.checked, 1)) << p.dump();
  // A question waiting for its answer.
  typeLines(p, c.question);
  ASSERT_TRUE(p.waitFor([&] {
    const std::string l = p.lastLine();
    return l.find('>') != std::string::npos && l + " " != c.prompt;
  })) << p.dump();
  p.keys("C-c");
  ASSERT_TRUE(atPrompt(" Interrupted", 1)) << p.dump();
  // Long work under way.
  typeLines(p, c.longWork);
  std::this_thread::sleep_for(std::chrono::milliseconds(c.workMs));
  p.keys("C-c");
  ASSERT_TRUE(atPrompt(" Interrupted", 2)) << p.dump();
  // The records as they were: the same answer as before.
  typeLines(p, c.check);
  ASSERT_TRUE(atPrompt(c.checked, 2)) << p.dump();
  // A press at the prompt after a line was typed only says how to end...
  p.keys("C-c");
  ASSERT_TRUE(p.waitFor([&] { return p.dump().find("Ctrl-C again") != std::string::npos; })) << p.dump();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(std::filesystem::exists(s.dir() / ".status"));
  // ...the second one ends the program.
  p.keys("C-c");
  ASSERT_TRUE(p.waitFor([&] { return std::filesystem::exists(s.dir() / ".status"); })) << p.dump();
  ASSERT_TRUE(p.waitFor([&] { return termtest::slurp(s.dir() / ".status") == "130\n"; }))
      << termtest::slurp(s.dir() / ".status");
  const std::vector<std::string> h = lines((s.home() / ("." + c.program + "_history")).string());
  ASSERT_FALSE(h.empty());
  EXPECT_EQ(h.back(), c.check);
}

TEST(RealTerminal, TavoCtrlCCancelsTheCommandAndTwiceEndsTheSession) {
  // EXACT with a fringe a hundredth of the bore integrates for a minute.
  ctrlC({"tavo", "tav> ", "DATA triplet\nFRINGE 0.01", "ELEMEN 4", "EXACT", 1500, "SYSTEM",
         "Focal length                   0.409660"});
}

TEST(RealTerminal, KestrimCtrlCCancelsTheCommandAndTwiceEndsTheSession) {
  // 200000 rays (the most one pass makes) into big.bin; the set in memory
  // stays the 300 rays of triplet.bin whenever the key comes.
  const std::string answers = "\nC\n10 10\n0 0\n0.3 0.3\n0 0\n0\n0 0";
  ctrlC({"kestrim", "kestrim> ", "SYNTH/N triplet\n1\n300" + answers + "\nQ", "DATA",
         "SYNTH/N big\n1\n200000" + answers, 100, "NTOT",
         "Total number of ray vectors =     302"});
}

}  // namespace
