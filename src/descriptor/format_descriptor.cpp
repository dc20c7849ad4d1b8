#include "descriptor/format_descriptor.h"

namespace tarnwick {

bool path_has_extension(std::string_view path, std::string_view extension) {
  std::size_t slash = path.find_last_of('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  // The ending must follow a dot that is not the name's first character.
  if (name.size() < extension.size() + 2) return false;
  std::string_view ending = name.substr(name.size() - extension.size());
  if (name[name.size() - extension.size() - 1] != '.') return false;
  for (std::size_t i = 0; i < ending.size(); ++i) {
    char c = ending[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != extension[i]) return false;
  }
  return true;
}

}  // namespace tarnwick
