#include "keras/hdf5_weights.h"

#include <hdf5.h>

#include <mutex>

namespace tarnwick {

namespace {

// Every dataset header takes far more than this many bytes of the file, so a file naming more
// datasets than its size allows is refused before they are walked.
constexpr std::uint64_t kMinBytesPerDataset = 64;
constexpr std::uint64_t kMaxElementsRead = std::uint64_t{1} << 31;  // bytes read through libhdf5 per dataset

// libhdf5 prints its error stack to stderr by default; handlers write only to their own streams.
void silence_library() {
  static std::once_flag once;
  std::call_once(once, [] { H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr); });
}

// Closes an HDF5 identifier when it leaves scope.
class Handle {
 public:
  Handle(hid_t id, herr_t (*close)(hid_t)) : id_(id), close_(close) {}
  ~Handle() {
    if (id_ >= 0) close_(id_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  hid_t get() const { return id_; }
  bool ok() const { return id_ >= 0; }

 private:
  hid_t id_;
  herr_t (*close_)(hid_t);
};

std::string dtype_of(hid_t type, bool& big_endian, std::size_t& size) {
  H5T_class_t kind = H5Tget_class(type);
  size = H5Tget_size(type);
  big_endian = (kind == H5T_INTEGER || kind == H5T_FLOAT) && H5Tget_order(type) == H5T_ORDER_BE;
  if (kind == H5T_FLOAT) {
    if (size == 8) return "float64";
    if (size == 4) return "float32";
    if (size == 2) return "float16";
  }
  if (kind == H5T_INTEGER) {
    bool is_signed = H5Tget_sign(type) == H5T_SGN_2;
    if (size == 1 || size == 2 || size == 4 || size == 8) {
      return std::string(is_signed ? "int" : "uint") + std::to_string(size * 8);
    }
  }
  if (kind == H5T_ENUM && size == 1) return "bool";  // h5py stores numpy bools as a 1-byte enum
  return "unknown(class " + std::to_string(static_cast<int>(kind)) + ", " + std::to_string(size) + " bytes)";
}

struct Walk {
  std::vector<Hdf5Dataset> datasets;
  std::uint64_t limit = 0;
  std::string error;
};

void read_elements(hid_t dataset, hid_t type, bool big_endian, std::size_t size, Hdf5Dataset& entry) {
  if (entry.bytes > kMaxElementsRead) {
    entry.unreadable_reason = "a stored layout of more than 2 GiB, which is not read";
    return;
  }
  // Read as the little-endian type of the same size, so libhdf5 converts the byte order.
  hid_t native = H5Tcopy(type);
  if (big_endian) H5Tset_order(native, H5T_ORDER_LE);
  std::string elements(static_cast<std::size_t>(entry.bytes), '\0');
  herr_t read = H5Dread(dataset, native, H5S_ALL, H5S_ALL, H5P_DEFAULT, elements.data());
  H5Tclose(native);
  (void)size;
  if (read < 0) {
    entry.unreadable_reason = "libhdf5 could not read its elements";
    return;
  }
  entry.elements = std::move(elements);
}

herr_t visit(hid_t root, const char* name, const H5O_info_t* info, void* data) {
  Walk& walk = *static_cast<Walk*>(data);
  if (info->type != H5O_TYPE_DATASET) return 0;
  if (walk.datasets.size() >= walk.limit) {
    walk.error = "more datasets than a file of its size can hold";
    return -1;
  }
  Handle dataset(H5Dopen2(root, name, H5P_DEFAULT), H5Dclose);
  if (!dataset.ok()) return 0;
  Handle type(H5Dget_type(dataset.get()), H5Tclose);
  Handle space(H5Dget_space(dataset.get()), H5Sclose);
  if (!type.ok() || !space.ok()) return 0;
  Hdf5Dataset entry;
  entry.path = name;
  bool big_endian = false;
  std::size_t size = 0;
  entry.dtype = dtype_of(type.get(), big_endian, size);
  int rank = H5Sget_simple_extent_ndims(space.get());
  if (rank < 0 || rank > H5S_MAX_RANK) return 0;
  std::vector<hsize_t> dims(static_cast<std::size_t>(rank));
  if (rank > 0) H5Sget_simple_extent_dims(space.get(), dims.data(), nullptr);
  std::uint64_t count = 1;
  for (hsize_t dim : dims) {
    entry.shape.push_back(dim);
    count = dim != 0 && count > UINT64_MAX / dim ? UINT64_MAX : count * dim;
  }
  entry.bytes = size != 0 && count > UINT64_MAX / size ? UINT64_MAX : count * size;
  bool plain = !entry.dtype.starts_with("unknown(");
  Handle plist(H5Dget_create_plist(dataset.get()), H5Pclose);
  haddr_t address = H5Dget_offset(dataset.get());
  if (plain && !big_endian && plist.ok() && H5Pget_layout(plist.get()) == H5D_CONTIGUOUS && address != HADDR_UNDEF &&
      H5Dget_storage_size(dataset.get()) == entry.bytes) {
    entry.offset = address;
  } else if (plain && entry.bytes > 0) {
    read_elements(dataset.get(), type.get(), big_endian, size, entry);
  } else if (!plain) {
    entry.unreadable_reason = "a dtype the tensor table does not decode";
  }
  walk.datasets.push_back(std::move(entry));
  return 0;
}

}  // namespace

Result<std::vector<Hdf5Dataset>> read_hdf5_datasets(std::string_view image, const std::string& what) {
  silence_library();
  if (image.size() < 8 || image.substr(0, 8) != std::string_view("\x89HDF\r\n\x1a\n", 8)) {
    return fail(what + ": not an HDF5 file (no signature)");
  }
  // The core driver opens the image in memory (libhdf5 copies it), without a file on disk.
  Handle access(H5Pcreate(H5P_FILE_ACCESS), H5Pclose);
  if (!access.ok() || H5Pset_fapl_core(access.get(), 1 << 20, 0) < 0 ||
      H5Pset_file_image(access.get(), const_cast<char*>(image.data()), image.size()) < 0) {
    return fail(what + ": libhdf5 cannot take it in memory");
  }
  Handle file(H5Fopen("model.weights.h5", H5F_ACC_RDONLY, access.get()), H5Fclose);
  if (!file.ok()) return fail(what + ": libhdf5 cannot open it (cut short or malformed)");
  Walk walk;
  walk.limit = image.size() / kMinBytesPerDataset + 1;
  herr_t walked = H5Ovisit2(file.get(), H5_INDEX_NAME, H5_ITER_INC, visit, &walk, H5O_INFO_BASIC);
  if (!walk.error.empty()) return fail(what + ": " + walk.error);
  if (walked < 0) return fail(what + ": libhdf5 could not walk its groups (malformed)");
  return std::move(walk.datasets);
}

}  // namespace tarnwick
