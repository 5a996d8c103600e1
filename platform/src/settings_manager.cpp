#include "settings_manager.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include <boost/property_tree/detail/rapidxml.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include "replace_file.h"
#include "text_fields.h"

namespace zelvane {

namespace {

using Tree = SettingsManager::Tree;
namespace rapidxml = boost::property_tree::detail::rapidxml;

// The index-th child keyed `name`, or null.
Tree* nthChild(Tree& parent, const std::string& name, int index) {
  int seen = 0;
  for (auto& child : parent) {
    if (child.first == name && seen++ == index) return &child.second;
  }
  return nullptr;
}

// Merges `from` into `into`: values of `from` win; the k-th child of a name merges
// into the k-th child of that name, and children beyond those present are appended.
void merge(Tree& into, const Tree& from) {
  if (from.empty() || !from.data().empty()) into.data() = from.data();
  std::map<std::string, int> occurrence;
  for (const auto& child : from) {
    const int index = occurrence[child.first]++;
    if (Tree* target = nthChild(into, child.first, index)) {
      merge(*target, child.second);
    } else {
      into.push_back(child);
    }
  }
}

// Element attributes, as the XML reader and writer keep them: a child of this name
// holding one child per attribute.
const char* const ATTRIBUTES = "<xmlattr>";
// The XML attribute that says whether white space in an element is part of its text.
const char* const SPACE = "xml:space";
using text::BLANKS;

bool hasOuterBlanks(const std::string& text) {
  return !text.empty() && (BLANKS.find(text.front()) != std::string_view::npos ||
                           BLANKS.find(text.back()) != std::string_view::npos);
}

// True when `node` has no child elements (attributes aside): its text is a value
// rather than the layout between children.
bool holdsValue(const Tree& node) {
  return std::all_of(node.begin(), node.end(),
                     [](const Tree::value_type& child) { return child.first == ATTRIBUTES; });
}

// The white-space mode that `node`'s xml:space attribute sets for it and its
// descendants ("preserve" true, "default" false, else `inherited`). The attribute is
// removed: it describes the file, not a setting.
bool takeSpaceMode(Tree& node, bool inherited) {
  const auto attributes = node.find(ATTRIBUTES);
  if (attributes == node.not_found()) return inherited;
  Tree& list = attributes->second;
  const auto space = list.find(SPACE);
  if (space == list.not_found()) return inherited;
  const std::string mode = space->second.data();
  list.erase(SPACE);
  if (list.empty()) node.erase(node.to_iterator(attributes));
  return mode == "preserve" ? true : mode == "default" ? false : inherited;
}

// Values lose the blanks around them, so that indented files read naturally, but keep
// the ones inside. A value under xml:space="preserve" (which `saveXML` writes for a
// value with blanks around it) is kept whole. Throws `std::invalid_argument` for a
// NUL character (the reader turns "&#0;" into one), which no XML file can carry, so
// that nothing is loaded that could not be saved and read again.
void readValues(Tree& node, bool preserve) {
  preserve = takeSpaceMode(node, preserve);
  std::string& data = node.data();
  if (data.find('\0') != std::string::npos) {
    throw std::invalid_argument("a character reference stands for NUL, which XML does not allow");
  }
  if (!(preserve && holdsValue(node))) data = text::trim(data);
  for (auto& child : node) readValues(child.second, preserve && child.first != ATTRIBUTES);
}

// " (line n)" for `position` in the text that starts at `begin`.
std::string lineOf(const char* begin, const char* position) {
  return " (line " + std::to_string(1 + std::count(begin, position, '\n')) + ")";
}

// The references that the reader translates: the five entities that XML defines, and
// character references ("&#...;"), which the reader checks itself.
bool startsKnownReference(std::string_view text) {
  for (const std::string_view entity : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;", "&#"}) {
    if (text.substr(0, entity.size()) == entity) return true;
  }
  return false;
}

// Throws `std::invalid_argument` for a '&' in `text` (a value as written in the file)
// that starts no reference the reader translates; the reader would keep it as text.
void checkReferences(std::string_view text, const char* begin) {
  for (auto amp = text.find('&'); amp != std::string_view::npos; amp = text.find('&', amp + 1)) {
    const std::string_view rest = text.substr(amp);
    if (startsKnownReference(rest)) continue;
    const auto end = rest.find_first_of("; \t\r\n<&\"'", 1);
    const std::string where = lineOf(begin, rest.data());
    if (end != std::string_view::npos && end > 1 && rest[end] == ';') {
      throw std::invalid_argument("unknown entity '" + std::string(rest.substr(0, end + 1)) +
                                  "': only &amp; &lt; &gt; &quot; &apos; and character "
                                  "references are read" +
                                  where);
    }
    throw std::invalid_argument("'&' starts no entity or character reference (write &amp; for it)" +
                                where);
  }
}

void checkReferences(const rapidxml::xml_node<char>& element, const char* begin) {
  for (auto* attribute = element.first_attribute(); attribute != nullptr;
       attribute = attribute->next_attribute()) {
    checkReferences(std::string_view(attribute->value(), attribute->value_size()), begin);
  }
  for (auto* child = element.first_node(); child != nullptr; child = child->next_sibling()) {
    if (child->type() == rapidxml::node_data) {
      checkReferences(std::string_view(child->value(), child->value_size()), begin);
    } else if (child->type() == rapidxml::node_element) {
      checkReferences(*child, begin);
    }
  }
}

// The tree reader takes any closing tag for the element that is open, and keeps an
// unknown entity or a lone '&' as text. This second reading of a text that the reader
// accepted checks the closing tags and, with nothing translated, finds every '&' as
// written. A NUL byte, which ends the reader's text early, is refused first. Throws
// `std::invalid_argument` with the reason and its line.
void checkWellFormed(const std::string& text) {
  if (const auto nul = text.find('\0'); nul != std::string::npos) {
    throw std::invalid_argument("the text holds the character NUL, which XML does not allow" +
                                lineOf(text.data(), text.data() + nul));
  }
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  rapidxml::xml_document<char> document;
  constexpr int flags = rapidxml::parse_validate_closing_tags |
                        rapidxml::parse_no_entity_translation |
                        rapidxml::parse_no_string_terminators;
  try {
    document.parse<flags>(buffer.data());
  } catch (const rapidxml::parse_error& e) {
    // The only error that this reading adds to the reader's: the position is just
    // past the closing tag's name.
    const char* end = e.where<char>();
    const char* name = end;
    while (name > buffer.data() && name[-1] != '/') --name;
    throw std::invalid_argument("closing tag '</" + std::string(name, end) +
                                ">' does not match the element it closes" +
                                lineOf(buffer.data(), end));
  }
  checkReferences(document, buffer.data());
}

// Marks every value with blanks around it xml:space="preserve", so that `addXML`
// keeps them; other values are written as they are. `attribute` is true inside an
// element's attributes, whose values are never marked. Throws
// `std::invalid_argument` for a key or value holding NUL, which a file cannot carry.
void prepareForWriting(Tree& node, bool attribute) {
  if (node.data().find('\0') != std::string::npos) {
    throw std::invalid_argument("a value holds the character NUL, which XML cannot carry");
  }
  if (!attribute && hasOuterBlanks(node.data()) && holdsValue(node)) {
    node.put(Tree::path_type(std::string(ATTRIBUTES) + '\n' + SPACE, '\n'), "preserve");
  }
  for (auto& child : node) {
    if (child.first.find('\0') != std::string::npos) {
      throw std::invalid_argument("a key holds the character NUL, which XML cannot carry");
    }
    prepareForWriting(child.second, attribute || child.first == ATTRIBUTES);
  }
}

}  // namespace

// A store that nobody configures still logs under the name that start-up gives it,
// so its records are found by that name.
SettingsManager::SettingsManager()
    : LoggedComponent("SettingsManager"), tree_(std::make_shared<Tree>()), nodes_{tree_.get()} {}

SettingsManager::SettingsManager(const SettingsManager& other)
    : LoggedComponent(other),
      tree_(other.tree_),
      steps_(other.steps_),
      nodes_(other.nodes_),
      current_path_(other.current_path_) {}

SettingsManager& SettingsManager::operator=(const SettingsManager& other) {
  if (this != &other) {
    LoggedComponent::operator=(other);
    tree_ = other.tree_;
    ++generation_;
    steps_ = other.steps_;
    nodes_ = other.nodes_;
    current_path_ = other.current_path_;
  }
  return *this;
}

SettingsManager::~SettingsManager() = default;

void SettingsManager::detach() {
  if (tree_.use_count() == 1) return;
  tree_ = std::make_shared<Tree>(*tree_);
  ++generation_;
  rebuildNodes();
}

void SettingsManager::rebuildNodes() {
  nodes_.assign(1, tree_.get());
  for (const Step& step : steps_) nodes_.push_back(nthChild(*nodes_.back(), step.name, step.index));
}

// Adding or changing values keeps every child iterator valid, so the cursor survives
// it; only a new tree (detach, load, assignment) or an erase invalidates it.
Tree& SettingsManager::mutableCurrentNode() {
  detach();
  return *nodes_.back();
}

Tree* SettingsManager::indexedChild(const std::string& name, int index, int& count) {
  Tree& parent = *nodes_.back();
  auto it = parent.begin();
  int seen = 0;
  if (cursor_.generation == generation_ && cursor_.parent == &parent && cursor_.name == name &&
      cursor_.index >= 0 && cursor_.index <= index) {
    it = cursor_.position;
    seen = cursor_.index;
  }
  for (; it != parent.end(); ++it) {
    if (it->first != name) continue;
    if (seen == index) {
      cursor_ = ChildCursor{&parent, name, index, it, generation_};
      return &it->second;
    }
    ++seen;
  }
  count = seen;
  return nullptr;
}

void SettingsManager::updateCurrentPath() {
  current_path_.clear();
  for (const Step& step : steps_) {
    if (!current_path_.empty()) current_path_ += '.';
    current_path_ += step.name;
  }
}

std::string SettingsManager::located(const std::string& key) const {
  std::string path;
  for (const Step& step : steps_) {
    path += step.name;
    if (step.indexed) path += "[" + std::to_string(step.index) + "]";
    path += '.';
  }
  return path + key;
}

void SettingsManager::throwMissing(const std::string& key) const {
  // The exception writes its path in parentheses after the text.
  throw boost::property_tree::ptree_bad_path("No such node", Tree::path_type(located(key), '.'));
}

void SettingsManager::throwBadValue(const std::string& key, const std::string& text,
                                    const std::string& expected) const {
  throw boost::property_tree::ptree_bad_data(
      "Bad value (" + located(key) + "): '" + text + "' is not " + expected, text);
}

void SettingsManager::addXML(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    const int error = errno;
    throw std::runtime_error("cannot read settings file '" + file + "': cannot open file" +
                             (error != 0 ? std::string(": ") + std::strerror(error) : ""));
  }
  const std::string text(std::istreambuf_iterator<char>(in), {});
  if (in.bad()) throw std::runtime_error("cannot read settings file '" + file + "': read error");
  addDocument(text, "settings file '" + file + "'");
}

