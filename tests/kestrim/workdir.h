// A fresh temporary directory that is the working directory while one test
// runs (KESTRIM reads and writes its files there).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace kqtest {

class WorkDir : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    char tmpl[] = "/tmp/kestrimXXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::filesystem::path old_, dir_;
};

}  // namespace kqtest
