#include "onnx/profile/activation_peak.h"

#include <algorithm>
#include <map>

namespace tarnwick {

std::uint64_t peak_activation_bytes(const std::vector<ActivationStep>& steps, const std::set<std::string>& graph_outputs) {
  constexpr std::size_t kNever = static_cast<std::size_t>(-1);
  std::map<std::string, std::size_t> last_use;
  for (std::size_t k = 0; k < steps.size(); ++k)
    for (const std::string& name : steps[k].consumes) last_use[name] = k;
  std::map<std::string, std::uint64_t> live;
  std::uint64_t total = 0, peak = 0;
  for (std::size_t k = 0; k < steps.size(); ++k) {
    for (const auto& [name, bytes] : steps[k].produces) {
      if (!bytes || name.empty() || live.count(name)) continue;
      live[name] = *bytes;
      total += *bytes;
    }
    peak = std::max(peak, total);
    auto release = [&](const std::string& name) {
      auto found = live.find(name);
      if (found == live.end() || graph_outputs.count(name)) return;
      auto use = last_use.find(name);
      std::size_t last = use == last_use.end() ? kNever : use->second;
      if (last != kNever && last > k) return;
      total -= found->second;
      live.erase(found);
    };
    for (const std::string& name : steps[k].consumes) release(name);
    for (const auto& produced : steps[k].produces) release(produced.first);
  }
  return peak;
}

}  // namespace tarnwick
