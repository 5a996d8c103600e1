/// @file
/// The suite's settings layer: a hierarchical store of string values, loaded from
/// and saved to XML files, with a current path into the tree. Keys are paths with
/// "." as separator, relative to the current node.
///
/// Copies are cheap: a copy shares the tree with its source until either of them
/// changes it, and it starts at the source's current path; its pushes and pops
/// never move the source.
#pragma once

#include <charconv>
#include <iosfwd>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <boost/optional.hpp>
#include <boost/property_tree/ptree.hpp>

#include <zelvane/logging_manager.h>
#include <zelvane/zelvane_platform_export.h>

namespace zelvane {

class ZELVANE_SETTINGS_API SettingsManager : public LoggedComponent {
 public:
  using Tree = boost::property_tree::ptree;

  /// An empty store at its root, logging through the logger "SettingsManager".
  SettingsManager();
  /// A store that shares `other`'s tree (until one of them changes it), starts at
  /// `other`'s current path and logs through `other`'s logger.
  SettingsManager(const SettingsManager& other);
  SettingsManager& operator=(const SettingsManager& other);
  ~SettingsManager() override;

  /// Merges the XML file into the tree. The document's single root element, whatever
  /// its name, stands for the store's root. Where the same key path exists in both,
  /// the file wins; repeated children of one name are merged by their position
  /// among the children of that name. Comments are dropped. A value loses the blanks
  /// around it (so indented files read naturally) unless its element is under
  /// xml:space="preserve"; the attribute itself is not kept. The text of an element
  /// that has child elements is always trimmed.
  /// Throws `std::runtime_error` naming the file and the reason when the file is
  /// missing, unreadable or malformed; the tree is then unchanged. Malformed includes
  /// a closing tag that does not match its element (`<A>1</B>`), an entity other than
  /// the five that XML defines (`&amp;`, `&lt;`, `&gt;`, `&quot;`, `&apos;`) and a `&`
  /// that starts no reference (entities declared in a DOCTYPE are not read either), and
  /// the character NUL, raw or as a character reference.
  void addXML(const std::string& file);
  /// `addXML` on the XML text read from `in` to its end, for settings held in memory
  /// (an `std::istringstream` of a string); the errors say "settings text" where the
  /// file's name would stand.
  void addXML(std::istream& in);

  /// Writes the whole tree (not only the current node) under a root element
  /// "Settings". A value with blanks around it is written with xml:space="preserve",
  /// so that `addXML` reads every value back unchanged (the text of an element that
  /// has child elements aside). Throws `std::runtime_error` naming the file when it
  /// cannot be written or a key or value holds NUL (nothing is written then).
  void saveXML(const std::string& file) const;

  /// Makes the first child `name` of the current node current, creating it if absent.
  void pathPush(const std::string& name);
  /// Makes the `index`-th (from 0) child `name` current; an index equal to the count
  /// of such children appends one. `node` is unused and must be null. Throws
  /// `std::out_of_range` for a negative index or one beyond the count.
  void pathPush(const std::string& name, int index, Tree* node);
  /// Makes the parent current and returns the new current path. Throws
  /// `std::logic_error` at the root.
  const std::string& pathPop();
  /// "" at the root, else the names of the pushed nodes joined by ".".
  const std::string& currentPath() const { return current_path_; }

  /// `pathPush` for the lifetime of the guard and `pathPop` at its end, so that the
  /// path is restored also when reading or writing inside it throws. The store must
  /// outlive the guard, and pushes made meanwhile must be popped before it ends.
  class ScopedPush {
   public:
    /// `settings.pathPush(name)`.
    ScopedPush(SettingsManager& settings, const std::string& name) : settings_(settings) {
      settings_.pathPush(name);
    }
    /// `settings.pathPush(name, index, nullptr)`; throws as that does.
    ScopedPush(SettingsManager& settings, const std::string& name, int index)
        : settings_(settings) {
      settings_.pathPush(name, index, nullptr);
    }
    // `pathPop` throws only at the root, where only a broken contract (more pops
    // than pushes inside the guard) can bring it; that ends the program.
    ~ScopedPush() { settings_.pathPop(); }  // NOLINT(bugprone-exception-escape)
    ScopedPush(const ScopedPush&) = delete;
    ScopedPush& operator=(const ScopedPush&) = delete;

   private:
    SettingsManager& settings_;
  };

  /// Number of children of the current node whose key is `name`.
  int getChildCount(const std::string& name) const;
  /// True when `key` (a path below the current node) exists.
  bool exists(const std::string& key) const;
  /// Removes the subtree at `path` below the current node (every child of that name
  /// at the last step), if present.
  void deletePath(const std::string& path);