void SettingsManager::addXML(std::istream& in) {
  const std::string text(std::istreambuf_iterator<char>(in), {});
  if (in.bad()) throw std::runtime_error("cannot read settings text: read error");
  addDocument(text, "settings text");
}

void SettingsManager::addDocument(const std::string& text, const std::string& source) {
  Tree document;
  try {
    std::istringstream in(text);
    boost::property_tree::read_xml(in, document, boost::property_tree::xml_parser::no_comments);
  } catch (const boost::property_tree::xml_parser_error& e) {
    throw std::runtime_error("cannot read " + source + ": " + e.message() +
                             (e.line() > 0 ? " (line " + std::to_string(e.line()) + ")" : ""));
  }
  if (document.size() != 1) {
    throw std::runtime_error("cannot read " + source + ": expected a single root element, found " +
                             std::to_string(document.size()));
  }
  try {
    checkWellFormed(text);
    readValues(document, false);
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error("cannot read " + source + ": " + e.what());
  }
  // Merging into the shared tree would change what copies see, so merge into our
  // own tree; the current node is found again by its steps afterwards.
  Tree merged = *tree_;
  merge(merged, document.front().second);
  tree_ = std::make_shared<Tree>(std::move(merged));
  ++generation_;
  rebuildNodes();
}

void SettingsManager::saveXML(const std::string& file) const {
  Tree document;
  try {
    prepareForWriting(document.add_child("Settings", *tree_), false);
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error("cannot write settings file '" + file + "': " + e.what());
  }
  std::ostringstream text;
  boost::property_tree::write_xml(
      text, document, boost::property_tree::xml_writer_make_settings<std::string>(' ', 2));
  // The text is complete before the file is touched, and replaces the old file only
  // once it is all on the disk: a full disk or a limit leaves the old file whole.
  try {
    replaceFile(file, text.str());
  } catch (const std::runtime_error& e) {
    throw std::runtime_error("cannot write settings file '" + file + "': " + e.what());
  }
}

