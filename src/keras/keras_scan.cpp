#include "keras/keras_scan.h"

#include <vector>

#include "keras/keras_archive.h"

namespace tarnwick::scan {

namespace {

std::string layer_name(const OrderedJson& object) {
  if (object.contains("config") && object["config"].is_object() && object["config"].contains("name") &&
      object["config"]["name"].is_string()) {
    return object["config"]["name"].get<std::string>();
  }
  return "(unnamed)";
}

// Walks every object of the config without recursion (a config may nest deeply).
void judge_config(const OrderedJson& config, FileScan& scan) {
  std::vector<const OrderedJson*> pending{&config};
  while (!pending.empty()) {
    const OrderedJson* value = pending.back();
    pending.pop_back();
    if (value->is_array()) {
      for (const OrderedJson& item : *value) pending.push_back(&item);
      continue;
    }
    if (!value->is_object()) continue;
    const std::string class_name = value->contains("class_name") && (*value)["class_name"].is_string()
                                       ? (*value)["class_name"].get<std::string>()
                                       : "";
    if (class_name == "Lambda") {
      scan.add("dangerous", "Lambda layer " + layer_name(*value) +
                                ": its function is Python code that Keras runs on load when safe_mode is off");
    } else if (class_name == "__lambda__") {
      scan.add("dangerous", "marshalled Python bytecode (__lambda__) in the config");
    }
    if (value->contains("module") && (*value)["module"].is_string()) {
      const std::string module = (*value)["module"].get<std::string>();
      if (!module.starts_with("keras") && module != "builtins") {
        scan.add("unknown", "custom object " + module + "." + class_name + ", imported on load");
      }
    }
    for (const auto& [key, member] : value->items()) pending.push_back(&member);
  }
}

}  // namespace

void scan_keras(const ScanInput& input, FileScan& scan) {
  scan.format = "keras";
  Result<KerasArchive> archive = read_keras_archive(input.path);
  if (!archive.is_ok()) return scan.add("unscannable", archive.message());
  judge_config(archive.value().config, scan);
}

}  // namespace tarnwick::scan
