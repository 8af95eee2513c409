// Every session the documentation shows is run as it is written there: the
// example of each help entry of both programs, and KESTRIM's first session
// in the README. An example must end back at the command prompt (or end
// the program, as EXIT does) and be refused nowhere.
//
// An example line holds its commands (several on one line are four or more
// blanks apart) and may end in a comment in parentheses; a comment
// "(then A, B and CR twice: ...)" gives the answers typed to its questions,
// CR an empty answer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kestrim/kestrim.h"
#include "tavo/commands.h"

namespace {

namespace fs = std::filesystem;

struct Example {
  std::string entry;  // the help entry it belongs to
  std::string input;  // the lines typed
  bool exits = false; // it ends the program
};

std::string trimmed(const std::string& s) {
  const size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// The answers of a "then ..." comment, one line each.
std::string answers(std::string c) {
  c = c.substr(5);
  c = c.substr(0, c.find_first_of(":)"));
  std::string out;
  size_t at = 0;
  for (;;) {
    size_t next = c.find(',', at), alt = c.find(" and ", at);
    size_t end = std::min(next, alt);
    std::string item = trimmed(c.substr(at, end == std::string::npos ? std::string::npos : end - at));
    int times = 1;
    const char* const counts[] = {" twice", " three times", " four times", " five times",
                                  " six times"};
    for (int k = 0; k < 5; ++k) {
      const std::string w = counts[k];
      if (item.size() > w.size() && item.compare(item.size() - w.size(), w.size(), w) == 0) {
        times = k + 2;
        item = trimmed(item.substr(0, item.size() - w.size()));
      }
    }
    for (int k = 0; k < times; ++k) out += (item == "CR" ? "" : item) + "\n";
    if (end == std::string::npos) break;
    at = end + (end == alt ? 5 : 1);
  }
  return out;
}

// The typed lines of one example line: its commands, then the answers of
// a "then" comment.
std::string typed(const std::string& text) {
  std::string input, rest = text, comment;
  const size_t c = rest.find('(');
  if (c != std::string::npos && (c == 0 || rest.compare(c - 2, 2, "  ") == 0)) {
    comment = rest.substr(c + 1);
    rest = rest.substr(0, c);
  }
  for (size_t at = 0; at < rest.size();) {
    size_t gap = rest.find("    ", at);
    const std::string cmd = trimmed(rest.substr(at, gap == std::string::npos ? gap : gap - at));
    if (!cmd.empty()) input += cmd + "\n";
    if (gap == std::string::npos) break;
    at = gap + 4;
  }
  if (comment.rfind("then ", 0) == 0) input += answers(comment);
  return input;
}

// The examples of a help file: "Example:" lines and the lines indented
// under them.
std::vector<Example> helpExamples(const std::string& file) {
  std::ifstream f(fs::path(TK_SOURCE_DIR) / "share" / file);
  std::vector<Example> v;
  std::string line, entry;
  size_t column = 0;
  // A comment in parentheses may run on over the next lines.
  auto whole = [&f](std::string l) {
    for (std::string more; l.find('(') != std::string::npos && l.find(')') == std::string::npos &&
                           std::getline(f, more);)
      l += " " + trimmed(more);
    return l;
  };
  for (bool in = false; std::getline(f, line);) {
    if (line.rfind('#', 0) == 0) {
      entry = line.substr(1);
      in = false;
      continue;
    }
    if (line.rfind("Example:", 0) == 0) {
      column = line.find_first_not_of(' ', 8);
      v.push_back({entry, typed(whole(line).substr(column))});
      in = true;
    } else if (in && line.size() > column && line.find_first_not_of(' ') == column) {
      v.back().input += typed(whole(line).substr(column));
    } else {
      in = false;
    }
  }
  for (Example& e : v) e.exits = e.input.rfind("EXIT", 0) == 0;
  return v;
}

class Documented : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/documented_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  // A fresh folder holding the examples, as the demonstration has it.
  void freshFolder() {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir_)) fs::remove_all(e.path(), ec);
    for (const auto& e : fs::directory_iterator(fs::path(TK_SOURCE_DIR) / "examples"))
      if (e.is_regular_file() && e.path().filename() != "login.kcm")
        fs::copy_file(e.path(), dir_ / e.path().filename());
  }
  // ENSEMB's example maps the ensemble TOLERA's example writes.
  void madeByTolera() {
    for (const Example& t : helpExamples("tavo.hlp"))
      if (t.entry == "TOLERA") {
        std::istringstream in("DATA triplet\n" + t.input + "EXIT\n");
        std::ostringstream out;
        tavo::run(in, out);
        ASSERT_TRUE(fs::exists("tol1/manifest.txt")) << out.str();
      }
  }
  // Runs one session; says what went wrong, or nothing.
  template <class Run>
  std::string check(Run run, const std::string& prelude, const Example& e,
                    const std::string& sentinel, const std::string& mark) {
    freshFolder();
    if (e.entry == "ENSEMB") madeByTolera();
    std::istringstream in(prelude + e.input + sentinel + "EXIT\n");
    std::ostringstream out;
    run(in, out);
    const std::string text = out.str();
    std::istringstream lines(text);
    for (std::string l; std::getline(lines, l);)
      if (l.rfind("?", 0) == 0 || l.rfind(" ?", 0) == 0) return "refused: " + l;
    const bool back = text.find(mark) != std::string::npos;
    const std::string tail = text.substr(text.size() > 800 ? text.size() - 800 : 0);
    if (e.exits && back) return "did not end the program\n" + tail;
    if (!e.exits && !back) return "left a question waiting\n" + tail;
    return "";
  }
  fs::path dir_, old_;
};