void SettingsManager::pathPush(const std::string& name) {
  Tree* child = currentNode().count(name) > 0 ? nthChild(*nodes_.back(), name, 0) : nullptr;
  if (child == nullptr) {
    child = &mutableCurrentNode().push_back(Tree::value_type(name, Tree()))->second;
  }
  steps_.push_back(Step{name, 0, false});
  nodes_.push_back(child);
  updateCurrentPath();
}

void SettingsManager::pathPush(const std::string& name, int index, Tree* /*node*/) {
  int count = 0;
  Tree* child = index >= 0 ? indexedChild(name, index, count) : nullptr;
  if (child == nullptr) {
    if (index < 0) count = getChildCount(name);
    if (index != count) {
      throw std::out_of_range("settings path '" + current_path_ + "': child '" + name + "' index " +
                              std::to_string(index) + " is beyond the " + std::to_string(count) +
                              " present");
    }
    Tree& parent = mutableCurrentNode();
    const auto appended = parent.push_back(Tree::value_type(name, Tree()));
    cursor_ = ChildCursor{&parent, name, index, appended, generation_};
    child = &appended->second;
  }
  steps_.push_back(Step{name, index, true});
  nodes_.push_back(child);
  updateCurrentPath();
}

const std::string& SettingsManager::pathPop() {
  if (steps_.empty()) throw std::logic_error("settings path: cannot pop at the root");
  steps_.pop_back();
  nodes_.pop_back();
  updateCurrentPath();
  return current_path_;
}

