// List-directed input: the record scanner and the reads of reals and
// integers from the terminal and from a file unit.
#include <sstream>

#include "fuzz_support.h"
#include "gxlib/fortran/fortio.h"
#include "gxlib/fortran/io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  int wanted = data[0] % 16 + 1;
  std::string_view text = tkfuzz::cut(data + 1, size - 1);

  gx::ListScanner sc(wanted);
  size_t b = 0;
  while (!sc.done() && b <= text.size()) {
    size_t e = text.find('\n', b);
    if (e == std::string_view::npos) e = text.size();
    if (!sc.add(text.substr(b, e - b))) break;
    b = e + 1;
  }
  for (const auto& it : sc.items()) {
    if (it.null) continue;
    double v;
    long long n;
    gx::listReal(it.text, v);
    gx::listInt(it.text, n);
  }

  std::istringstream in{std::string(text)};
  std::ostringstream out;
  gx::Io io(in, out);
  double v[16] = {};
  long long iv[16] = {};
  int ii[16] = {};
  try {
    for (int i = 0; i < 4; ++i) {
      io.readList(5, v, wanted);
      io.readListInt(5, iv, wanted);
      io.readListInt(5, ii, wanted);
    }
  } catch (const gx::EndOfInput&) {
  }

  tkfuzz::freshScratch();
  tkfuzz::writeFile("list.dat", text);
  if (io.open(20, "list.dat", gx::OpenStatus::Old, gx::Access::Read)) {
    for (int i = 0; i < 16; ++i) {
      gx::RdStat st = (i % 3 == 0)   ? io.readList(20, v, wanted)
                      : (i % 3 == 1) ? io.readListInt(20, iv, wanted)
                                     : io.readListInt(20, ii, wanted);
      if (st == gx::RdStat::Eof) break;
    }
    io.close(20);
  }
  return 0;
}
