// KESTRIM, the ray-mapping program.
#pragma once

#include <iosfwd>

#include "gxlib/console/gxargs.h"

namespace kestrim {

// Runs one session; returns the exit status.
int run(std::istream& in, std::ostream& out, bool interactive = false);
int run(std::istream& in, std::ostream& out, const gx::RunOptions& options);
// The program's name, version, files and completion words for its command line.
gx::ProgramInfo program();

}  // namespace kestrim
