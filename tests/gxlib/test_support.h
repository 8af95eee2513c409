// Helpers shared by the library tests: a session on string streams and a
// scratch directory that is removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "gxlib/gxlib.h"

namespace gxtest {

struct Session {
  explicit Session(const std::string& input = "") : in(input), g(in, out) {}
  std::istringstream in;
  std::ostringstream out;
  gx::Lib g;
  std::string text() const { return out.str(); }
};

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/gxtestXXXXXX";
    char* d = ::mkdtemp(tmpl);
    if (d) path_ = d;
  }
  ~TempDir() {
    if (!old_.empty()) {
      int rc = ::chdir(old_.c_str());
      (void)rc;
    }
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Makes the directory the working directory until the object dies.
  void enter() {
    old_ = std::filesystem::current_path().string();
    int rc = ::chdir(path_.c_str());
    (void)rc;
  }
  void write(const std::string& name, const std::string& content) const {
    std::ofstream f(file(name), std::ios::binary);
    f << content;
  }
  std::string read(const std::string& name) const {
    std::ifstream f(file(name), std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }

 private:
  std::string path_;
  std::string old_;
};

}  // namespace gxtest
