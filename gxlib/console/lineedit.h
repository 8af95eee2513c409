// Line editing at a real terminal: cursor keys and the usual editing keys,
// a history kept across runs in the user's home folder, and TAB completion
// of command words and file names. Used only when both standard input and
// standard output are terminals; macros, pipes and tests never see it.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gxlib/fortran/io.h"

namespace gx {

// What TAB completes, taken from the program's own tables.
struct CompletionTable {
  // The command words in table order (blank slots may be left in): the
  // first word of a line selects the first one that begins with it, as the
  // command loop does.
  std::vector<std::string> words;
  // Further words the first word may be (the library's settings words).
  std::vector<std::string> extraWords;
  // Commands whose argument is a file name.
  std::vector<std::string> fileWords;
  // Extension of the program's macro files (".tcm"): macros run by their
  // name complete as first words, and after "@" without the extension.
  std::string macroExt;
};

// The completions of the text before the cursor: the text from start to
// the cursor is replaced by one of items. A unique command word brings its
// trailing blank, a folder its "/".
struct Completions {
  size_t start = 0;
  std::vector<std::string> items;  // sorted, without duplicates
};
Completions completeLine(const CompletionTable& table, std::string_view before);

// The longest common beginning of items.
std::string commonPrefix(const std::vector<std::string>& items);

// A bounded history of lines kept in a plain file, one entry a line. New
// entries are appended to the file as they come (several sessions at once
// interleave); the file is cut back to the bound, through a temporary
// renamed over it, when it is opened and when the session ends.
class History {
 public:
  // An empty path keeps the history in memory only.
  History(std::string path, size_t bound);
  ~History();
  History(const History&) = delete;
  History& operator=(const History&) = delete;

  // Adds a line (blank lines, and a repeat of the last entry, are not kept).
  // Returns true when it became an entry.
  bool add(const std::string& line);
  const std::deque<std::string>& entries() const { return entries_; }
  // Rewrites the file with the entries kept; false when it could not.
  bool save();

 private:
  void load();
  std::string path_;
  size_t bound_;
  std::deque<std::string> entries_;
  bool dirty_ = false;
};

// $HOME/.<program>_history, or "" when there is no home folder.
std::string historyPath(const std::string& program);

constexpr size_t kHistoryBound = 1000;

// The line editor on the process's terminal.
class LineEditor : public LineSource {
 public:
  LineEditor(const std::string& program, CompletionTable table, const std::string& historyFile,
             size_t bound = kHistoryBound);
  ~LineEditor() override;
  LineEditor(const LineEditor&) = delete;
  LineEditor& operator=(const LineEditor&) = delete;

  // False at the end of the input, and when Ctrl-C was pressed during the
  // read (interruptPending(): the caller then cancels instead of ending).
  bool readLine(std::string_view prompt, std::string& line) override;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace gx
