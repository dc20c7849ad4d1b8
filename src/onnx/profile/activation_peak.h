// Peak activation memory: node outputs allocated in order and freed after their last consumer;
// graph outputs live to the end.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tarnwick {

struct ActivationStep {
  std::vector<std::string> consumes;  // inputs, and names the node's subgraphs read from outside
  std::vector<std::pair<std::string, std::optional<std::uint64_t>>> produces;  // bytes, when known
};

// Bytes of unknown size count as nothing.
std::uint64_t peak_activation_bytes(const std::vector<ActivationStep>& steps, const std::set<std::string>& graph_outputs);

}  // namespace tarnwick
