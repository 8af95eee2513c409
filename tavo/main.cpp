#include <unistd.h>

#include <iostream>

#include "tavo/commands.h"

int main() {
  std::ios::sync_with_stdio(false);
  return tavo::run(std::cin, std::cout, ::isatty(0) != 0);
}
