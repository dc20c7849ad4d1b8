// The shortest decimal digits that read back to the same double, and the renderings built on them.
#pragma once

#include <string>

namespace tarnwick {

// value = (negative ? -1 : 1) * 0.d1d2...dn * 10^point, with the fewest digits n that round-trip;
// zero has the digits "0" and point 1.
struct ShortestDecimal {
  bool negative = false;
  std::string digits;
  int point = 0;
};

// For finite values only.
ShortestDecimal shortest_decimal(double value);

// Positional notation, no exponent, no fraction for whole values: 1e23 reads
// "100000000000000000000000", 0.05 reads "0.05". Finite values only.
std::string shortest_positional(double value);

// The JSON number form: positional between 1e-5 and 1e15, exponent form ("1e+23", "4.147e-10")
// outside; always with a fraction or an exponent ("1.0"). Finite values only.
std::string shortest_json_number(double value);

}  // namespace tarnwick
