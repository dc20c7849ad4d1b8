#include "tflite/tflite_reader.h"

#include <algorithm>
#include <set>

#include "base/file_read.h"
#include "containers/flatbuffers.h"
#include "tflite/tflite_schema.h"

namespace tarnwick {

namespace {



constexpr std::uint32_t kListedValues = 16;  // longer quantization lists are summarised

// A buffer's bytes: inside the FlatBuffer (its data vector) or, for models past 2 GB, at an
// offset of the file beyond it.
struct BufferBytes {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  bool external = false;
};

class ModelReader {
 public:
  ModelReader(const std::string& path, std::string_view bytes)
      : path_(path), bytes_(bytes), buffer_(bytes, path + ": TFLite model") {}

  Result<TensorTable> read() {
    if (bytes_.size() < 8 || bytes_.substr(4, 4) != tflite::kFileIdentifier) {
      return fail(path_ + ": not a TFLite model (no TFL3 identifier)");
    }
    Result<FbTable> model = buffer_.root();
    if (!model.is_ok()) return model.error();
    table_.path = path_;
    table_.format = "tflite";
    for (Status step : {read_header(model.value()), read_buffers(model.value()), read_operator_codes(model.value()),
                        read_subgraphs(model.value()), read_signatures(model.value()), read_metadata(model.value())}) {
      if (!step.is_ok()) return step.error();
    }
    return std::move(table_);
  }

 private:
  Status read_header(const FbTable& model) {
    Result<std::uint32_t> version = buffer_.scalar_field<std::uint32_t>(model, tflite::model::kVersion, 0);
    if (!version.is_ok()) return version.error();
    Result<std::optional<std::string_view>> description = buffer_.string_field(model, tflite::model::kDescription);
    if (!description.is_ok()) return description.error();
    table_.metadata["schema_version"] = version.value();
    table_.metadata["description"] = description.value() ? Json(std::string(*description.value())) : Json();
    return Status::ok();
  }

  Status read_buffers(const FbTable& model) {
    Result<FbVector> buffers = buffer_.vector_field(model, tflite::model::kBuffers, 4);
    if (!buffers.is_ok()) return buffers.error();
    std::uint64_t external = 0;
    for (std::uint32_t i = 0; i < buffers.value().count; ++i) {
      Result<FbTable> entry = buffer_.table_element(buffers.value(), i);
      if (!entry.is_ok()) return entry.error();
      Result<FbVector> data = buffer_.vector_field(entry.value(), tflite::buffer::kData, 1);
      Result<std::uint64_t> offset = buffer_.scalar_field<std::uint64_t>(entry.value(), tflite::buffer::kOffset, 0);
      Result<std::uint64_t> size = buffer_.scalar_field<std::uint64_t>(entry.value(), tflite::buffer::kSize, 0);
      if (!data.is_ok()) return data.error();
      if (!offset.is_ok()) return offset.error();
      if (!size.is_ok()) return size.error();
      BufferBytes bytes{data.value().first, data.value().count, false};
      if (offset.value() > 1) {  // 0 and 1 mark a buffer without external data
        if (offset.value() > bytes_.size() || size.value() > bytes_.size() - offset.value()) {
          return fail(path_ + ": buffer " + std::to_string(i) + " of " + std::to_string(size.value()) +
                      " bytes at offset " + std::to_string(offset.value()) + " runs past the end of the file (" +
                      std::to_string(bytes_.size()) + " bytes): it is cut short");
        }
        bytes = {offset.value(), size.value(), true};
        ++external;
      }
      buffers_.push_back(bytes);
    }
    table_.metadata["buffers"] = buffers.value().count;
    table_.metadata["external_buffers"] = external;
    return Status::ok();
  }