  /// The value at `key` converted to T. Throws `boost::property_tree::ptree_bad_path`
  /// when the key is missing and `boost::property_tree::ptree_bad_data` when the text
  /// does not convert (for numbers: the whole text must be the number, blanks around
  /// it aside). Integers (every integral type but `bool` and `char`, which read as
  /// themselves) are decimal, with an optional sign, and must lie in T's range: "-5"
  /// is refused for an unsigned type rather than wrapped, "4294967296" for a 32-bit
  /// one. Floating-point reads also take "inf", "-inf", "nan" and "-nan", the texts
  /// that `set` writes for non-finite values, so every value set reads back.
  ///
  /// Both errors say where: the full key path from the root, with the position of
  /// every child entered by index (`pathPush(name, index, node)`) on the way, for
  /// example "No such node (Transforms.Transform[2].Position.z)",
  /// "Bad value (Transforms.Transform[2].Position.x): 'abc' is not a number" and
  /// "Bad value (Capacity): '-5' is not an integer from 0 to 4294967295". The
  /// missing-path error's `path()` is that full path.
  template <class T>
  T get(const std::string& key) const;

  /// Creates or replaces the value at `key`, creating the nodes on the way.
  /// Floating-point values are written in their shortest round-trip form.
  template <class T>
  void set(const std::string& key, const T& value);

  /// The node that is current now.
  const Tree& currentNode() const { return *nodes_.back(); }
  /// The whole tree.
  const Tree& tree() const { return *tree_; }

 private:
  struct Step {
    std::string name;
    int index;
    bool indexed;  // entered by `pathPush(name, index, node)`
  };

  // The full path of `key` from the root, indexed steps with their index.
  std::string located(const std::string& key) const;
  [[noreturn]] void throwMissing(const std::string& key) const;
  [[noreturn]] void throwBadValue(const std::string& key, const std::string& text,
                                  const std::string& expected) const;
  void addDocument(const std::string& text, const std::string& source);

  Tree& mutableCurrentNode();
  // The index-th child `name` of the current node, or null with `count` set to the
  // number of such children.
  Tree* indexedChild(const std::string& name, int index, int& count);
  void detach();
  void rebuildNodes();
  void updateCurrentPath();
  void logGot(const std::string& key, const std::string& value) const;
  void logSet(const std::string& key, const std::string& value) const;

  std::shared_ptr<Tree> tree_;
  std::vector<Step> steps_;
  std::vector<Tree*> nodes_;  // nodes_[0] is the root, nodes_.back() the current node
  std::string current_path_;

  // Where the last indexed push found its child, so that walking a list of children
  // by index (0, 1, 2, ...) costs one step per child rather than a scan from the start.
  // Valid only while `generation_` is unchanged, that is until the tree is changed.
  struct ChildCursor {
    const Tree* parent = nullptr;
    std::string name;
    int index = -1;
    Tree::iterator position;
    unsigned long generation = 0;
  };
  ChildCursor cursor_;
  unsigned long generation_ = 1;
};

namespace detail {

template <class T>
std::string settingsText(const T& value) {
  if constexpr (std::is_same_v<T, std::string>) {
    return value;
  } else if constexpr (std::is_same_v<T, bool>) {
    return value ? "true" : "false";
  } else if constexpr (std::is_floating_point_v<T>) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
  } else {
    boost::property_tree::ptree node;
    node.put_value(value);
    return node.data();
  }
}

/// Reads the texts that `settingsText` writes for non-finite floating-point values
/// ("inf", "-inf", "nan", "-nan") into `value` and returns true; false for any other
/// text. The stream conversion that reads every other number refuses these, so
/// without this a stored NaN or infinity could not be read back.
template <class T>
bool nonFiniteValue(const std::string& text, T& value) {
  if (text == "inf" || text == "-inf") {
    value =
        text[0] == '-' ? -std::numeric_limits<T>::infinity() : std::numeric_limits<T>::infinity();
    return true;
  }
  if (text == "nan" || text == "-nan") {
    value =
        text[0] == '-' ? -std::numeric_limits<T>::quiet_NaN() : std::numeric_limits<T>::quiet_NaN();
    return true;
  }
  return false;
}

/// The integral types that settings read as numbers: all but `bool` and the character
/// types, which the tree reads as themselves.
template <class T>
inline constexpr bool isSettingsInteger =
    std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
    !std::is_same_v<T, wchar_t> && !std::is_same_v<T, char16_t> && !std::is_same_v<T, char32_t>;

enum class IntegerText { Valid, NotInteger, OutOfRange };

/// Reads `text` as a decimal integer of type T: blanks around it, an optional sign,
/// digits and nothing else. A number that does not fit T, a negative one for an
/// unsigned T included, is `OutOfRange` (the stream conversion would wrap "-5" into
/// an unsigned type); `value` is set only when the text is `Valid`.
template <class T>
IntegerText parseInteger(std::string_view text, T& value) {
  constexpr std::string_view blanks = " \t\n\v\f\r";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return IntegerText::NotInteger;
  text = text.substr(first, text.find_last_not_of(blanks) - first + 1);
  const bool negative = text.front() == '-';
  if (negative || text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return IntegerText::NotInteger;
  }
  if (negative && std::is_unsigned_v<T>) {
    if (text.find_first_not_of('0') != std::string_view::npos) return IntegerText::OutOfRange;
    value = 0;  // "-0"
    return IntegerText::Valid;
  }
  // The magnitude is read as the unsigned type of T's width, so that T's least value,
  // whose magnitude T itself cannot hold, is read too.
  using Magnitude = std::make_unsigned_t<T>;
  Magnitude magnitude = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (result.ec == std::errc::result_out_of_range) return IntegerText::OutOfRange;
  const Magnitude limit = negative ? Magnitude(Magnitude(std::numeric_limits<T>::max()) + 1u)
                                   : Magnitude(std::numeric_limits<T>::max());
  if (magnitude > limit) return IntegerText::OutOfRange;
  if (!negative || magnitude == 0) {
    value = static_cast<T>(magnitude);
  } else {
    value = static_cast<T>(-static_cast<T>(magnitude - 1) - 1);
  }
  return IntegerText::Valid;
}

/// "an integer from <least> to <greatest>" of T, for the error of an integer out of
/// T's range.
template <class T>
std::string integerRange() {
  return "an integer from " + std::to_string(+std::numeric_limits<T>::min()) + " to " +
         std::to_string(+std::numeric_limits<T>::max());
}

/// What a settings text of type T must be, for the error when it is not.
template <class T>
constexpr const char* settingsKind() {
  if constexpr (std::is_same_v<T, bool>) {
    return "true or false";
  } else if constexpr (std::is_floating_point_v<T>) {
    return "a number";
  } else {
    return "a value of the requested type";
  }
}
}  // namespace detail

