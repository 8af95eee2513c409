// Shared pieces of the fuzz targets: a scratch folder per process that is
// emptied before every input, the guards that keep a session away from the
// terminal device and the shell, and the cut of the input size.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace tkfuzz {

namespace fs = std::filesystem;

// Inputs beyond this are cut: the work per input stays bounded.
constexpr size_t kMaxInput = 4096;

inline std::string_view cut(const uint8_t* data, size_t size, size_t max = kMaxInput) {
  return {reinterpret_cast<const char*>(data), size < max ? size : max};
}

// The scratch folder of this process, made once, emptied and entered
// before every input. Every target runs inside it. It lives in memory when
// it can (/dev/shm): a file replaced on disk is flushed at once.
inline const fs::path& scratch() {
  // Never destroyed: the exit handler runs after the destructors of the
  // statics made before it was registered, and still needs the name.
  static const fs::path* const dir = [] {
    std::error_code ec;
    const char* env = std::getenv("TK_FUZZ_SCRATCH");
    fs::path base = env && *env                         ? fs::path(env)
                    : ::access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm")
                                                        : fs::temp_directory_path(ec);
    auto* d = new fs::path(base / ("tkfuzz." + std::to_string(::getpid())));
    fs::create_directories(*d, ec);
    std::atexit([] {
      std::error_code e;
      fs::remove_all(scratch(), e);
    });
    return d;
  }();
  return *dir;
}

inline void freshScratch() {
  std::error_code ec;
  fs::current_path(scratch(), ec);
  for (const auto& e : fs::directory_iterator(scratch(), ec)) fs::remove_all(e.path(), ec);
  fs::current_path(scratch(), ec);
}

inline void writeFile(const std::string& name, std::string_view bytes) {
  std::ofstream f(name, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A session must never reach the terminal device: the Tektronix driver's
// destination is /dev/tty. Without a controlling terminal that open fails,
// so the process leaves its session; if it still has one, it stops.
inline void noTerminal() {
  ::setsid();
  int fd = ::open("/dev/tty", O_WRONLY | O_NOCTTY);
  if (fd >= 0) {
    ::close(fd);
    std::fprintf(stderr, "fuzz: a controlling terminal is open; run under setsid\n");
    std::exit(2);
  }
}

// SYNTH writes every ray it is asked for, bounded only by the disk: a fuzzed
// count of a billion would write for minutes and pass for a hang. The
// session's files are held to about the size of a 200 000-ray set (9.6 MB);
// a write past it fails as on a full disk, which the writers report.
inline void boundFiles() {
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit r{10u << 20, 10u << 20};
  ::setrlimit(RLIMIT_FSIZE, &r);
}

// Names that lead out of the scratch folder: a slash next to a name
// character ("/tmp", "a/b", "../x"). A lone "/" (end of a list) stays.
inline bool leavesScratch(std::string_view line) {
  auto nameChar = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-' ||
           c == '~';
  };
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '/') continue;
    if (i + 1 < line.size() && nameChar(line[i + 1])) return true;
    if (i > 0 && (std::isalpha(static_cast<unsigned char>(line[i - 1])) || line[i - 1] == '.'))
      return true;
  }
  return false;
}

// A line's first blank-delimited word, in capitals: how a skip sees the
// command a line gives.
inline std::string firstWord(const std::string& line) {
  std::string w;
  size_t i = line.find_first_not_of(" \t");
  for (; i < line.size() && line[i] != ' ' && line[i] != '\t'; ++i)
    w += static_cast<char>(std::toupper(static_cast<unsigned char>(line[i])));
  return w;
}

// Whether the word selects the command, as the decoder reads it: the
// qualifier ("/x") is cut off and six characters are kept, so "VALUESH"
// runs VALUES and "TRACEX" runs nothing. `least`: characters the word
// needs before no earlier command begins with them.
inline bool abbreviates(const std::string& word, std::string_view command, size_t least = 1) {
  std::string_view w(word);
  w = w.substr(0, std::min<size_t>(w.find('/'), 6));
  return w.size() >= least && w.size() <= command.size() && command.substr(0, w.size()) == w;
}

// Lines a session target leaves out of its input (see sessionInput).
using Skip = std::function<bool(const std::string&)>;

// A skip that passes the first line selecting `command` and leaves out
// the later ones, and after it every line selecting `again` (a command
// that repeats the previous one), so the command runs once per input.
inline Skip once(std::string_view command, size_t least = 1, std::string_view again = {}) {
  int seen = 0;
  return [=](const std::string& line) mutable {
    const std::string w = firstWord(line);
    if (abbreviates(w, command, least)) return ++seen > 1;
    return seen > 0 && !again.empty() && abbreviates(w, again);
  };
}

// The session input a whole-program target may give: lines that would run
// a shell command ("$" first) or name a path outside the scratch folder
// are dropped; NUL bytes become blanks (a terminal line holds none).
// skip: lines a target leaves out besides those (see runSession).
inline std::string sessionInput(std::string_view text, const Skip& skip = {}) {
  std::string out;
  size_t b = 0;
  while (b < text.size()) {
    size_t e = text.find('\n', b);
    if (e == std::string_view::npos) e = text.size();
    std::string line(text.substr(b, e - b));
    for (char& c : line)
      if (c == '\0') c = ' ';
    size_t nb = line.find_first_not_of(" \t");
    bool shell = nb != std::string::npos && line[nb] == '$';
    if (!shell && !leavesScratch(line) && !(skip && skip(line))) out += line + "\n";
    b = e + 1;
  }
  return out;
}

#ifndef TK_SOURCE_DIR
#define TK_SOURCE_DIR "."
#endif

// Example files a session target finds in its scratch folder: name, bytes.
using Examples = std::vector<std::pair<std::string, std::string>>;

inline Examples loadExamples(std::initializer_list<const char*> names) {
  Examples ex;
  for (const char* n : names) {
    std::ifstream f(std::string(TK_SOURCE_DIR) + "/examples/" + n, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    ex.emplace_back(n, s.str());
  }
  return ex;
}

// One whole session on the input: a fresh scratch folder with the examples,
// the input's lines as the terminal, the program's run() on them.
// skip leaves out command lines that are costly by design, not by fault
// (seconds each in an instrumented build), so that the timeout still
// tells a hang.
template <class Run>
int runSession(const Examples& ex, const uint8_t* data, size_t size, Run run,
               const Skip& skip = {}) {
  freshScratch();
  for (const auto& e : ex) writeFile(e.first, e.second);
  std::istringstream in(sessionInput(cut(data, size), skip));
  std::ostringstream out;
  run(in, out);
  return 0;
}

// Whether this process is the outer one of a corpus merge (-merge=1): it
// runs no input itself and starts the inner processes through system().
inline bool mergeOuter() {
  std::ifstream f("/proc/self/cmdline", std::ios::binary);
  std::string arg;
  bool outer = false;
  while (std::getline(f, arg, '\0')) {
    if (arg == "-merge=1") outer = true;
    if (arg.rfind("-merge_inner", 0) == 0) return false;
  }
  return outer;
}

}  // namespace tkfuzz

// Belt and braces: no input may reach a shell, whatever a macro file made
// inside the session holds. The programs run commands through system().
extern "C" int system(const char* command) {
  static const bool outer = tkfuzz::mergeOuter();
  if (!outer) return -1;
  using Fn = int (*)(const char*);
  static const Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "system"));
  return real ? real(command) : -1;
}

// Scratch files need no durability: a sync to disk per committed file
// would make every input that saves something cost tens of milliseconds.
extern "C" int fsync(int) { return 0; }
extern "C" int fdatasync(int) { return 0; }