  Status read_operator_codes(const FbTable& model) {
    Result<FbVector> codes = buffer_.vector_field(model, tflite::model::kOperatorCodes, 4);
    if (!codes.is_ok()) return codes.error();
    for (std::uint32_t i = 0; i < codes.value().count; ++i) {
      Result<FbTable> code = buffer_.table_element(codes.value(), i);
      if (!code.is_ok()) return code.error();
      Result<std::int8_t> deprecated =
          buffer_.scalar_field<std::int8_t>(code.value(), tflite::operator_code::kDeprecatedBuiltinCode, 0);
      Result<std::int32_t> builtin = buffer_.scalar_field<std::int32_t>(code.value(), tflite::operator_code::kBuiltinCode, 0);
      Result<std::optional<std::string_view>> custom = buffer_.string_field(code.value(), tflite::operator_code::kCustomCode);
      if (!deprecated.is_ok()) return deprecated.error();
      if (!builtin.is_ok()) return builtin.error();
      if (!custom.is_ok()) return custom.error();
      // The runtime takes the larger of the two codes: old files set only the byte.
      std::int32_t value = std::max<std::int32_t>(deprecated.value(), builtin.value());
      if (value == tflite::kCustomOperator) {
        operator_names_.push_back(custom.value() ? std::string(*custom.value()) : "CUSTOM");
        custom_.insert(operator_names_.back());
      } else {
        operator_names_.push_back(tflite::builtin_operator_name(value));
      }
    }
    return Status::ok();
  }

  Result<std::vector<std::string>> tensor_names_at(const FbTable& subgraph, int slot,
                                                   const std::vector<std::string>& names) {
    Result<FbVector> indexes = buffer_.vector_field(subgraph, slot, 4);
    if (!indexes.is_ok()) return indexes.error();
    std::vector<std::string> listed;
    for (std::uint32_t i = 0; i < indexes.value().count; ++i) {
      std::int32_t index = buffer_.scalar_element<std::int32_t>(indexes.value(), i);
      listed.push_back(index >= 0 && static_cast<std::size_t>(index) < names.size() ? names[static_cast<std::size_t>(index)]
                                                                                    : "#" + std::to_string(index));
    }
    return listed;
  }

  Json float_list(const FbVector& values) {
    if (values.count > kListedValues) return Json{{"count", values.count}};
    Json list = Json::array();
    for (std::uint32_t i = 0; i < values.count; ++i) list.push_back(buffer_.scalar_element<float>(values, i));
    return list;
  }

  Json long_list(const FbVector& values) {
    if (values.count > kListedValues) return Json{{"count", values.count}};
    Json list = Json::array();
    for (std::uint32_t i = 0; i < values.count; ++i) list.push_back(buffer_.scalar_element<std::int64_t>(values, i));
    return list;
  }

  Status read_quantization(const FbTable& tensor, const std::string& name) {
    Result<std::optional<FbTable>> found = buffer_.table_field(tensor, tflite::tensor::kQuantization);
    if (!found.is_ok()) return found.error();
    if (!found.value()) return Status::ok();
    const FbTable& parameters = *found.value();
    Result<FbVector> scale = buffer_.vector_field(parameters, tflite::quantization::kScale, 4);
    Result<FbVector> zero_point = buffer_.vector_field(parameters, tflite::quantization::kZeroPoint, 8);
    Result<std::int32_t> dimension =
        buffer_.scalar_field<std::int32_t>(parameters, tflite::quantization::kQuantizedDimension, 0);
    if (!scale.is_ok()) return scale.error();
    if (!zero_point.is_ok()) return zero_point.error();
    if (!dimension.is_ok()) return dimension.error();
    if (scale.value().count == 0 && zero_point.value().count == 0) return Status::ok();
    table_.metadata["quantization"][name] = Json{{"scale", float_list(scale.value())},
                                                 {"zero_point", long_list(zero_point.value())},
                                                 {"quantized_dimension", dimension.value()}};
    return Status::ok();
  }

  Result<TensorEntry> tensor_entry(const FbTable& tensor, const std::string& name, const BufferBytes& data) {
    Result<FbVector> shape = buffer_.vector_field(tensor, tflite::tensor::kShape, 4);
    Result<std::int8_t> type = buffer_.scalar_field<std::int8_t>(tensor, tflite::tensor::kType, 0);
    if (!shape.is_ok()) return shape.error();
    if (!type.is_ok()) return type.error();
    TensorEntry entry;
    entry.name = name;
    entry.dtype = tflite::tensor_dtype(type.value());
    entry.numel = 1;
    for (std::uint32_t i = 0; i < shape.value().count; ++i) {
      std::int32_t dim = buffer_.scalar_element<std::int32_t>(shape.value(), i);
      if (dim < 0) return fail(path_ + ": tensor " + name + " holds data but has the dimension " + std::to_string(dim));
      entry.shape.push_back(static_cast<std::uint64_t>(dim));
      entry.numel = dim == 0 || entry.numel <= UINT64_MAX / static_cast<std::uint64_t>(dim)
                        ? entry.numel * static_cast<std::uint64_t>(dim)
                        : UINT64_MAX;
    }
    entry.bytes = data.length;
    entry.offset = data.offset;
    entry.data = TensorBytes{path_, data.offset, data.length};
    return entry;
  }