// The ray set the KESTRIM examples work on: run.bin, 500 rays through the
// example triplet, 0.5 % energy spread, with its grid run.agp and listing
// run.lpt; the last command, for PREV, is NTOT.
const char* kRays =
    "SYNTH run\ntriplet\nn\n1\n500\nC\n10 10\n0 0\n0.3 0.3\n0 0\n0.5\n0 0\nQ\nSORT/P run\n\n\n\nM\n"
    "NTOT\n";

TEST_F(Documented, EveryTavoHelpExampleRunsAsWritten) {
  const std::vector<Example> ex = helpExamples("tavo.hlp");
  ASSERT_GT(ex.size(), 60u);
  for (const Example& e : ex) {
    const std::string why = check([](std::istream& i, std::ostream& o) { tavo::run(i, o); },
                                  "DATA triplet_oct\n", e, "HELP XSCTN\n",
                                  "XSCTN is kept for old macros and does nothing.");
    EXPECT_EQ(why, "") << "HELP " << e.entry << ": " << e.input;
  }
}

TEST_F(Documented, EveryKestrimHelpExampleRunsAsWritten) {
  const std::vector<Example> ex = helpExamples("kestrim.hlp");
  ASSERT_GT(ex.size(), 45u);
  for (const Example& e : ex) {
    const std::string why =
        check([](std::istream& i, std::ostream& o) { kestrim::run(i, o); },
              kRays, e, "HELP SMEAR\n",
              "SMEAR is kept for old macros");
    EXPECT_EQ(why, "") << "HELP " << e.entry << ": " << e.input;
  }
}

// A README session: from the line that starts the program, each
// "prompt> " line is a command and each line ending in a question's ">"
// (then, perhaps, what is typed there) an answer, Enter when none;
// comments in parentheses are not typed. It ends with EXIT.
Example readmeSession(const std::string& start, const std::string& prompt) {
  std::ifstream f(fs::path(TK_SOURCE_DIR) / "README.md");
  Example e{"README", "", true};
  bool in = false;
  for (std::string line; std::getline(f, line);) {
    if (line.find(start) != std::string::npos) in = true;
    if (!in || line.rfind("    ", 0) != 0) continue;
    std::string l = line.substr(0, line.find("  ("));
    l = l.substr(0, l.find_last_not_of(' ') + 1);
    if (l.rfind("    " + prompt, 0) == 0) {
      e.input += l.substr(4 + prompt.size()) + "\n";
      if (l.substr(4 + prompt.size()) == "EXIT") break;
    } else if (size_t q = line.rfind("> "); q != std::string::npos) {
      const std::string a = line.substr(q + 2);
      e.input += trimmed(a.substr(0, a.find('('))) + "\n";
    } else if (!trimmed(line).empty() && trimmed(line).back() == '>') {
      e.input += "\n";
    }
  }
  return e;
}

TEST_F(Documented, TheReadmeSessionsRunAsWritten) {
  const Example k = readmeSession("$ ../build/kestrim", "kestrim> ");
  // Twelve answers for SYNTH, two for MAP, four for SORT and one for PROFIL.
  ASSERT_EQ(std::count(k.input.begin(), k.input.end(), '\n'), 6 + 12 + 2 + 4 + 1) << k.input;
  EXPECT_EQ(check([](std::istream& i, std::ostream& o) { kestrim::run(i, o); }, "", k,
                  "HELP SMEAR\n", "SMEAR is kept for old macros"),
            "");
  for (const char* file : {"run.bin", "run.agp", "run.lpt", "runx.fit", "plt01.ps"})
    EXPECT_TRUE(fs::exists(file)) << file;
  const Example t = readmeSession("## A first session", "tav> ");
  ASSERT_EQ(t.input.substr(0, 13), "DATA triplet\n");
  EXPECT_EQ(check([](std::istream& i, std::ostream& o) { tavo::run(i, o); }, "", t,
                  "HELP XSCTN\n", "XSCTN is kept for old macros and does nothing."),
            "");
  EXPECT_TRUE(fs::exists("mine.cof"));
}

// The parser itself on the forms the help files use.
TEST(DocumentedForms, CommandsCommentsAndAnswers) {
  EXPECT_EQ(typed("PLOT/Q            (then X, X, T and CR twice: x phase space)"),
            "PLOT/Q\nX\nX\nT\n\n\n");
  EXPECT_EQ(typed("REG/3 0.5        REG/L"), "REG/3 0.5\nREG/L\n");
  EXPECT_EQ(typed("PTF G        (fields in gauss: 0.3 T shows as 3000)"), "PTF G\n");
  EXPECT_EQ(typed("DATA run          (opens run.bin)"), "DATA run\n");
}

}  // namespace
