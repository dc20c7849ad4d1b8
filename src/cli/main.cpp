#include <iostream>

#include "cli/dispatch.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  tarnwick::Args args(argv + 1, argv + argc);
  return tarnwick::run_tarnwick(args, std::cin, std::cout, std::cerr);
}
