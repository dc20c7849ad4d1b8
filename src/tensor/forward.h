// Layer forward passes composed from the timed operations.
#pragma once

#include <chrono>

#include "tensor/tensor.h"

namespace tarnwick {

struct LinearForward {
  Tensor output;
  std::chrono::nanoseconds elapsed{0};
};

// input @ weights, then + bias.
Result<LinearForward> linear_forward(const Tensor& input, const Tensor& weights, const Tensor& bias);

struct AttentionForward {
  Tensor q, k, v, scores, scaled, attention, output;
  std::chrono::nanoseconds q_time{0}, k_time{0}, v_time{0}, output_time{0};
  std::chrono::nanoseconds elapsed{0};  // every operation of the pass
};

// softmax((X @ Wq) @ (X @ Wk)^T / sqrt(head_dim)) @ (X @ Wv), with head_dim = Wq's second dimension.
Result<AttentionForward> attention_forward(const Tensor& x, const Tensor& wq, const Tensor& wk, const Tensor& wv);

}  // namespace tarnwick
