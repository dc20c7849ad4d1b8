#include "onnx/profile/activation_peak.h"

#include <algorithm>

#include "onnx/profile/known_value.h"
#include "onnx/profile/name_table.h"

namespace tarnwick {

namespace {

constexpr std::size_t kNever = static_cast<std::size_t>(-1);

struct Tensor {
  std::size_t last_use = kNever;
  std::uint64_t bytes = 0;
  bool live = false;
  bool graph_output = false;
};

}  // namespace

// Each name is looked up once; the walk itself runs over indexes.
std::uint64_t peak_activation_bytes(const std::vector<ActivationStep>& steps,
                                    const std::set<std::string, std::less<>>& graph_outputs) {
  NameTable index(steps.size() * 2);
  std::vector<Tensor> tensors;
  auto id_of = [&](std::string_view name) {
    auto [id, added] = index.insert(name, static_cast<std::uint32_t>(tensors.size()));
    if (added) tensors.push_back(Tensor{kNever, 0, false, graph_outputs.count(name) > 0});
    return id;
  };
  // Step k consumes ids[consumed_from[k]...] and produces the ids after them, up to the next step's.
  std::vector<std::uint32_t> ids;
  std::vector<std::size_t> consumed_from(steps.size() + 1), produced_from(steps.size());
  for (std::size_t k = 0; k < steps.size(); ++k) {
    consumed_from[k] = ids.size();
    for (std::string_view name : steps[k].consumes) {
      std::uint32_t id = id_of(name);
      tensors[id].last_use = k;
      ids.push_back(id);
    }
    produced_from[k] = ids.size();
    for (const auto& produced : steps[k].produces) ids.push_back(produced.first.empty() ? UINT32_MAX : id_of(produced.first));
  }
  consumed_from[steps.size()] = ids.size();
  WideUnsigned total = 0, peak = 0;  // sums of 64-bit sizes from the file
  for (std::size_t k = 0; k < steps.size(); ++k) {
    for (std::size_t p = produced_from[k]; p < consumed_from[k + 1]; ++p) {
      const std::optional<std::uint64_t>& bytes = steps[k].produces[p - produced_from[k]].second;
      if (ids[p] == UINT32_MAX || !bytes) continue;
      Tensor& tensor = tensors[ids[p]];
      if (tensor.live) continue;
      tensor.live = true;
      tensor.bytes = *bytes;
      total += *bytes;
    }
    peak = std::max(peak, total);
    auto release = [&](std::uint32_t id) {
      if (id == UINT32_MAX) return;
      Tensor& tensor = tensors[id];
      if (!tensor.live || tensor.graph_output) return;
      if (tensor.last_use != kNever && tensor.last_use > k) return;
      total -= tensor.bytes;
      tensor.live = false;
    };
    for (std::size_t p = consumed_from[k]; p < consumed_from[k + 1]; ++p) release(ids[p]);
  }
  return peak > UINT64_MAX ? UINT64_MAX : static_cast<std::uint64_t>(peak);
}

}  // namespace tarnwick
