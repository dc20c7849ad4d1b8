// Tar archives: torch.load tries tar before anything else on a file that is not a zip, and its
// oldest format keeps pickles in the members "storages", "tensors" and "pickle"; any other
// member is scanned by what it holds.
#include "base/little_endian.h"
#include "containers/tar_archive.h"
#include "pickle/machine.h"
#include "pickle/pickle_findings.h"
#include "pickle/torch_types.h"
#include "pt/container_scan.h"

namespace tarnwick::scan {

namespace {

// One pickle of a member; its value too, when the layout needs it.
class MemberPickles {
 public:
  MemberPickles(std::string_view bytes, std::string where, FileScan& scan) : bytes_(bytes), where_(std::move(where)), scan_(scan) {
    machine_.limit_memory_to_file(bytes.size());
  }

  // Scans the pickle at the cursor and runs it over inert values; fails where it does not end.
  Result<const pickle::Value*> next() {
    std::string label = where_ + " pickle at offset " + std::to_string(at_);
    PickleTrace trace = scan_one_pickle(bytes_, at_, label, scan_);
    if (!trace.stopped) return fail("stops short");
    Result<pickle::ValueId> value = machine_.run(bytes_, at_);
    at_ = trace.end;
    if (!value.is_ok()) return fail(label + ": " + value.message());
    return &machine_.at(value.value());
  }
  Status skip(std::uint64_t length) {
    if (length > bytes_.size() - at_) return fail("raw data runs past the end of the member");
    at_ += length;
    return Status::ok();
  }
  Result<std::uint64_t> read_le(std::uint64_t width) {
    if (width > bytes_.size() - at_) return fail("raw data runs past the end of the member");
    std::uint64_t value = little_endian(bytes_, at_, width);
    at_ += width;
    return value;
  }
  const pickle::Machine& machine() const { return machine_; }

 private:
  std::string_view bytes_;
  std::string where_;
  FileScan& scan_;
  pickle::Machine machine_;
  std::uint64_t at_ = 0;
};

// The pickle at the cursor, which must hold a count (of storages, of tensors).
Result<std::uint64_t> next_count(MemberPickles& pickles) {
  Result<const pickle::Value*> value = pickles.next();
  if (!value.is_ok()) return value.error();
  if (value.value()->kind != pickle::Kind::kInt || value.value()->integer < 0) return fail("a count that is not a number");
  return static_cast<std::uint64_t>(value.value()->integer);
}

// "storages": a count, then per storage its (key, location, storage class) pickle and the raw
// elements (an 8-byte count, then the data); last, one pickle of the views.
Status follow_storages(MemberPickles& pickles) {
  Result<std::uint64_t> storages = next_count(pickles);
  if (!storages.is_ok()) return storages.error();
  for (std::uint64_t i = 0; i < storages.value(); ++i) {
    Result<const pickle::Value*> args = pickles.next();
    if (!args.is_ok()) return args.error();
    const pickle::Value& tuple = *args.value();
    if (tuple.kind != pickle::Kind::kTuple || tuple.items.size() != 3) return fail("a storage record is not (key, location, class)");
    const pickle::Value& storage_class = pickles.machine().at(tuple.items[2]);
    std::optional<TorchDtype> dtype =
        storage_class.kind == pickle::Kind::kGlobal ? storage_class_dtype(storage_class.name) : std::nullopt;
    if (!dtype) return fail("a storage class that is not torch's");
    Result<std::uint64_t> elements = pickles.read_le(8);
    if (!elements.is_ok()) return elements.error();
    if (elements.value() > UINT64_MAX / dtype->element_size) return fail("a storage size that overflows");
    if (Status skipped = pickles.skip(elements.value() * dtype->element_size); !skipped.is_ok()) return skipped;
  }
  Result<const pickle::Value*> views = pickles.next();
  return views.is_ok() ? Status::ok() : Status(views.error());
}

// "tensors": a count, then per tensor its pickle and the raw ndim (4 bytes and 4 more), sizes,
// strides (8 bytes each per dimension) and storage offset (8 bytes).
Status follow_tensors(MemberPickles& pickles) {
  Result<std::uint64_t> tensors = next_count(pickles);
  if (!tensors.is_ok()) return tensors.error();
  for (std::uint64_t i = 0; i < tensors.value(); ++i) {
    if (Result<const pickle::Value*> args = pickles.next(); !args.is_ok()) return args.error();
    Result<std::uint64_t> ndim = pickles.read_le(4);
    if (!ndim.is_ok()) return ndim.error();
    if (ndim.value() > 1024) return fail("a tensor of more than 1024 dimensions");
    if (Status skipped = pickles.skip(4 + 16 * ndim.value() + 8); !skipped.is_ok()) return skipped;
  }
  return Status::ok();
}

}  // namespace

void scan_tar_archive(std::string_view bytes, const Place& place, FileScan& scan) {
  if (place.top()) scan.format = "tar";
  TarListing listing = list_tar_members(bytes);
  if (listing.truncated) scan.add("unscannable", place.where("a tar member runs past the end of the archive"));
  for (const TarMember& member : listing.members) {
    if (!member.regular()) continue;
    std::string_view data = bytes.substr(member.data_offset, member.size);
    std::string where = place.where(member.name);
    if (member.name == "storages" || member.name == "tensors") {
      MemberPickles pickles(data, where, scan);
      Status followed = member.name == "storages" ? follow_storages(pickles) : follow_tensors(pickles);
      if (!followed.is_ok()) scan.add("unscannable", where + ": torch's layout cannot be followed: " + followed.message());
    } else if (member.name == "pickle") {
      scan_one_pickle(data, 0, where, scan);
    } else {
      scan_member_by_content(data, place.inside(member.name), scan);
    }
  }
}

}  // namespace tarnwick::scan
