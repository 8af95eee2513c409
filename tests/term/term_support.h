// Running the built programs as a user does: in a scratch folder, with
// their own HOME, their output and exit status collected.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace termtest {

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

inline std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string program(const std::string& name) { return std::string(TK_BINARY_DIR) + "/" + name; }

inline bool have(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

struct Result {
  int status = -1;
  std::string out, err;
};

class Scratch {
 public:
  Scratch() {
    char tmpl[] = "/tmp/termtestXXXXXX";
    if (::mkdtemp(tmpl)) dir_ = tmpl;
    fs::create_directory(dir_ / "home");
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const fs::path& dir() const { return dir_; }
  fs::path home() const { return dir_ / "home"; }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream f(dir_ / name, std::ios::binary);
    f << text;
  }
  // Runs a shell command line in the folder, input from /dev/null unless
  // the line redirects it.
  Result sh(const std::string& line) const {
    const std::string cmd = "cd " + quote(dir_.string()) + " && HOME=" + quote(home().string()) +
                            " " + line + " >" + quote((dir_ / ".out").string()) + " 2>" +
                            quote((dir_ / ".err").string());
    Result r;
    const int w = std::system(cmd.c_str());
    r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    r.out = slurp(dir_ / ".out");
    r.err = slurp(dir_ / ".err");
    return r;
  }

 private:
  fs::path dir_;
};

inline size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

}  // namespace termtest
