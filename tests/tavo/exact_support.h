// The engine's map of the system a test session holds.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aber_numeric.h"
#include "tavo/exact/exact.h"

namespace exacttest {

inline std::vector<tavo::da::Poly> mapOf(abertest::Session& t, tavo::EdgeModel model,
                                         const tavo::da::Space& sp, double fringe = 1.0,
                                         double fineness = 1.0) {
  tavo::Lattice lat;
  std::string why;
  EXPECT_TRUE(tavo::buildLattice(t.s, lat, why)) << why;
  tavo::MapSettings set;
  set.model = model;
  set.fringe = fringe;
  set.fineness = fineness;
  std::vector<tavo::da::Poly> map;
  EXPECT_TRUE(tavo::systemMap(lat, set, sp, map, why)) << why;
  return map;
}

}  // namespace exacttest
