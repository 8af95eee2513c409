// Compiles and runs small Fortran programs with gfortran, so that the
// library's formatting and reading can be compared with the compiler's own.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace gxtest {

inline bool haveGfortran() {
  return std::system("command -v gfortran >/dev/null 2>&1") == 0;
}

// Builds `source` as dir/name and runs it there with stdout to name.out.
// Returns an empty string on success, else what went wrong.
inline std::string buildAndRun(const TempDir& dir, const std::string& name,
                               const std::string& source) {
  dir.write(name + ".f90", source);
  std::string cd = "cd '" + dir.path() + "' && ";
  if (std::system((cd + "gfortran -O0 -ffree-line-length-none -o " + name + " " + name +
                   ".f90 > " + name + ".log 2>&1")
                      .c_str()) != 0)
    return "gfortran failed:\n" + dir.read(name + ".log");
  if (std::system((cd + "./" + name + " > " + name + ".out 2> " + name + ".err").c_str()) != 0)
    return "program failed:\n" + dir.read(name + ".err");
  return "";
}

inline std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  std::string l;
  while (std::getline(in, l)) v.push_back(l);
  return v;
}

}  // namespace gxtest
