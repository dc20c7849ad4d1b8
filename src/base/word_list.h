// Whitespace-separated words kept as one text. A header may name millions of features, and a
// string per name would cost many times the file it came from.
#pragma once

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class WordList {
 public:
  // Steps over the words in order; each is a view into the list.
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::string_view*;
    using reference = const std::string_view&;

    Iterator() = default;
    explicit Iterator(std::string_view rest) : rest_(rest) { take_word(); }
    reference operator*() const { return word_; }
    pointer operator->() const { return &word_; }
    Iterator& operator++() {
      take_word();
      return *this;
    }
    Iterator operator++(int) {
      Iterator copy = *this;
      take_word();
      return copy;
    }
    bool operator==(const Iterator& other) const {
      return word_.data() == other.word_.data() && word_.size() == other.word_.size();
    }

   private:
    void take_word();
    std::string_view rest_;
    std::string_view word_;
  };

  WordList() = default;
  // The words of `text` split at Unicode white space, as split_whitespace splits them.
  static WordList split(std::string_view text);

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  Iterator begin() const { return Iterator(joined_); }
  Iterator end() const { return Iterator(); }
  // The words joined by single spaces; no word holds a space, so equal texts mean equal lists.
  const std::string& joined() const { return joined_; }
  // A string per word, for the comparisons that sort or look names up.
  std::vector<std::string> strings() const;

  bool operator==(const WordList& other) const = default;

 private:
  std::string joined_;
  std::size_t count_ = 0;
};

}  // namespace tarnwick
