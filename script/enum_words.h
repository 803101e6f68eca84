// The words an enum is read from in a script line and written as in a report or a log, kept in one
// table per enum so that the reading and the writing cannot drift apart. Pure; thread-safe.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ascii.h"

namespace quillet {

// One value and its word (lower case, as written). A word that is only written (the name of a
// default no line gives by name) is not read.
template <typename E>
struct EnumWord {
  E value;
  const char* word;
  bool read = true;
};

// The row of value; the table's first row, its default, when none has it. Row is any struct with a
// member `value`, so that a table may carry more than one text per value.
template <typename Row, std::size_t N, typename E>
constexpr const Row& rowOf(const Row (&table)[N], E value) {
  for (const Row& row : table) {
    if (row.value == value) return row;
  }
  return table[0];
}

template <typename E, std::size_t N>
constexpr const char* wordOf(const EnumWord<E> (&table)[N], E value) {
  return rowOf(table, value).word;
}

// The value a readable word names, compared in any case; nothing for any other text.
template <typename E, std::size_t N>
std::optional<E> valueOf(const EnumWord<E> (&table)[N], std::string_view text) {
  const std::string upper = asciiUpper(text);
  for (const EnumWord<E>& row : table) {
    if (row.read && asciiUpper(row.word) == upper) return row.value;
  }
  return std::nullopt;
}

}  // namespace quillet
