#include "base/word_list.h"

#include "base/text.h"

namespace tarnwick {

void WordList::Iterator::take_word() {
  std::size_t space = rest_.find(' ');
  word_ = rest_.empty() ? std::string_view() : rest_.substr(0, space);
  rest_.remove_prefix(space == std::string_view::npos ? rest_.size() : space + 1);
}

WordList WordList::split(std::string_view text) {
  WordList list;
  list.joined_.reserve(text.size());  // never more than the text, so never grown
  std::string_view word;
  for (std::size_t at = next_word(text, 0, word); !word.empty(); at = next_word(text, at, word)) {
    if (list.count_++ != 0) list.joined_ += ' ';
    list.joined_ += word;
  }
  return list;
}

std::vector<std::string> WordList::strings() const {
  std::vector<std::string> words;
  words.reserve(count_);
  for (std::string_view word : *this) words.emplace_back(word);
  return words;
}

}  // namespace tarnwick
