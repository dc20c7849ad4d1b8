// GGUF runs no code when loaded; a file that breaks the format's layout rules
// (overlapping or out-of-file ranges, bad lengths, a malformed header) is what misleads loaders.
// Its chat templates are another matter: runtimes render them with Jinja, and a template that
// reaches Python's internals runs code when the model is used.
#include "gguf/gguf_scan.h"

#include "gguf/gguf_reader.h"

namespace tarnwick::scan {

namespace {

constexpr std::string_view kTemplateKey = "tokenizer.chat_template";

constexpr std::string_view kEscapeConstructs[] = {
    "__class__", "__globals__", "__subclasses__", "__builtins__", "__init__", "__mro__", "__base__",
    "import",    "os.",         "popen",          "eval",         "exec",
};

bool is_template_key(std::string_view key) {
  return key == kTemplateKey || (key.starts_with(kTemplateKey) && key.size() > kTemplateKey.size() &&
                                 key[kTemplateKey.size()] == '.');
}

bool is_identifier_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// As a name of its own: "eval" in `x.eval(` but not in "evaluate", "os." not in "photos.".
bool holds_name(std::string_view text, std::string_view construct) {
  for (std::size_t at = text.find(construct); at != std::string_view::npos; at = text.find(construct, at + 1)) {
    std::size_t end = at + construct.size();
    bool starts = at == 0 || !is_identifier_byte(text[at - 1]);
    bool ends = !is_identifier_byte(construct.back()) || end == text.size() || !is_identifier_byte(text[end]);
    if (starts && ends) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string_view> template_escape_constructs(std::string_view chat_template) {
  std::vector<std::string_view> found;
  for (std::string_view construct : kEscapeConstructs) {
    if (holds_name(chat_template, construct)) found.push_back(construct);
  }
  return found;
}

void scan_gguf(const ScanInput& input, FileScan& scan) {
  scan.format = "gguf";
  Result<TensorTable> table = input.bytes ? read_gguf_bytes(*input.bytes, input.path) : read_gguf_table(input.path);
  if (!table.is_ok()) return scan.add("dangerous", "breaks the format's layout rules: " + table.message());
  for (const auto& [key, value] : table.value().metadata.items()) {
    if (!is_template_key(key)) continue;
    if (!value.is_string()) {
      scan.add("unknown", "metadata " + key + " is not a string; its template is not checked");
      continue;
    }
    for (std::string_view construct : template_escape_constructs(value.get_ref<const std::string&>())) {
      scan.add("dangerous", "metadata " + key + " holds the template construct \"" + std::string(construct) +
                                "\", which reaches Python's internals");
    }
  }
}

}  // namespace tarnwick::scan
