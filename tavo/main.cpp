#include "gxlib/console/gxargs.h"
#include "tavo/commands.h"

int main(int argc, char** argv) {
  return gx::gxmain(argc, argv, tavo::program(),
                    [](std::istream& in, std::ostream& out, const gx::RunOptions& o) {
                      return tavo::run(in, out, o);
                    });
}
