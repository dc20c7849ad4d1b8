// The streams a command handler reads from and writes to; only main() binds the real ones.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tarnwick {

struct Io {
  std::istream& in;
  std::ostream& out;
};

using Args = std::vector<std::string>;

}  // namespace tarnwick