  Status read_subgraph(const FbTable& subgraph, std::uint32_t index, Json& counts) {
    Result<std::optional<std::string_view>> name = buffer_.string_field(subgraph, tflite::subgraph::kName);
    Result<FbVector> tensors = buffer_.vector_field(subgraph, tflite::subgraph::kTensors, 4);
    Result<FbVector> operators = buffer_.vector_field(subgraph, tflite::subgraph::kOperators, 4);
    if (!name.is_ok()) return name.error();
    if (!tensors.is_ok()) return tensors.error();
    if (!operators.is_ok()) return operators.error();
    std::string subgraph_name = name.value() ? std::string(*name.value()) : "";
    std::string prefix = index == 0 ? "" : (subgraph_name.empty() ? "subgraph" + std::to_string(index) : subgraph_name) + "/";
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < tensors.value().count; ++i) {
      Result<FbTable> tensor = buffer_.table_element(tensors.value(), i);
      if (!tensor.is_ok()) return tensor.error();
      Result<std::optional<std::string_view>> tensor_name = buffer_.string_field(tensor.value(), tflite::tensor::kName);
      Result<std::uint32_t> buffer = buffer_.scalar_field<std::uint32_t>(tensor.value(), tflite::tensor::kBuffer, 0);
      if (!tensor_name.is_ok()) return tensor_name.error();
      if (!buffer.is_ok()) return buffer.error();
      names.push_back(prefix + (tensor_name.value() ? std::string(*tensor_name.value()) : "#" + std::to_string(i)));
      Status quantization = read_quantization(tensor.value(), names.back());
      if (!quantization.is_ok()) return quantization;
      if (buffer.value() >= buffers_.size()) {
        if (buffer.value() == 0) continue;
        return fail(path_ + ": tensor " + names.back() + " names buffer " + std::to_string(buffer.value()) + " of " +
                    std::to_string(buffers_.size()));
      }
      const BufferBytes& data = buffers_[buffer.value()];
      if (buffer.value() == 0 || data.length == 0) continue;  // computed at run time: no data
      Result<TensorEntry> entry = tensor_entry(tensor.value(), names.back(), data);
      if (!entry.is_ok()) return entry.error();
      table_.tensors.push_back(entry.take());
    }
    for (std::uint32_t i = 0; i < operators.value().count; ++i) {
      Result<FbTable> op = buffer_.table_element(operators.value(), i);
      if (!op.is_ok()) return op.error();
      Result<std::uint32_t> code = buffer_.scalar_field<std::uint32_t>(op.value(), tflite::op::kOpcodeIndex, 0);
      if (!code.is_ok()) return code.error();
      if (code.value() >= operator_names_.size()) {
        return fail(path_ + ": operator " + std::to_string(i) + " names operator code " + std::to_string(code.value()) +
                    " of " + std::to_string(operator_names_.size()));
      }
      const std::string& op_name = operator_names_[code.value()];
      counts[op_name] = counts.value(op_name, std::uint64_t{0}) + 1;
    }
    Result<std::vector<std::string>> inputs = tensor_names_at(subgraph, tflite::subgraph::kInputs, names);
    Result<std::vector<std::string>> outputs = tensor_names_at(subgraph, tflite::subgraph::kOutputs, names);
    if (!inputs.is_ok()) return inputs.error();
    if (!outputs.is_ok()) return outputs.error();
    table_.metadata["subgraphs"].push_back(Json{{"name", subgraph_name},
                                                {"tensors", tensors.value().count},
                                                {"operators", operators.value().count},
                                                {"inputs", inputs.value()},
                                                {"outputs", outputs.value()}});
    return Status::ok();
  }

  Status read_subgraphs(const FbTable& model) {
    Result<FbVector> subgraphs = buffer_.vector_field(model, tflite::model::kSubgraphs, 4);
    if (!subgraphs.is_ok()) return subgraphs.error();
    table_.metadata["subgraphs"] = Json::array();
    Json counts = Json::object();
    for (std::uint32_t i = 0; i < subgraphs.value().count; ++i) {
      Result<FbTable> subgraph = buffer_.table_element(subgraphs.value(), i);
      if (!subgraph.is_ok()) return subgraph.error();
      Status read = read_subgraph(subgraph.value(), i, counts);
      if (!read.is_ok()) return read;
    }
    table_.metadata["operators"] = std::move(counts);
    table_.metadata["custom_operators"] = Json(std::vector<std::string>(custom_.begin(), custom_.end()));
    return Status::ok();
  }

