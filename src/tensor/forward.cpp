#include "tensor/forward.h"

#include <cmath>

namespace tarnwick {

Result<LinearForward> linear_forward(const Tensor& input, const Tensor& weights, const Tensor& bias) {
  Result<OpResult> product = matmul(input, weights);
  if (!product.is_ok()) return product.error();
  Result<OpResult> biased = add(product.value().output, bias);
  if (!biased.is_ok()) return biased.error();
  return LinearForward{biased.take().output, product.value().elapsed + biased.value().elapsed};
}

Result<AttentionForward> attention_forward(const Tensor& x, const Tensor& wq, const Tensor& wk, const Tensor& wv) {
  AttentionForward pass;
  auto step = [&](Result<OpResult> result, Tensor& into, std::chrono::nanoseconds* time) -> Status {
    if (!result.is_ok()) return result.error();
    into = std::move(result.value().output);
    pass.elapsed += result.value().elapsed;
    if (time) *time = result.value().elapsed;
    return Status::ok();
  };
  Tensor k_transposed;
  if (Status s = step(matmul(x, wq), pass.q, &pass.q_time); !s.is_ok()) return s.error();
  if (Status s = step(matmul(x, wk), pass.k, &pass.k_time); !s.is_ok()) return s.error();
  if (Status s = step(matmul(x, wv), pass.v, &pass.v_time); !s.is_ok()) return s.error();
  if (Status s = step(transpose2d(pass.k), k_transposed, nullptr); !s.is_ok()) return s.error();
  if (Status s = step(matmul(pass.q, k_transposed), pass.scores, nullptr); !s.is_ok()) return s.error();
  float head_dim = wq.shape.size() >= 2 ? static_cast<float>(wq.shape[1]) : 0.0f;
  if (Status s = step(scale(pass.scores, 1.0f / std::sqrt(head_dim)), pass.scaled, nullptr); !s.is_ok())
    return s.error();
  if (Status s = step(softmax(pass.scaled), pass.attention, nullptr); !s.is_ok()) return s.error();
  if (Status s = step(matmul(pass.attention, pass.v), pass.output, &pass.output_time); !s.is_ok()) return s.error();
  return pass;
}

}  // namespace tarnwick