template <class T>
T SettingsManager::get(const std::string& key) const {
  const boost::optional<const Tree&> child =
      currentNode().get_child_optional(Tree::path_type(key, '.'));
  if (!child) throwMissing(key);
  if constexpr (detail::isSettingsInteger<T>) {
    T number{};
    switch (detail::parseInteger(child->data(), number)) {
      case detail::IntegerText::Valid: break;
      case detail::IntegerText::NotInteger: throwBadValue(key, child->data(), "an integer");
      case detail::IntegerText::OutOfRange:
        throwBadValue(key, child->data(), detail::integerRange<T>());
    }
    logGot(key, child->data());
    return number;
  } else {
    if constexpr (std::is_floating_point_v<T>) {
      T special;
      if (detail::nonFiniteValue(child->data(), special)) {
        logGot(key, child->data());
        return special;
      }
    }
    const boost::optional<T> value = child->template get_value_optional<T>();
    if (!value) throwBadValue(key, child->data(), detail::settingsKind<T>());
    logGot(key, child->data());
    return *value;
  }
}

template <class T>
void SettingsManager::set(const std::string& key, const T& value) {
  const std::string text = detail::settingsText(value);
  logSet(key, text);
  mutableCurrentNode().put(Tree::path_type(key, '.'), text);
}

template <>
inline std::string SettingsManager::get<std::string>(const std::string& key) const {
  const boost::optional<const Tree&> child =
      currentNode().get_child_optional(Tree::path_type(key, '.'));
  if (!child) throwMissing(key);
  logGot(key, child->data());
  return child->data();
}

namespace utils {

enum EAngleUnits { DEGREES = 0, RADIANS = 1 };

/// The vector stored at the current node under "x", "y", "z".
ZELVANE_SETTINGS_API Eigen::Vector3f getVector3f(const SettingsManager& settings);
/// Stores `value` at the current node under "x", "y", "z".
ZELVANE_SETTINGS_API void setVector3f(SettingsManager& settings, const Eigen::Vector3f& value);
/// The quaternion stored at the current node under "x", "y", "z", "w" (not normalised).
ZELVANE_SETTINGS_API Eigen::Quaternionf getQuaternion(const SettingsManager& settings);
/// Stores `value` at the current node under "x", "y", "z", "w".
ZELVANE_SETTINGS_API void setQuaternionf(SettingsManager& settings,
                                         const Eigen::Quaternionf& value);
/// Stores yaw, pitch, roll (elements 0, 1, 2 of `ypr`, as given) under "yaw",
/// "pitch", "roll" and the unit under "units" ("radians" or "degrees").
ZELVANE_SETTINGS_API void setYPR(SettingsManager& settings, const Eigen::Vector3f& ypr,
                                 EAngleUnits units);

}  // namespace utils
}  // namespace zelvane
