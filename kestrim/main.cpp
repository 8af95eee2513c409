#include "gxlib/console/gxargs.h"
#include "kestrim/kestrim.h"

int main(int argc, char** argv) {
  return gx::gxmain(argc, argv, kestrim::program(),
                    [](std::istream& in, std::ostream& out, const gx::RunOptions& o) {
                      return kestrim::run(in, out, o);
                    });
}
