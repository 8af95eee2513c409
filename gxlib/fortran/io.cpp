#include "gxlib/fortran/io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <istream>
#include <ostream>

#include "gxlib/fortran/fortio.h"
#include "gxlib/fortran/interrupt.h"
#include "gxlib/fortran/tmpfile.h"

namespace gx {

namespace {
// A file unit read at its end this many times in a row is a loop that
// cannot make progress: end the session instead of spinning.
constexpr int kEofLimit = 1000;

// No record of ours comes near this: a longer line (a binary file, a file
// of one endless line) is not held in memory whole.
constexpr size_t kMaxRecord = 65536;
// A line that runs on this far without an end is not text at all (a huge
// sparse file, /dev/zero as input): reading stops instead of skipping on.
constexpr long long kMaxSkip = 16LL << 20;

enum class LineStat { Ok, Long, Endless, End };

// One line of at most kMaxRecord characters; the rest of a longer line is
// skipped up to its end, so the next read starts on the next line.
LineStat boundedLine(std::istream& is, std::string& s) {
  s.clear();
  std::streambuf* sb = is.rdbuf();
  if (!sb || !is.good()) {
    is.setstate(std::ios::failbit);
    return LineStat::End;
  }
  bool any = false, tooLong = false;
  long long skipped = 0;
  for (;;) {
    const int c = sb->sbumpc();
    if (c == std::char_traits<char>::eof()) {
      is.setstate(any ? std::ios::eofbit : std::ios::eofbit | std::ios::failbit);
      if (!any) return LineStat::End;
      break;
    }
    any = true;
    if (c == '\n') break;
    if (s.size() < kMaxRecord) {
      s.push_back(static_cast<char>(c));
    } else {
      tooLong = true;
      if (++skipped > kMaxSkip) {
        is.setstate(std::ios::eofbit | std::ios::failbit);
        return LineStat::Endless;
      }
    }
  }
  return tooLong ? LineStat::Long : LineStat::Ok;
}

// Terminals, FIFOs, sockets and devices are written in place: a temporary
// renamed over one of them would replace the device by a regular file.
bool directKind(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return false;
  return S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode);
}

bool isPipe(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

// The program's standard output is a pipe whose reader has gone (the
// program piped into head, a pager quit): its writes fail for good.
bool stdoutPipeBroken(const std::ostream& out) {
  if (&out != &std::cout || !out.bad()) return false;
  struct pollfd p {1, POLLOUT, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0;
}

// A FIFO opened for writing blocks until a reader comes; a non-blocking
// open tells whether one is there. The probe's end is held open until the
// real one is: closed before, it would be the last writer leaving, and a
// reader that has just woken (cat, a plotter) takes that for the end of the
// data and goes away, so that the real open then waits for ever.
struct PipeProbe {
  int fd = -1;
  bool reader = true;
  PipeProbe() = default;
  PipeProbe(const PipeProbe&) = delete;
  PipeProbe& operator=(const PipeProbe&) = delete;
  ~PipeProbe() {
    if (fd >= 0) ::close(fd);
  }
};

void probePipe(const std::string& name, PipeProbe& p) {
  if (!isPipe(name)) return;
  // A reader being started just now gets two seconds to open its end.
  for (int tries = 0; tries < 200; ++tries) {
    p.fd = ::open(name.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (p.fd >= 0) return;
    if (errno != ENXIO) break;
    ::usleep(10000);
  }
  p.reader = false;
}
}  // namespace

std::string gxprintable(std::string_view text) {
  std::string t(text);
  for (char& ch : t) {
    const unsigned char u = static_cast<unsigned char>(ch);
    if (u < 0x20 || u == 0x7f) ch = ch == '\t' ? ' ' : '?';
  }
  return t;
}

namespace {
bool hasControl(std::string_view t) {
  for (unsigned char u : t)
    if (u < 0x20 || u == 0x7f) return true;
  return false;
}
}  // namespace

Io::Io(std::istream& in, std::ostream& out, bool interactive)
    : in_(in), out_(out), interactive_(interactive) {}

Io::~Io() { closeAll(); }

void Io::write(int unit, std::string_view rec) {
  if ((unit == kOut || unit <= 0) && hasControl(rec)) {
    // Records reach the terminal as text; control sequences go through control().
    control(unit, gxprintable(rec));
    return;
  }
  control(unit, rec);
}

void Io::control(int unit, std::string_view rec) {
  if (unit == kOut || unit <= 0) {
    flushPrompt();
    if ((!rec.empty() && rec[0] == '?') || (rec.size() > 1 && rec[0] == ' ' && rec[1] == '?'))
      ++errorLines_;
    if (!rec.empty() && rec[0] == '+') {
      out_ << rec.substr(1) << '\n';
    } else {
      if (midLine_) out_ << '\n';
      out_ << rec << '\n';
    }
    midLine_ = false;
    return;
  }
  auto it = units_.find(unit);
  if (it == units_.end() || it->second->acc != Access::Write) return;
  it->second->fs << rec << '\n';
}

void Io::prompt(std::string_view text) {
  flushPrompt();
  if (midLine_) out_ << '\n';
  std::string shown = hasControl(text) ? gxprintable(text) : std::string(text);
  if (source_) {
    // Drawn by the line source when the terminal is read; by whatever is
    // written first otherwise (a macro's echoed answer).
    pendingPrompt_ = std::move(shown);
    promptPending_ = true;
  } else {
    out_ << shown;
  }
  out_.flush();
  midLine_ = true;
}

void Io::flushPrompt() {
  if (!promptPending_) return;
  promptPending_ = false;
  out_ << pendingPrompt_;
  pendingPrompt_.clear();
}

void Io::raw(std::string_view bytes) {
  flushPrompt();
  out_ << bytes;
  out_.flush();
}

void Io::flush() {
  flushPrompt();
  out_.flush();
}

RdStat Io::readLine(int unit, std::string& line, size_t width) {
  std::string s;
  if (unit == kIn) {
    if (source_) {
      std::string shown;
      if (promptPending_) shown.swap(pendingPrompt_);
      promptPending_ = false;
      out_.flush();
      if (!source_->readLine(shown, s)) {
        midLine_ = true;  // the prompt and what was typed stay on the line
        if (interruptPending()) throw Interrupted{};
        throw EndOfInput();
      }
      if (s.size() > kMaxRecord) s.resize(kMaxRecord);
      midLine_ = false;  // the editor has echoed the RETURN
    } else {
      out_.flush();
      // Nobody can see the prompts any more: the session ends as it does
      // at the end of its input, not by SIGPIPE or by reading for ever.
      if (stdoutPipeBroken(out_)) throw EndOfInput();
      const LineStat ls = boundedLine(in_, s);
      if (ls == LineStat::End || ls == LineStat::Endless) {
        // The terminal has ended (or sends bytes that never make a line):
        // nothing more can ever be read.
        throw EndOfInput();
      }
    }
    if (interactive_) midLine_ = false;
    ++termLines_;
  } else {
    auto it = units_.find(unit);
    if (it == units_.end() || it->second->acc != Access::Read) return RdStat::Err;
    Unit& u = *it->second;
    const LineStat ls = boundedLine(u.fs, s);
    if (ls == LineStat::End) {
      if (u.fs.bad()) return RdStat::Err;
      if (++u.eofCount > kEofLimit) throw EndOfInput();
      return RdStat::Eof;
    }
    u.eofCount = 0;
    ++u.lines;
    // The unit now stands at its end: the rest of such a file is not read.
    if (ls == LineStat::Endless) return RdStat::Err;
    // A fixed-width read takes its columns of any line; a free-format
    // record that long cannot be one of ours.
    if (ls == LineStat::Long && width == 0) return RdStat::Err;
  }
  if (!s.empty() && s.back() == '\r') s.pop_back();
  line = width > 0 ? pad(s, width) : s;
  return RdStat::Ok;
}

namespace {
template <class T, class Conv>
RdStat listRead(Io& io, int unit, T* v, int n, Conv conv) {
  ListScanner sc(n);
  std::string rec;
  while (!sc.done()) {
    RdStat st = io.readLine(unit, rec);
    if (st != RdStat::Ok) return st;
    if (!sc.add(rec)) return RdStat::Err;
  }
  const auto& items = sc.items();
  // Convert everything first so that a bad value changes nothing.
  std::vector<T> out(v, v + n);
  for (size_t i = 0; i < items.size() && static_cast<int>(i) < n; ++i) {
    if (items[i].null) continue;
    if (!conv(items[i].text, out[i])) return RdStat::Err;
  }
  for (int i = 0; i < n; ++i) v[i] = out[i];
  return RdStat::Ok;
}
}  // namespace

RdStat Io::readList(int unit, double* v, int n) {
  return listRead(*this, unit, v, n, [](const std::string& t, double& x) { return listReal(t, x); });
}

RdStat Io::readListInt(int unit, long long* v, int n) {
  return listRead(*this, unit, v, n, [](const std::string& t, long long& x) { return listInt(t, x); });
}

RdStat Io::readListInt(int unit, int* v, int n) {
  return listRead(*this, unit, v, n, [](const std::string& t, int& x) {
    long long y;
    if (!listInt(t, y) || y < -2147483648LL || y > 2147483647LL) return false;
    x = static_cast<int>(y);
    return true;
  });
}

namespace {
// A name with control characters is junk (a binary macro, a stray key), not
// a file the user meant: a NUL would even cut it short and open another file.
bool plainName(const std::string& name) {
  for (unsigned char ch : name)
    if (ch < 0x20 || ch == 0x7f) return false;
  return !name.empty();
}
}  // namespace

bool Io::exists(const std::string& name) {
  std::error_code ec;
  return plainName(name) && std::filesystem::is_regular_file(name, ec);
}

bool Io::open(int unit, const std::string& name, OpenStatus st, Access acc, bool binary) {
  close(unit);
  error_.clear();
  if (!plainName(name)) return false;
  auto u = std::make_unique<Unit>();
  u->name = name;
  u->acc = acc;
  bool ex = exists(name);
  u->direct = !ex && directKind(name);
  if (st == OpenStatus::New && (ex || u->direct)) {
    // A name that exists is the caller's to report ("already exists").
    if (!ex) error_ = "it is a device or pipe, not a new file";
    return false;
  }
  std::ios::openmode mode = binary ? std::ios::binary : std::ios::openmode{};
  if (binary) {
    // Binary files (ray sets) move record by record: a large buffer keeps
    // the system calls few. It must be given before the file is opened.
    u->buf.resize(size_t{1} << 16);
    u->fs.rdbuf()->pubsetbuf(u->buf.data(), static_cast<std::streamsize>(u->buf.size()));
  }
  const bool opened = u->direct ? openDevice(*u, name, acc, mode)
                      : acc == Access::Read ? openReading(*u, name, st, ex, mode)
                                            : openWriting(*u, unit, name, st, ex, mode);
  if (!opened) return false;
  u->serial = ++opens_;
  units_[unit] = std::move(u);
  return true;
}

bool Io::openDevice(Unit& u, const std::string& name, Access acc, std::ios::openmode mode) {
  if (acc == Access::Read && isPipe(name)) {
    // Our files are read again from their start (ray sets, macros): a
    // pipe cannot be, and opening one waits for a writer.
    error_ = "a pipe cannot be read as a file";
    return false;
  }
  PipeProbe probe;
  if (acc == Access::Write) probePipe(name, probe);
  if (!probe.reader) {
    // Opening it would wait until some program reads the pipe.
    error_ = "no program reads the pipe";
    return false;
  }
  u.fs.open(name, mode | (acc == Access::Read ? std::ios::in : std::ios::out));
  if (!u.fs) {
    error_ = "the device cannot be opened";
    return false;
  }
  return true;
}

bool Io::openReading(Unit& u, const std::string& name, OpenStatus st, bool ex,
                     std::ios::openmode mode) {
  if (!ex) {
    if (st == OpenStatus::Old) return false;
    // Fortran creates a missing file on an unknown/new open.
    std::ofstream touch(name);
    if (!touch) return false;
  }
  u.fs.open(name, mode | std::ios::in);
  return static_cast<bool>(u.fs);
}

bool Io::openWriting(Unit& u, int unit, const std::string& name, OpenStatus st, bool ex,
                     std::ios::openmode mode) {
  if (st == OpenStatus::Old && !ex) return false;
  std::error_code ec;
  if (std::filesystem::is_directory(name, ec)) {
    error_ = "it is a folder";
    return false;
  }
  // Through a symbolic link the file it points to is replaced, not the link.
  std::string target = name;
  if (std::filesystem::is_symlink(name, ec)) {
    auto real = std::filesystem::weakly_canonical(name, ec);
    if (!ec) target = real.string();
  }
  u.target = target;
  u.exclusive = st == OpenStatus::New;
  tempClearStale(target);
  // Unique per session and unit, beside the target so that naming it at
  // close stays on one file system.
  const std::string tag =
      std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "_" + std::to_string(unit);
  if (!tempCreate(target, tag, u.tmp)) {
    error_ = u.tmp.error;
    return false;
  }
  u.fs.open(u.tmp.path, mode | std::ios::out | std::ios::trunc);
  if (!u.fs) {
    error_ = "the temporary file cannot be written";
    tempDiscard(u.tmp);
    return false;
  }
  return true;
}

void Io::startWriteback(int unit) {
  auto it = units_.find(unit);
  if (it == units_.end()) return;
  Unit& u = *it->second;
  if (u.acc != Access::Write || u.tmp.fd < 0) return;
  u.fs.flush();
#ifdef SYNC_FILE_RANGE_WRITE
  // The pages reach the disk while the writer goes on; fsync at the close
  // then finds little left.
  ::sync_file_range(u.tmp.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

bool Io::close(int unit, bool keep) {
  auto it = units_.find(unit);
  if (it == units_.end()) return true;
  Unit& u = *it->second;
  bool ok = true;
  if (u.direct) {
    u.fs.flush();
    ok = static_cast<bool>(u.fs) || u.acc == Access::Read;
    u.fs.close();
  } else if (u.acc == Access::Write) {
    u.fs.flush();
    ok = static_cast<bool>(u.fs);
    u.fs.close();
    if (keep && ok) {
      // A replaced file keeps its permissions.
      struct stat old {};
      const int perms = ::stat(u.target.c_str(), &old) == 0 ? static_cast<int>(old.st_mode & 07777) : -1;
      ok = tempCommit(u.tmp, u.target, u.exclusive, perms);
      if (!ok) error_ = u.tmp.error;
    } else {
      tempDiscard(u.tmp);
    }
  } else {
    u.fs.close();
  }
  units_.erase(it);
  return ok;
}

void Io::closeAll() {
  // An abandoned write is discarded: the user's file stays as it was.
  while (!units_.empty()) {
    auto it = units_.begin();
    close(it->first, it->second->acc == Access::Read);
  }
}

void Io::discardSince(long long mark) {
  std::vector<int> late;
  for (const auto& [unit, u] : units_)
    if (u->serial > mark) late.push_back(unit);
  for (int unit : late) close(unit, false);
}

long long Io::lineOf(int unit) const {
  if (unit == kIn) return termLines_;
  auto it = units_.find(unit);
  return it == units_.end() ? 0 : it->second->lines;
}

bool Io::rewind(int unit) {
  auto it = units_.find(unit);
  if (it == units_.end()) return false;
  Unit& u = *it->second;
  u.fs.clear();
  u.eofCount = 0;
  u.lines = 0;
  if (u.direct) {
    return false;  // a stream cannot start again
  } else if (u.acc == Access::Read) {
    u.fs.seekg(0);
  } else {
    // Rewinding a file being written starts it again.
    u.fs.close();
    u.fs.open(u.tmp.path, std::ios::out | std::ios::trunc | std::ios::binary);
  }
  return static_cast<bool>(u.fs);
}

bool Io::isOpen(int unit) const { return units_.count(unit) != 0; }

std::string Io::nameOf(int unit) const {
  auto it = units_.find(unit);
  return it == units_.end() ? std::string() : it->second->name;
}

std::fstream* Io::stream(int unit) {
  auto it = units_.find(unit);
  return it == units_.end() ? nullptr : &it->second->fs;
}

}  // namespace gx
