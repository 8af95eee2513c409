// A fault planted on purpose, to show that the fuzz stage of CI fails and
// keeps the input when a target finds something: an input that begins with
// "BUG" reads past the end of a heap block. Not one of the real targets.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 3 && std::memcmp(data, "BUG", 3) == 0) {
    auto block = std::make_unique<char[]>(size);
    std::memcpy(block.get(), data, size);
    volatile char past = block[size];  // one beyond the end
    (void)past;
  }
  return 0;
}
