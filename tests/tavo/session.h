// Whole TAVO sessions in a fresh temporary directory holding the example
// lens systems.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tavo/commands.h"

namespace abertest {

namespace fs = std::filesystem;

class SessionDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tavo_session_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_ = fs::current_path();
    for (const char* f : {"doublet.tav", "triplet.tav", "quadruplet.tav", "electrostatic.tav"})
      if (fs::exists(fs::path(TK_SOURCE_DIR) / "examples" / f))
        fs::copy_file(fs::path(TK_SOURCE_DIR) / "examples" / f, dir_ / f);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  std::string run(const std::string& input) {
    std::istringstream in(input);
    std::ostringstream out;
    EXPECT_EQ(tavo::run(in, out), 0);
    return out.str();
  }
  // Writes a system file: title, then rows of (code, c2, c3, c4[, ...]).
  static void writeSystem(const std::string& name, const std::string& title,
                          const std::vector<std::vector<double>>& rows) {
    std::ofstream f(name);
    f.precision(12);
    f << " " << title << "\n";
    for (const auto& r : rows) {
      f << " " << r[0];
      for (size_t k = 1; k < r.size(); ++k) f << " , " << r[k];
      f << "\n";
    }
    f << " SENTINEL\n";
  }
  static std::vector<std::string> lines(const std::string& name) {
    std::vector<std::string> v;
    std::ifstream f(name);
    std::string l;
    while (std::getline(f, l)) v.push_back(l);
    return v;
  }
  // Names of the files in the session directory.
  std::vector<std::string> files() const {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator(dir_)) v.push_back(e.path().filename().string());
    return v;
  }
  fs::path dir_, old_;
};

// The n numbers that follow a label in the output (NaN when missing).
inline std::vector<double> numbersAfter(const std::string& out, const std::string& label, int n,
                                        int skip = 0) {
  std::vector<double> v(n, NAN);
  size_t at = std::string::npos;
  for (int k = 0; k <= skip; ++k) {
    at = out.find(label, at == std::string::npos ? 0 : at + 1);
    if (at == std::string::npos) return v;
  }
  const char* p = out.c_str() + at + label.size();
  for (int k = 0; k < n; ++k) {
    char* end = nullptr;
    v[k] = std::strtod(p, &end);
    if (end == p) break;
    p = end;
    while (*p == ' ' || *p == ',') ++p;
  }
  return v;
}

// Q e / p and the kinetic energy of 3 MeV protons (mass 1.007276 u).
struct Proton {
  double t = 3.0e6;                                  // eV
  double mc2 = 1.007276 * 1.660565416e-27 * 299792458.0 * 299792458.0 / 1.6021892e-19;
  double qep() const { return 299792458.0 / std::sqrt(t * t + 2.0 * t * mc2); }
};

}  // namespace abertest
