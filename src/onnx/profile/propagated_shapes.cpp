#include "onnx/profile/propagated_shapes.h"

#include "onnx/onnx_graph.h"
#include "onnx/profile/graph_walk.h"

namespace tarnwick {

namespace {

std::vector<std::uint64_t> unsigned_dims(const Dims& dims) { return {dims.begin(), dims.end()}; }

}  // namespace

Result<PropagatedShapes> propagate_shapes(std::string_view model_bytes,
                                          const std::set<std::string, std::less<>>& wanted) {
  DecodeBudget budget(model_bytes.size());
  Result<OnnxModel> model = decode_onnx_model(model_bytes, budget);
  if (!model.is_ok()) return model.error();
  DimBindings dims;
  GraphWalk walk = walk_model_graph(model.value().graph, default_opset(model.value()).value_or(1), dims);
  PropagatedShapes propagated;
  for (const auto& [name, shape] : walk.main_input_shapes) {
    if (wanted.count(name)) propagated.shapes[name] = unsigned_dims(shape);
  }
  for (const WalkedNode& walked : walk.nodes) {
    if (!walked.graph.empty()) continue;
    for (std::size_t k = 0; k < walked.outputs.size(); ++k) {
      const std::string& name = walked.node->outputs[k];
      if (walked.outputs[k].shape && wanted.count(name)) propagated.shapes[name] = unsigned_dims(*walked.outputs[k].shape);
    }
  }
  for (const auto& [name, value] : dims.assumed) propagated.assumed_dims.push_back(name);
  return propagated;
}

}  // namespace tarnwick
