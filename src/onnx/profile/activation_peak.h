// Peak activation memory: node outputs allocated in order and freed after their last consumer;
// graph outputs live to the end.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

// Names view strings that outlive the computation (the model's).
struct ActivationStep {
  std::vector<std::string_view> consumes;  // inputs, and names the node's subgraphs read from outside
  std::vector<std::pair<std::string_view, std::optional<std::uint64_t>>> produces;  // bytes, when known
};

// Bytes of unknown size count as nothing.
std::uint64_t peak_activation_bytes(const std::vector<ActivationStep>& steps,
                                    const std::set<std::string, std::less<>>& graph_outputs);

}  // namespace tarnwick
