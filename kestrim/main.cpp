#include <unistd.h>

#include <iostream>

#include "kestrim/kestrim.h"

int main() {
  std::ios::sync_with_stdio(false);
  return kestrim::run(std::cin, std::cout, ::isatty(0) != 0);
}
