#include "gxlib/console/lineedit.h"

#include <fcntl.h>
#include <histedit.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "gxlib/console/converse.h"
#include "gxlib/fortran/interrupt.h"
#include "gxlib/fortran/tmpfile.h"

namespace gx {

namespace {

namespace fs = std::filesystem;

// A folder of tens of thousands of files is listed no further than this.
constexpr size_t kMaxCandidates = 2000;
// Longer lines are not worth recalling (and no command line is this long).
constexpr size_t kMaxHistoryLine = 4096;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string upperCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string lowerCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool hasLower(std::string_view s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return std::islower(static_cast<unsigned char>(c)) != 0; });
}

bool startsWith(std::string_view s, std::string_view p) {
  return s.size() >= p.size() && s.compare(0, p.size(), p) == 0;
}

bool endsWith(std::string_view s, std::string_view p) {
  return s.size() >= p.size() && s.compare(s.size() - p.size(), p.size(), p) == 0;
}

void sortUnique(std::vector<std::string>& v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

// File names in the folder of arg that begin with its last part. A folder
// ends in "/"; with ext given only macro files are offered, without their
// extension (stripped unless the stem holds a dot and dotAsIs is set: the
// program then takes such a name as it stands).
std::vector<std::string> fileNames(std::string_view arg, const std::string& ext, bool dotAsIs) {
  std::vector<std::string> out;
  const size_t slash = arg.rfind('/');
  const std::string dirPart(slash == std::string_view::npos ? std::string_view() : arg.substr(0, slash + 1));
  const std::string base(slash == std::string_view::npos ? arg : arg.substr(slash + 1));
  const fs::path dir = dirPart.empty() ? fs::path(".") : fs::path(dirPart);
  std::error_code ec;
  fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
  if (ec) return out;
  for (const fs::directory_iterator end; it != end && out.size() < kMaxCandidates; it.increment(ec)) {
    if (ec) break;
    const std::string name = it->path().filename().string();
    if (!startsWith(name, base)) continue;
    if (name[0] == '.' && (base.empty() || base[0] != '.')) continue;
    std::error_code ec2;
    if (it->is_directory(ec2)) {
      out.push_back(dirPart + name + "/");
    } else if (ext.empty()) {
      out.push_back(dirPart + name);
    } else if (endsWith(name, ext) && name.size() > ext.size()) {
      const std::string stem = name.substr(0, name.size() - ext.size());
      if (dotAsIs && stem.find('.') != std::string::npos)
        out.push_back(dirPart + name);
      else
        out.push_back(dirPart + stem);
    }
  }
  sortUnique(out);
  return out;
}

// Command words (and macro names) that begin with the typed text. Words
// match in either case and come back in the case typed.
std::vector<std::string> commandWords(const CompletionTable& t, std::string_view typed) {
  std::vector<std::string> out;
  const std::string up = upperCase(std::string(typed));
  const bool lower = hasLower(typed);
  auto offer = [&](const std::string& w) {
    if (w.empty() || !std::isalpha(static_cast<unsigned char>(w[0]))) return;
    if (startsWith(w, up)) out.push_back(lower ? lowerCase(w) : w);
  };
  for (const std::string& w : t.words) offer(w);
  for (const std::string& w : t.extraWords) offer(w);
  if (!t.macroExt.empty() && typed.find('/') == std::string_view::npos) {
    // Only a name the loop can take whole as its word (six characters).
    for (const std::string& m : fileNames(typed, t.macroExt, false))
      if (m.back() != '/' && m.find('.') == std::string::npos && m.size() <= 6) out.push_back(m);
  }
  sortUnique(out);
  return out;
}

}  // namespace

std::string commonPrefix(const std::vector<std::string>& items) {
  if (items.empty()) return std::string();
  std::string p = items[0];
  for (const std::string& s : items) {
    size_t n = 0;
    while (n < p.size() && n < s.size() && p[n] == s[n]) ++n;
    p.resize(n);
  }
  return p;
}

