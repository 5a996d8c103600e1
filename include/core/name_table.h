/// @file
/// `NameTable`: the names by which command lines, settings files, the Python module and
/// the log print and read the values of one enumeration. Each value's name is written
/// once, in the table beside its enumeration; the aliases that a reader also accepts
/// (older spellings) are listed in the same table, so that every front end accepts the
/// same texts and refuses the same mistakes.
///
/// A table is a constant view of two static arrays: it allocates nothing and reading or
/// printing a name is a linear scan of a handful of entries.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelvane {

/// One text of an enumeration's value.
template <class Enum>
struct EnumName {
  Enum value;
  const char* name;
};

/// The names of the values of `Enum` (see the file comment).
template <class Enum>
class NameTable {
 public:
  /// A table of `names` (one per value, in the order messages list them) and of
  /// `aliases` (further texts read as a value); `unknown` is printed for a value
  /// outside the table. The arrays must outlive the table (static arrays do).
  template <std::size_t N, std::size_t A>
  constexpr NameTable(const EnumName<Enum> (&names)[N], const EnumName<Enum> (&aliases)[A],
                      const char* unknown)
      : names_(names), count_(N), aliases_(aliases), aliasCount_(A), unknown_(unknown) {}

  /// A table without aliases.
  template <std::size_t N>
  constexpr NameTable(const EnumName<Enum> (&names)[N], const char* unknown)
      : names_(names), count_(N), aliases_(nullptr), aliasCount_(0), unknown_(unknown) {}

  /// The name of `value`; the table's text for unknown values when `value` is outside
  /// the enumeration. A static string.
  const char* name(Enum value) const {
    for (const EnumName<Enum>& entry : *this) {
      if (entry.value == value) return entry.name;
    }
    return unknown_;
  }

  /// Reads a name or an alias, exactly (letter case included). Returns false and leaves
  /// `value` alone for any other text.
  [[nodiscard]] bool parse(std::string_view text, Enum& value) const {
    return find(begin(), end(), text, value) || find(beginAliases(), endAliases(), text, value);
  }

  /// The names for a message, each between `quote`s, the last one after `last`:
  /// `"a", "b" or "c"`. With `withAliases`, followed by ` ("x": an alias of "a")` for
  /// each alias.
  std::string choices(std::string_view quote, bool withAliases = false,
                      std::string_view last = " or ") const {
    std::string text;
    for (std::size_t i = 0; i < count_; ++i) {
      if (i > 0) text.append(i + 1 == count_ ? last : std::string_view(", "));
      quoted(text, quote, names_[i].name);
    }
    for (std::size_t i = 0; withAliases && i < aliasCount_; ++i) {
      text += " (";
      quoted(text, quote, aliases_[i].name);
      text += ": an alias of ";
      quoted(text, quote, name(aliases_[i].value));
      text += ')';
    }
    return text;
  }

  /// The names, one per value, in the table's order.
  const EnumName<Enum>* begin() const { return names_; }
  const EnumName<Enum>* end() const { return names_ + count_; }
  std::size_t size() const { return count_; }

  /// The aliases, in the table's order.
  const EnumName<Enum>* beginAliases() const { return aliases_; }
  const EnumName<Enum>* endAliases() const { return aliases_ + aliasCount_; }

 private:
  static bool find(const EnumName<Enum>* first, const EnumName<Enum>* last, std::string_view text,
                   Enum& value) {
    for (; first != last; ++first) {
      if (text == first->name) {
        value = first->value;
        return true;
      }
    }
    return false;
  }

  static void quoted(std::string& text, std::string_view quote, const char* name) {
    text.append(quote).append(name).append(quote);
  }

  const EnumName<Enum>* names_;
  std::size_t count_;
  const EnumName<Enum>* aliases_;
  std::size_t aliasCount_;
  const char* unknown_;
};

}  // namespace zelvane
