// File names typed after a command are used as typed: a name that looks
// like a number must not be turned into its decoded value.
#include "session.h"

namespace {

class TypedNames : public abertest::SessionDir {};

TEST_F(TypedNames, NumericSystemAndCoefficientNamesKeepTheirDigits) {
  std::filesystem::copy_file("triplet.tav", "2024.tav");
  std::string o = run("DATA 2024\nSAVE 2025\nCOFOUT 2026\nC\n");
  EXPECT_NE(o.find("Title:"), std::string::npos);
  EXPECT_EQ(o.find("does not exist"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists("2025.tav"));
  EXPECT_TRUE(std::filesystem::exists("2026.cof"));
  EXPECT_FALSE(std::filesystem::exists("2026.0"));
}

}  // namespace