Completions completeLine(const CompletionTable& t, std::string_view before) {
  Completions c;
  size_t lead = 0;
  while (lead < before.size() && isBlank(before[lead])) ++lead;
  const std::string_view rest = before.substr(lead);
  c.start = lead;
  if (!rest.empty() && rest[0] == '@') {
    // "@name" and "@ name" both run a macro.
    size_t a = 1;
    while (a < rest.size() && isBlank(rest[a])) ++a;
    const std::string_view arg = rest.substr(a);
    if (std::any_of(arg.begin(), arg.end(), isBlank)) return c;
    c.start = lead + a;
    c.items = fileNames(arg, t.macroExt, true);
    return c;
  }
  if (!rest.empty() && !std::isalpha(static_cast<unsigned char>(rest[0]))) return c;
  const size_t wordEnd = std::find_if(rest.begin(), rest.end(), isBlank) - rest.begin();
  if (wordEnd == rest.size()) {
    if (rest.find('/') != std::string_view::npos) return c;  // a qualifier
    c.items = commandWords(t, rest);
    if (c.items.size() == 1) c.items[0] += ' ';
    return c;
  }
  // The argument of a command that takes a file name.
  std::string word(rest.substr(0, std::min(wordEnd, rest.find('/'))));
  word = upperCase(word.substr(0, 6));
  size_t a = wordEnd;
  while (a < rest.size() && isBlank(rest[a])) ++a;
  const std::string_view arg = rest.substr(a);
  if (std::any_of(arg.begin(), arg.end(), isBlank)) return c;
  std::vector<const char*> words;
  for (const std::string& w : t.words) words.push_back(w.c_str());
  const int slot = gxlookup(word + " ", words.data(), words.size());
  if (slot <= 0) return c;
  const std::string& cmd = t.words[static_cast<size_t>(slot - 1)];
  if (std::find(t.fileWords.begin(), t.fileWords.end(), cmd) == t.fileWords.end()) return c;
  c.start = lead + a;
  c.items = fileNames(arg, std::string(), false);
  return c;
}

// ---------------------------------------------------------------------------
// History file.

std::string historyPath(const std::string& program) {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return std::string();
  std::error_code ec;
  if (!fs::is_directory(home, ec)) return std::string();
  std::string h(home);
  if (h.back() != '/') h += '/';
  return h + "." + program + "_history";
}

History::History(std::string path, size_t bound) : path_(std::move(path)), bound_(bound) {
  if (bound_ == 0) bound_ = 1;
  load();
}

History::~History() { save(); }

void History::load() {
  if (path_.empty()) return;
  std::ifstream f(path_);
  if (!f) return;
  size_t lines = 0;
  std::string line;
  while (std::getline(f, line)) {
    ++lines;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.size() > kMaxHistoryLine) continue;
    entries_.push_back(line);
    if (entries_.size() > bound_) entries_.pop_front();
  }
  // A file grown past its bound (sessions append) is cut back now.
  dirty_ = lines > bound_;
  if (dirty_) save();
}

bool History::add(const std::string& raw) {
  std::string line = raw;
  // Trailing blanks (a completed word brings one) mean nothing to a command.
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ' ||
                           line.back() == '\t'))
    line.pop_back();
  if (line.find_first_not_of(" \t") == std::string::npos) return false;
  if (line.size() > kMaxHistoryLine || line.find('\n') != std::string::npos) return false;
  if (!entries_.empty() && entries_.back() == line) return false;
  entries_.push_back(line);
  if (entries_.size() > bound_) {
    entries_.pop_front();
    dirty_ = true;
  }
  if (!path_.empty()) {
    // One write of the whole line in append mode: sessions side by side
    // interleave whole lines and never tear one another's.
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
      const std::string rec = line + "\n";
      const ssize_t n = ::write(fd, rec.data(), rec.size());
      if (n != static_cast<ssize_t>(rec.size())) dirty_ = true;  // rewritten whole at the end
      ::close(fd);
    }
    // The file may now hold more than the bound; it is cut at the end.
    dirty_ = true;
  }
  return true;
}

