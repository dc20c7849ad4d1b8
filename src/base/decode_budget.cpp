#include "base/decode_budget.h"

#include <limits>
#include <string>

namespace tarnwick {

namespace {

std::uint64_t allowance_for(std::uint64_t input_bytes) {
  constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
  if (input_bytes > (kMost - DecodeBudget::kBaseElements) / DecodeBudget::kElementsPerByte) return kMost;
  return input_bytes * DecodeBudget::kElementsPerByte + DecodeBudget::kBaseElements;
}

}  // namespace

DecodeBudget::DecodeBudget(std::uint64_t input_bytes)
    : input_bytes_(input_bytes), allowance_(allowance_for(input_bytes)) {}

Status DecodeBudget::draw(std::uint64_t elements, std::string_view what) {
  if (elements > allowance_ - drawn_) {
    return fail("decoding " + std::string(what) + " exceeded the budget of " + std::to_string(allowance_) +
                " elements for " + std::to_string(input_bytes_) + " input bytes");
  }
  drawn_ += elements;
  return Status::ok();
}

}  // namespace tarnwick
