// KESTRIM, the ray-mapping program.
#pragma once

#include <iosfwd>

namespace kestrim {

// Runs one session; returns the exit status.
int run(std::istream& in, std::ostream& out, bool interactive = false);

}  // namespace kestrim