bool History::save() {
  if (path_.empty() || !dirty_) return true;
  // Through a link the file it names is rewritten, not the link.
  std::string target = path_;
  std::error_code ec;
  if (fs::is_symlink(target, ec)) {
    auto real = fs::weakly_canonical(target, ec);
    if (!ec) target = real.string();
  }
  // Entries other sessions appended since this one started are kept: the
  // file is read again and only its last bound lines stay.
  std::deque<std::string> keep;
  {
    std::ifstream f(target);
    std::string line;
    while (f && std::getline(f, line)) {
      if (line.empty() || line.size() > kMaxHistoryLine) continue;
      keep.push_back(line);
      if (keep.size() > bound_) keep.pop_front();
    }
  }
  if (keep.empty()) keep = entries_;
  TempFile tmp;
  if (!tempCreate(target, "history", tmp)) return false;
  {
    std::ofstream o(tmp.path, std::ios::trunc);
    for (const std::string& e : keep) o << e << '\n';
    o.flush();
    if (!o) {
      tempDiscard(tmp);
      return false;
    }
  }
  if (!tempCommit(tmp, target, false, 0600)) return false;
  dirty_ = false;
  return true;
}

// ---------------------------------------------------------------------------
// The editor.

struct LineEditor::Impl {
  Impl(const std::string& program, CompletionTable t, const std::string& file, size_t bound)
      : table(std::move(t)), history(file, bound) {
    el = el_init(program.c_str(), stdin, stdout, stderr);
    hist = ::history_init();
    if (el == nullptr || hist == nullptr) return;
    el_set(el, EL_CLIENTDATA, static_cast<void*>(this));
    el_set(el, EL_EDITOR, "emacs");
    el_set(el, EL_SIGNAL, 1);
    el_set(el, EL_PROMPT, &Impl::promptText);
    // The wide form keeps the pointers it is given (the narrow one copies
    // them and never frees the copies).
    el_wset(el, EL_ADDFN, L"gx-complete", L"Complete a command word or file name", &Impl::complete);
    el_set(el, EL_BIND, "^I", "gx-complete", nullptr);
    el_source(el, nullptr);  // the user's own ~/.editrc
    // Earlier lines are recalled by our own functions: the editor's keeps
    // the line being typed in a buffer of fixed size and reads past it when
    // that line is longer. Bound after the user's file, so they stay ours.
    el_wset(el, EL_ADDFN, L"gx-prev", L"The previous line of the history", &Impl::previous);
    el_wset(el, EL_ADDFN, L"gx-next", L"The next line of the history", &Impl::next);
    for (const char* k : {"^P", "\\e[A", "\\eOA", "\\ep"}) el_set(el, EL_BIND, k, "gx-prev", nullptr);
    for (const char* k : {"^N", "\\e[B", "\\eOB", "\\en"}) el_set(el, EL_BIND, k, "gx-next", nullptr);
    // The incremental searches use the same buffer: not offered.
    for (const char* k : {"^R", "^S"}) el_set(el, EL_BIND, k, "ed-unassigned", nullptr);
  }
  ~Impl() {
    if (el) el_end(el);
    if (hist) ::history_end(hist);
  }

  static Impl* of(EditLine* e) {
    void* p = nullptr;
    el_get(e, EL_CLIENTDATA, &p);
    return static_cast<Impl*>(p);
  }

  static char* promptText(EditLine* e) {
    Impl* self = of(e);
    return const_cast<char*>(self ? self->prompt.c_str() : "");
  }

