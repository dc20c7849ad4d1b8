#include "tensor/tensor.h"

#include <cmath>
#include <limits>

#include "base/checked_math.h"
#include "base/format.h"

namespace tarnwick {

namespace {

using Clock = std::chrono::steady_clock;

template <class Work>
OpResult timed(Shape shape, Work work) {
  OpResult result;
  result.output.shape = std::move(shape);
  auto start = Clock::now();
  work(result.output.data);
  result.elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start);
  return result;
}

// "[v, v, ...]" with four decimals, appended: outputs of millions of values are printed whole.
void append_flat_values(std::string& text, const float* begin, const float* end) {
  text.reserve(text.size() + static_cast<std::size_t>(end - begin) * 8 + 2);
  text += '[';
  for (const float* value = begin; value != end; ++value) {
    if (value != begin) text += ", ";
    append_fixed(text, *value, 4);
  }
  text += ']';
}

}  // namespace

std::string shape_text(const Shape& shape) {
  std::string text = "[";
  for (std::size_t i = 0; i < shape.size(); ++i) text += (i ? ", " : "") + std::to_string(shape[i]);
  return text + "]";
}

std::uint64_t shape_product(const Shape& shape) {
  std::uint64_t product = 1;
  for (std::uint64_t dim : shape) product *= dim;
  return product;
}

Result<Tensor> Tensor::create(Shape shape, std::vector<float> data) {
  std::optional<std::uint64_t> counted = checked_shape_product(shape);
  if (!counted) return fail("shape " + shape_text(shape) + " has more values than can be counted");
  std::uint64_t expected = *counted;
  if (expected != data.size()) {
    return fail("shape " + shape_text(shape) + " expects " + std::to_string(expected) + " values, got " +
                std::to_string(data.size()));
  }
  return Tensor{std::move(shape), std::move(data)};
}

std::optional<std::uint64_t> checked_shape_product(const Shape& shape) {
  std::optional<std::uint64_t> product = 1;
  for (std::uint64_t dim : shape) {
    product = checked_multiply(*product, dim);
    if (!product) return std::nullopt;
  }
  return product;
}

Tensor Tensor::zeros(const Shape& shape) {
  return Tensor{shape, std::vector<float>(static_cast<std::size_t>(shape_product(shape)), 0.0f)};
}

Result<OpResult> matmul(const Tensor& a, const Tensor& b) {
  if (a.shape.size() != 2 || b.shape.size() != 2) return fail("matmul currently expects rank-2 tensors");
  if (a.shape[1] != b.shape[0]) {
    return fail("cannot matmul " + shape_text(a.shape) + " @ " + shape_text(b.shape) + "; inner dimensions differ");
  }
  std::optional<std::uint64_t> values = checked_multiply(a.shape[0], b.shape[1]);
  if (!values || *values > kMaxTensorValues) {
    return fail("matmul output [" + std::to_string(a.shape[0]) + ", " + std::to_string(b.shape[1]) +
                "] is too large for the tensor lab");
  }
  std::size_t m = a.shape[0], k = a.shape[1], n = b.shape[1];
  return timed({a.shape[0], b.shape[1]}, [&](std::vector<float>& out) {
    out.assign(m * n, 0.0f);
    for (std::size_t i = 0; i < m; ++i) {
      for (std::size_t j = 0; j < n; ++j) {
        float sum = 0.0f;
        for (std::size_t p = 0; p < k; ++p) sum += a.data[i * k + p] * b.data[p * n + j];
        out[i * n + j] = sum;
      }
    }
  });
}

Result<OpResult> add(const Tensor& a, const Tensor& b) {
  bool same = a.shape == b.shape;
  bool row_bias = !a.shape.empty() && b.shape.size() == 1 && a.shape.back() == b.shape[0];
  if (!same && !row_bias) return fail("cannot add " + shape_text(a.shape) + " and " + shape_text(b.shape));
  return timed(a.shape, [&](std::vector<float>& out) {
    out.resize(a.data.size());
    std::size_t width = same ? a.data.size() : b.data.size();
    for (std::size_t x = 0; x < a.data.size(); ++x) out[x] = a.data[x] + b.data[width ? x % width : 0];
  });
}

Result<OpResult> transpose2d(const Tensor& a) {
  if (a.shape.size() != 2) return fail("transpose2d expects a rank-2 tensor");
  std::size_t rows = a.shape[0], cols = a.shape[1];
  return timed({a.shape[1], a.shape[0]}, [&](std::vector<float>& out) {
    out.resize(a.data.size());
    for (std::size_t i = 0; i < rows; ++i) {
      for (std::size_t j = 0; j < cols; ++j) out[j * rows + i] = a.data[i * cols + j];
    }
  });
}

OpResult scale(const Tensor& a, float factor) {
  return timed(a.shape, [&](std::vector<float>& out) {
    out.resize(a.data.size());
    for (std::size_t x = 0; x < a.data.size(); ++x) out[x] = a.data[x] * factor;
  });
}

OpResult relu(const Tensor& a) {
  return timed(a.shape, [&](std::vector<float>& out) {
    out.resize(a.data.size());
    for (std::size_t x = 0; x < a.data.size(); ++x) out[x] = a.data[x] > 0.0f ? a.data[x] : 0.0f;
  });
}

OpResult gelu(const Tensor& a) {
  return timed(a.shape, [&](std::vector<float>& out) {
    out.resize(a.data.size());
    for (std::size_t i = 0; i < a.data.size(); ++i) {
      float x = a.data[i];
      float h = x * 0.5f;
      float c = x * (x * x);
      float u = (x + c * 0.044715f) * 0.7978846f;
      out[i] = h * (std::tanh(u) + 1.0f);
    }
  });
}

Result<OpResult> softmax(const Tensor& a) {
  if (a.shape.empty()) return fail("softmax needs at least one dimension");
  std::size_t width = a.shape.back();
  return timed(a.shape, [&](std::vector<float>& out) {
    out = a.data;
    if (width == 0) return;  // no rows to normalise
    for (std::size_t row = 0; row + width <= out.size(); row += width) {
      float maximum = -std::numeric_limits<float>::infinity();
      for (std::size_t j = 0; j < width; ++j) {
        if (!std::isnan(out[row + j]) && out[row + j] > maximum) maximum = out[row + j];
      }
      float sum = 0.0f;
      for (std::size_t j = 0; j < width; ++j) {
        out[row + j] = std::exp(out[row + j] - maximum);
        sum += out[row + j];
      }
      for (std::size_t j = 0; j < width; ++j) out[row + j] /= sum;
    }
  });
}

double elapsed_ms(std::chrono::nanoseconds elapsed) {
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed);
  auto nanos = elapsed - seconds;
  return static_cast<double>(seconds.count()) * 1000.0 + static_cast<double>(nanos.count()) / 1000000.0;
}

std::string flat_values(const std::vector<float>& values) {
  std::string text;
  append_flat_values(text, values.data(), values.data() + values.size());
  return text;
}

std::string format_values(const std::string& name, const Tensor& tensor) {
  std::string text = "  " + name + " values:";
  if (tensor.shape.size() != 2) {
    text += ' ';
    append_flat_values(text, tensor.data.data(), tensor.data.data() + tensor.data.size());
    return text;
  }
  std::size_t rows = tensor.shape[0], cols = tensor.shape[1];
  if (rows == 0) return text + "\n";
  for (std::size_t i = 0; i < rows; ++i) {
    text += "\n    ";
    const float* row = tensor.data.data() + i * cols;
    append_flat_values(text, row, row + cols);
  }
  return text;
}

}  // namespace tarnwick