int SettingsManager::getChildCount(const std::string& name) const {
  return static_cast<int>(currentNode().count(name));
}

bool SettingsManager::exists(const std::string& key) const {
  return static_cast<bool>(currentNode().get_child_optional(Tree::path_type(key, '.')));
}

void SettingsManager::deletePath(const std::string& path) {
  if (!exists(path)) return;
  const auto dot = path.rfind('.');
  Tree& node = mutableCurrentNode();
  ++generation_;
  Tree& parent =
      dot == std::string::npos ? node : node.get_child(Tree::path_type(path.substr(0, dot), '.'));
  parent.erase(dot == std::string::npos ? path : path.substr(dot + 1));
}

void SettingsManager::logGot(const std::string& key, const std::string& value) const {
  const LogStream stream = getLogger().traceStream();
  if (stream.stream() == nullptr) return;
  *stream.stream() << "got " << current_path_ << (current_path_.empty() ? "" : ".") << key
                   << ", value: " << value;
}

void SettingsManager::logSet(const std::string& key, const std::string& value) const {
  const LogStream stream = getLogger().debugStream();
  if (stream.stream() == nullptr) return;
  *stream.stream() << "set " << current_path_ << (current_path_.empty() ? "" : ".") << key
                   << " to: " << value;
}

namespace utils {

Eigen::Vector3f getVector3f(const SettingsManager& settings) {
  return Eigen::Vector3f(settings.get<float>("x"), settings.get<float>("y"),
                         settings.get<float>("z"));
}

void setVector3f(SettingsManager& settings, const Eigen::Vector3f& value) {
  settings.set<float>("x", value.x());
  settings.set<float>("y", value.y());
  settings.set<float>("z", value.z());
}

Eigen::Quaternionf getQuaternion(const SettingsManager& settings) {
  const float x = settings.get<float>("x");
  const float y = settings.get<float>("y");
  const float z = settings.get<float>("z");
  const float w = settings.get<float>("w");
  return Eigen::Quaternionf(w, x, y, z);
}

void setQuaternionf(SettingsManager& settings, const Eigen::Quaternionf& value) {
  settings.set<float>("x", value.x());
  settings.set<float>("y", value.y());
  settings.set<float>("z", value.z());
  settings.set<float>("w", value.w());
}

void setYPR(SettingsManager& settings, const Eigen::Vector3f& ypr, EAngleUnits units) {
  settings.set<float>("yaw", ypr[0]);
  settings.set<float>("pitch", ypr[1]);
  settings.set<float>("roll", ypr[2]);
  settings.set<std::string>("units", units == RADIANS ? "radians" : "degrees");
}

}  // namespace utils
}  // namespace zelvane