  static unsigned char complete(EditLine* e, int) {
    Impl* self = of(e);
    if (!self) return CC_ERROR;
    const LineInfo* li = el_line(e);
    const std::string before(li->buffer, static_cast<size_t>(li->cursor - li->buffer));
    const Completions c = completeLine(self->table, before);
    if (c.items.empty()) return CC_REFRESH_BEEP;
    const std::string typed = before.substr(c.start);
    const std::string put = c.items.size() == 1 ? c.items[0] : commonPrefix(c.items);
    if (put != typed && put.size() >= typed.size()) {
      el_deletestr(e, static_cast<int>(typed.size()));
      el_insertstr(e, put.c_str());
      return CC_REFRESH;
    }
    if (c.items.size() == 1) return CC_REFRESH;
    // No further common part: list the choices under the line.
    size_t width = 0;
    for (const std::string& s : c.items) width = std::max(width, s.size());
    width += 2;
    const size_t cols = std::max<size_t>(1, 78 / width);
    std::fputc('\n', stdout);
    for (size_t i = 0; i < c.items.size(); ++i) {
      std::fprintf(stdout, "%-*s", static_cast<int>(width), c.items[i].c_str());
      if ((i + 1) % cols == 0 || i + 1 == c.items.size()) std::fputc('\n', stdout);
    }
    std::fflush(stdout);
    return CC_REDISPLAY;
  }

  static unsigned char previous(EditLine* e, int) {
    Impl* self = of(e);
    return self ? self->recall(e, -1) : CC_ERROR;
  }
  static unsigned char next(EditLine* e, int) {
    Impl* self = of(e);
    return self ? self->recall(e, +1) : CC_ERROR;
  }
  // Replaces the line with the history entry one step back (-1) or on (+1);
  // one step past the newest entry is the line that was being typed.
  unsigned char recall(EditLine* e, int dir) {
    const std::deque<std::string>& h = history.entries();
    if (recallAt > h.size()) recallAt = h.size();
    const LineInfo* li = el_line(e);
    const std::string now(li->buffer, static_cast<size_t>(li->lastchar - li->buffer));
    if (recallAt == h.size()) typing = now;
    if (dir < 0 ? recallAt == 0 : recallAt >= h.size()) return CC_REFRESH_BEEP;
    const size_t to = dir < 0 ? recallAt - 1 : recallAt + 1;
    const std::string& put = to == h.size() ? typing : h[to];
    el_cursor(e, static_cast<int>(li->lastchar - li->cursor));
    el_deletestr(e, static_cast<int>(now.size()));
    if (el_insertstr(e, put.c_str()) != 0) {
      // Too long for the editor: the line typed comes back instead.
      el_insertstr(e, to == h.size() ? "" : typing.c_str());
      recallAt = h.size();
      return CC_REFRESH_BEEP;
    }
    recallAt = to;
    return CC_REFRESH;
  }

  CompletionTable table;
  History history;
  size_t recallAt = 0;   // history entry on the line (entries().size(): none)
  std::string typing;    // the line being typed when the recall began
  std::string prompt;
  EditLine* el = nullptr;
  ::History* hist = nullptr;
};

LineEditor::LineEditor(const std::string& program, CompletionTable table,
                       const std::string& historyFile, size_t bound)
    : impl_(std::make_unique<Impl>(program, std::move(table), historyFile, bound)) {}

LineEditor::~LineEditor() = default;

bool LineEditor::readLine(std::string_view prompt, std::string& line) {
  Impl& m = *impl_;
  line.clear();
  if (m.el == nullptr) {
    // No editor could be made: read the terminal plainly.
    std::fputs(std::string(prompt).c_str(), stdout);
    std::fflush(stdout);
    int ch;
    bool any = false;
    while ((ch = std::fgetc(stdin)) != EOF) {
      any = true;
      if (ch == '\n') break;
      line.push_back(static_cast<char>(ch));
    }
    if (interruptPending()) {
      // Ctrl-C: the read returned early; what was typed is dropped.
      std::clearerr(stdin);
      line.clear();
      return false;
    }
    return any;
  }
  m.prompt.assign(prompt);
  m.recallAt = m.history.entries().size();
  m.typing.clear();
  int count = 0;
  const char* got = el_gets(m.el, &count);
  if (interruptPending()) {
    // Ctrl-C (the read returns early, EINTR): the line being typed is
    // dropped and the next prompt starts on an empty one.
    el_reset(m.el);
    return false;
  }
  if (got == nullptr || count <= 0) return false;
  line.assign(got, static_cast<size_t>(count));
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  m.history.add(line);
  return true;
}

}  // namespace gx
