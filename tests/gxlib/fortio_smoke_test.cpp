#include <gtest/gtest.h>

#include "gxlib/fortran/fortio.h"

TEST(FortranFormat, KnownGfortranLines) {
  // Lines printed by gfortran for these descriptors.
  EXPECT_EQ(gx::fG(1.0e6, 13, 5, 1), "  1.00000E+06");
  EXPECT_EQ(gx::fG(123456.7, 13, 5), "  0.12346E+06");
  EXPECT_EQ(gx::fG(0.0, 13, 5), "   0.0000    ");
  EXPECT_EQ(gx::fF(0.125, 5, 2), " 0.12");
  EXPECT_EQ(gx::fF(-0.001, 5, 2), "-0.00");
  EXPECT_EQ(gx::fF(0.5, 4, 3), ".500");
  EXPECT_EQ(gx::fE(1e-300, 13, 5, 1), "  1.00000-300");
  EXPECT_EQ(gx::fG(99999.5, 13, 5), "  0.10000E+06");
  EXPECT_EQ(gx::fG(0.099999, 13, 5), "  0.99999E-01");
  EXPECT_EQ(gx::fG(9.9951, 10, 3), "  10.0    ");
  EXPECT_EQ(gx::fI(1234, 3), "***");
  EXPECT_EQ(gx::fF(1e30, 12, 6), "************");
  EXPECT_EQ(gx::fE(1e-5, 9, 3), "0.100E-04");
  EXPECT_EQ(gx::fE(-1e-5, 9, 2, 1), "-1.00E-05");
  EXPECT_EQ(gx::fF(0.4, 6, 0), "    0.");
}