  Result<Json> tensor_map(const FbVector& maps) {
    Json names = Json::array();
    for (std::uint32_t i = 0; i < maps.count; ++i) {
      Result<FbTable> map = buffer_.table_element(maps, i);
      if (!map.is_ok()) return map.error();
      Result<std::optional<std::string_view>> name = buffer_.string_field(map.value(), tflite::tensor_map::kName);
      if (!name.is_ok()) return name.error();
      names.push_back(name.value() ? std::string(*name.value()) : "");
    }
    return names;
  }

  Status read_signatures(const FbTable& model) {
    Result<FbVector> signatures = buffer_.vector_field(model, tflite::model::kSignatureDefs, 4);
    if (!signatures.is_ok()) return signatures.error();
    Json listed = Json::array();
    for (std::uint32_t i = 0; i < signatures.value().count; ++i) {
      Result<FbTable> signature = buffer_.table_element(signatures.value(), i);
      if (!signature.is_ok()) return signature.error();
      Result<std::optional<std::string_view>> key = buffer_.string_field(signature.value(), tflite::signature_def::kSignatureKey);
      Result<std::uint32_t> subgraph =
          buffer_.scalar_field<std::uint32_t>(signature.value(), tflite::signature_def::kSubgraphIndex, 0);
      Result<FbVector> inputs = buffer_.vector_field(signature.value(), tflite::signature_def::kInputs, 4);
      Result<FbVector> outputs = buffer_.vector_field(signature.value(), tflite::signature_def::kOutputs, 4);
      if (!key.is_ok()) return key.error();
      if (!subgraph.is_ok()) return subgraph.error();
      if (!inputs.is_ok()) return inputs.error();
      if (!outputs.is_ok()) return outputs.error();
      Result<Json> input_names = tensor_map(inputs.value());
      Result<Json> output_names = tensor_map(outputs.value());
      if (!input_names.is_ok()) return input_names.error();
      if (!output_names.is_ok()) return output_names.error();
      listed.push_back(Json{{"key", key.value() ? std::string(*key.value()) : ""},
                            {"subgraph", subgraph.value()},
                            {"inputs", input_names.take()},
                            {"outputs", output_names.take()}});
    }
    table_.metadata["signature_defs"] = std::move(listed);
    return Status::ok();
  }

  Status read_metadata(const FbTable& model) {
    Result<FbVector> entries = buffer_.vector_field(model, tflite::model::kMetadata, 4);
    if (!entries.is_ok()) return entries.error();
    Json listed = Json::object();
    for (std::uint32_t i = 0; i < entries.value().count; ++i) {
      Result<FbTable> entry = buffer_.table_element(entries.value(), i);
      if (!entry.is_ok()) return entry.error();
      Result<std::optional<std::string_view>> name = buffer_.string_field(entry.value(), tflite::metadata::kName);
      Result<std::uint32_t> buffer = buffer_.scalar_field<std::uint32_t>(entry.value(), tflite::metadata::kBuffer, 0);
      if (!name.is_ok()) return name.error();
      if (!buffer.is_ok()) return buffer.error();
      if (buffer.value() >= buffers_.size()) {
        return fail(path_ + ": metadata " + std::to_string(i) + " names buffer " + std::to_string(buffer.value()) +
                    " of " + std::to_string(buffers_.size()));
      }
      listed[name.value() ? std::string(*name.value()) : ""] = Json{{"bytes", buffers_[buffer.value()].length}};
    }
    table_.metadata["metadata"] = std::move(listed);
    return Status::ok();
  }

  const std::string& path_;
  std::string_view bytes_;
  FlatBuffer buffer_;
  TensorTable table_;
  std::vector<BufferBytes> buffers_;
  std::vector<std::string> operator_names_;
  std::set<std::string> custom_;
};

}  // namespace

Result<TensorTable> tflite_table_from_bytes(const std::string& path, std::string_view bytes) {
  return ModelReader(path, bytes).read();
}

Result<TensorTable> read_tflite_table(const std::string& path) {
  Result<FileBytes> bytes = read_whole_file(path);
  if (!bytes.is_ok()) return bytes.error();
  return tflite_table_from_bytes(path, bytes.value().view());
}

}  // namespace tarnwick
