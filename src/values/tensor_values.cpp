#include "values/tensor_values.h"

#include "base/checked_math.h"

namespace tarnwick {

namespace {

std::string bytes_text(std::uint64_t count) { return std::to_string(count) + (count == 1 ? " byte" : " bytes"); }

// The bytes `numel` elements of this codec take; fails on a partial block.
Result<std::uint64_t> expected_bytes(const ValueCodec& codec, const TensorEntry& tensor) {
  if (tensor.numel % codec.unit_elements() != 0) {
    return fail(std::to_string(tensor.numel) + " elements are not a whole number of " + tensor.dtype + " blocks of " +
                std::to_string(codec.unit_elements()));
  }
  std::optional<std::uint64_t> bytes = checked_multiply(tensor.numel / codec.unit_elements(), codec.unit_bytes());
  if (!bytes) return fail("its byte size overflows 64 bits");
  return *bytes;
}

Status check_length(const ValueCodec& codec, const TensorEntry& tensor, std::uint64_t length) {
  Result<std::uint64_t> expected = expected_bytes(codec, tensor);
  if (!expected.is_ok()) return expected.error();
  if (length == expected.value()) return Status::ok();
  if (codec.unit_elements() > 1 && length % codec.unit_bytes() != 0) {
    return fail(bytes_text(length) + " are not a whole number of " + tensor.dtype + " blocks of " +
                bytes_text(codec.unit_bytes()));
  }
  return fail("it holds " + bytes_text(length) + " where " + std::to_string(tensor.numel) + " " + tensor.dtype +
              " values take " + bytes_text(expected.value()));
}

// The logical elements of a strided view, in row-major order, copied out of its storage.
Result<std::string> gather_view(std::string_view file, const StridedBytes& view, std::uint64_t numel) {
  const std::uint64_t size = view.element_size;
  if (view.storage_start > file.size() || view.storage_length > file.size() - view.storage_start) {
    return fail("its storage lies outside the file");
  }
  std::string_view storage = file.substr(view.storage_start, view.storage_length);
  const std::uint64_t storage_elements = size == 0 ? 0 : storage.size() / size;
  std::uint64_t last = view.first_element;
  for (std::size_t i = 0; i < view.shape.size(); ++i) {
    if (view.shape[i] == 0) return std::string();
    if (view.stride[i] < 0) return fail("a negative stride");
    std::optional<std::uint64_t> reach = checked_multiply(view.shape[i] - 1, static_cast<std::uint64_t>(view.stride[i]));
    std::optional<std::uint64_t> sum = reach ? checked_add(last, *reach) : std::nullopt;
    if (!sum) return fail("a view whose strides overflow");
    last = *sum;
  }
  if (size == 0 || last >= storage_elements) return fail("a strided view that reaches past its storage");
  std::optional<std::uint64_t> total = checked_multiply(numel, size);
  if (!total || *total > 4 * file.size() + (32u << 20)) return fail("a strided view that names more elements than the file can hold");
  std::string out;
  out.reserve(*total);
  const std::size_t rank = view.shape.size();
  std::vector<std::uint64_t> index(rank, 0);
  for (std::uint64_t n = 0; n < numel; ++n) {
    std::uint64_t element = view.first_element;
    for (std::size_t i = 0; i < rank; ++i) element += index[i] * static_cast<std::uint64_t>(view.stride[i]);
    out.append(storage.substr(element * size, size));
    for (std::size_t dim = rank; dim-- > 0;) {
      if (++index[dim] < view.shape[dim]) break;
      index[dim] = 0;
    }
  }
  return out;
}

}  // namespace

Result<const MappedFile*> MappedFiles::get(const std::string& path) {
  auto found = files_.find(path);
  if (found != files_.end()) return found->second.get();
  auto file = std::make_unique<MappedFile>();
  Status opened = file->open(path);
  if (!opened.is_ok()) return opened.error();
  const MappedFile* mapped = file.get();
  files_.emplace(path, std::move(file));
  return mapped;
}

Result<TensorValues> TensorValues::open(const TensorEntry& tensor, MappedFiles& files) {
  std::optional<ValueCodec> codec = ValueCodec::for_dtype(tensor.dtype);
  if (!codec) return fail(undecodable_reason(tensor.dtype));
  TensorValues values(*codec, tensor.numel);
  if (tensor.element_bytes) {
    values.owned_ = tensor.element_bytes;
    values.bytes_ = *tensor.element_bytes;
  } else if (tensor.data) {
    Result<const MappedFile*> file = files.get(tensor.data->file);
    if (!file.is_ok()) return file.error();
    std::string_view whole = file.value()->bytes();
    const TensorBytes& range = *tensor.data;
    if (range.offset > whole.size() || range.length > whole.size() - range.offset) {
      return fail("its bytes (offset " + std::to_string(range.offset) + ", " + bytes_text(range.length) +
                  ") lie outside the file of " + bytes_text(whole.size()));
    }
    values.bytes_ = whole.substr(range.offset, range.length);
  } else if (tensor.strided) {
    Result<const MappedFile*> file = files.get(tensor.strided->file);
    if (!file.is_ok()) return file.error();
    Result<std::string> gathered = gather_view(file.value()->bytes(), *tensor.strided, tensor.numel);
    if (!gathered.is_ok()) return gathered.error();
    values.owned_ = std::make_shared<const std::string>(gathered.take());
    values.bytes_ = *values.owned_;
  } else {
    return fail(tensor.unreadable_reason.value_or("its bytes are not stored as a plain range"));
  }
  Status length = check_length(*codec, tensor, values.bytes_.size());
  if (!length.is_ok()) return length.error();
  return values;
}

void TensorValues::read(std::uint64_t first, std::uint64_t count, double* out, float* scratch) const {
  const std::uint64_t unit = codec_.unit_elements();
  const auto* bytes = reinterpret_cast<const unsigned char*>(bytes_.data()) + first / unit * codec_.unit_bytes();
  codec_.decode(bytes, count / unit, out, scratch);
}

ValueCodec::Run TensorValues::read_run(std::uint64_t first, std::uint64_t count, float* float_buffer,
                                      double* double_buffer) const {
  const std::uint64_t unit = codec_.unit_elements();
  const auto* bytes = reinterpret_cast<const unsigned char*>(bytes_.data()) + first / unit * codec_.unit_bytes();
  return codec_.decode_run(bytes, count / unit, float_buffer, double_buffer);
}

bool TensorValues::block_sums(std::uint64_t first, std::uint64_t count, ShiftedSums& sums) const {
  const std::uint64_t unit = codec_.unit_elements();
  const auto* bytes = reinterpret_cast<const unsigned char*>(bytes_.data()) + first / unit * codec_.unit_bytes();
  return codec_.block_sums(bytes, count / unit, sums);
}

}  // namespace tarnwick
