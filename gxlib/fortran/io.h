// Numbered I/O units in the Fortran manner: 5 is the terminal input, 6 the
// terminal output, every other number a file opened by name.
//
// Terminal output keeps the carriage-control column: a record that starts
// with a blank begins a new line and the blank is printed; a record that
// starts with "+" continues the current line (the echo of a macro answer
// appears right after its prompt). Prompts leave the cursor on their line.
//
// Regular files written through a unit go to a temporary file beside the
// target that is renamed over it when the unit is closed, so a failed or
// abandoned write never leaves a half-written file under the user's name.
// Terminals, FIFOs and devices (chosen from what the existing path is) are
// direct units: opened in place, written through, never replaced.
#pragma once

#include <fstream>
#include <iosfwd>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "gxlib/fortran/tmpfile.h"

namespace gx {

enum class RdStat { Ok, Eof, Err };

// Text from files as the terminal may show it: a tab becomes a blank and
// every other control character "?", so a stray escape sequence in a
// caption, a title, a help file or a macro never reaches the terminal.
std::string gxprintable(std::string_view text);
enum class OpenStatus { Old, New, Unknown, Replace };
enum class Access { Read, Write };

// A source of terminal lines that shows its own prompt (the line editor at
// a real terminal). readLine returns false when the input has ended.
class LineSource {
 public:
  virtual ~LineSource() = default;
  virtual bool readLine(std::string_view prompt, std::string& line) = 0;
};

// Thrown when the terminal input ends (or a file unit is read at end of
// file over and over): the program's run() catches it and ends cleanly.
// When the terminal read returned because Ctrl-C was pressed, Interrupted
// (gxlib/fortran/interrupt.h) is thrown instead.
struct EndOfInput : std::runtime_error {
  EndOfInput() : std::runtime_error("end of input") {}
};

class Io {
 public:
  static constexpr int kIn = 5;
  static constexpr int kOut = 6;

  // interactive: the terminal echoes the user's RETURN itself, so a record
  // after a prompt answered at the terminal needs no extra line break.
  Io(std::istream& in, std::ostream& out, bool interactive = false);
  ~Io();
  Io(const Io&) = delete;
  Io& operator=(const Io&) = delete;

  // One output record. Unit 6 is the terminal (carriage control applied);
  // any other unit must be an open file, which receives the record as is.
  // On the terminal, control characters in it are shown as "?".
  void write(int unit, std::string_view record);
  // A record of terminal control sequences (screen clearing), sent as is.
  void control(int unit, std::string_view record);
  // Terminal prompt: starts on a fresh line, leaves the cursor after it.
  void prompt(std::string_view text);
  // Bytes to the terminal with no carriage control (escape sequences).
  void raw(std::string_view bytes);
  void flush();

  // Reads one record. width > 0 gives the fixed-width line an A-format read
  // makes: the first width characters, blank-padded. Unit 5 reads the
  // terminal and throws EndOfInput at its end.
  RdStat readLine(int unit, std::string& line, size_t width = 0);
  // List-directed reads of n values (null values keep the old ones).
  RdStat readList(int unit, double* v, int n);
  RdStat readListInt(int unit, long long* v, int n);
  RdStat readListInt(int unit, int* v, int n);

  // Files. Returns false (and opens nothing) on failure.
  bool open(int unit, const std::string& name, OpenStatus st, Access acc,
            bool binary = false);
  // keep = false discards what was written (the target stays as it was).
  bool close(int unit, bool keep = true);
  void closeAll();
  // Files opened so far: a mark taken before a command...
  long long opens() const { return opens_; }
  // ...to close, when the command is cancelled, every file it opened since:
  // what it was writing is discarded (the target stays as it was).
  void discardSince(long long mark);
  bool rewind(int unit);
  bool isOpen(int unit) const;
  std::string nameOf(int unit) const;
  // Records read so far on unit (the terminal: lines read from it): the
  // number of the line read last.
  long long lineOf(int unit) const;
  static bool exists(const std::string& name);
  // Why the last open or close of a file failed, when the system said so
  // ("" otherwise): for the messages that follow "Unable to open".
  const std::string& lastError() const { return error_; }
  // The same as " (why)" to follow a message, "" when nothing is known.
  std::string reason() const { return error_.empty() ? std::string() : " (" + error_ + ")"; }
  // Direct access to a file unit's stream (binary records).
  std::fstream* stream(int unit);
  // Starts the disk write of what a unit being written holds so far and
  // returns at once: a long file then leaves less to wait for when it is
  // closed and made safe. Nothing where the system cannot.
  void startWriteback(int unit);

  std::ostream& terminal() {
    flushPrompt();
    return out_;
  }
  // Terminal lines come from source (not owned; nullptr: the input stream).
  // The prompt before a terminal read is then handed to the source, which
  // draws it; written any other way it would be erased by the editing.
  void setLineSource(LineSource* source) { source_ = source; }
  // Error messages written to the terminal so far: records whose text after
  // the carriage-control column begins with "?".
  long long errorLines() const { return errorLines_; }
  // Lines read from the terminal so far.
  long long terminalLines() const { return termLines_; }

 private:
  struct Unit {
    std::string name;    // the user's name
    std::string target;  // the file the user's name leads to (links followed)
    TempFile tmp;        // temporary file being written, if any
    bool exclusive = false;  // opened as new: created at close, never replacing
    std::vector<char> buf;  // stream buffer of a binary unit (outlives fs)
    std::fstream fs;
    Access acc = Access::Read;
    bool direct = false;  // terminal, FIFO or device: opened in place
    int eofCount = 0;
    long long lines = 0;  // records read since the open or the last rewind
    long long serial = 0;  // its place among the opens of the session
  };
  void flushPrompt();
  // The three ways of opening, by what the name is: a terminal, FIFO or
  // device opened in place; a file read; a file written through a
  // temporary file beside it. False, with error_ set where there is more
  // to say, when it cannot be opened.
  bool openDevice(Unit& u, const std::string& name, Access acc, std::ios::openmode mode);
  bool openReading(Unit& u, const std::string& name, OpenStatus st, bool ex,
                   std::ios::openmode mode);
  bool openWriting(Unit& u, int unit, const std::string& name, OpenStatus st, bool ex,
                   std::ios::openmode mode);

  std::istream& in_;
  std::ostream& out_;
  LineSource* source_ = nullptr;
  std::string pendingPrompt_;  // a prompt the line source has yet to draw
  bool promptPending_ = false;
  long long errorLines_ = 0;
  bool interactive_;
  bool midLine_ = false;
  int termEof_ = 0;
  std::string error_;
  long long termLines_ = 0;
  long long opens_ = 0;  // files opened so far
  std::map<int, std::unique_ptr<Unit>> units_;
};

}  // namespace gx
