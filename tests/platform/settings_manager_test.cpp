#include "settings_manager.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/property_tree/exceptions.hpp>

#include "support/log_capture.h"
#include "support/run_program.h"

namespace {

using zelvane::SettingsManager;
using zelvane::testing::LogCapture;
using zelvane::testing::LogRecord;
using zelvane::testing::ScratchDir;
namespace pt = boost::property_tree;

std::string errorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

TEST(SettingsXml, RootElementStandsForTheStoreRoot) {
  ScratchDir dir;
  SettingsManager settings;
  settings.addXML(dir.write("a.xml",
                            "<Settings><LoggingPropsFile>x.props</LoggingPropsFile>"
                            "<Node><value> 2.5 </value></Node></Settings>"));
  EXPECT_EQ(settings.get<std::string>("LoggingPropsFile"), "x.props");
  EXPECT_FLOAT_EQ(settings.get<float>("Node.value"), 2.5f);

  SettingsManager other;
  other.addXML(dir.write("b.xml", "<Whatever><key>1</key></Whatever>"));
  EXPECT_EQ(other.get<int>("key"), 1);
}

TEST(SettingsXml, LaterFileWinsWhereKeysOverlap) {
  ScratchDir dir;
  SettingsManager settings;
  settings.addXML(dir.write("algorithm.xml",
                            "<Settings><shared>algorithm</shared><onlyA>a</onlyA>"
                            "<Group><x>1</x><y>2</y></Group>"
                            "<Item>first</Item><Item>second</Item></Settings>"));
  settings.addXML(dir.write("configuration.xml",
                            "<Settings><shared>configuration</shared><onlyC>c</onlyC>"
                            "<Group><y>20</y></Group><Item>FIRST</Item></Settings>"));
  EXPECT_EQ(settings.get<std::string>("shared"), "configuration");
  EXPECT_EQ(settings.get<std::string>("onlyA"), "a");
  EXPECT_EQ(settings.get<std::string>("onlyC"), "c");
  EXPECT_EQ(settings.get<int>("Group.x"), 1);
  EXPECT_EQ(settings.get<int>("Group.y"), 20);
  ASSERT_EQ(settings.getChildCount("Item"), 2);
  settings.pathPush("Item", 0, nullptr);
  EXPECT_EQ(settings.get<std::string>(""), "FIRST");
  settings.pathPop();
  settings.pathPush("Item", 1, nullptr);
  EXPECT_EQ(settings.get<std::string>(""), "second");
}

TEST(SettingsXml, MissingOrMalformedFileNamesFileAndReason) {
  ScratchDir dir;
  SettingsManager settings;
  settings.set<std::string>("kept", "yes");

  const std::string missing = dir.path("missing.xml");
  const std::string err = errorOf([&] { settings.addXML(missing); });
  EXPECT_NE(err.find(missing), std::string::npos) << err;
  EXPECT_NE(err.find("cannot open"), std::string::npos) << err;

  const std::string broken = dir.write("broken.xml", "<Settings><a>1</a>");
  const std::string err2 = errorOf([&] { settings.addXML(broken); });
  EXPECT_NE(err2.find(broken), std::string::npos) << err2;
  EXPECT_NE(err2.find("line"), std::string::npos) << err2;

  const std::string two = dir.write("two.xml", "<A>1</A><B>2</B>");
  EXPECT_NE(errorOf([&] { settings.addXML(two); }).find("single root element"), std::string::npos);

  EXPECT_EQ(settings.get<std::string>("kept"), "yes");
  EXPECT_FALSE(settings.exists("a"));
}

// Limits the size of the files this process writes, with SIGXFSZ ignored so that an
// over-long write fails instead of ending the process; both restored at the end.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A save that cannot be completed throws with the file's name and the reason, and
// leaves the file that was there as it was, with nothing else beside it.
TEST(SettingsXml, FailedSaveLeavesTheOldFileWhole) {
  ScratchDir dir;
  SettingsManager small;
  small.set<std::string>("Store.kept", "old content");
  const std::string target = dir.path("store.xml");
  small.saveXML(target);
  const std::string old = zelvane::testing::readFile(target);

  SettingsManager large;
  for (int i = 0; i < 200; ++i) large.set<int>("Store.value" + std::to_string(i), i);
  {
    const FileSizeLimit limit(1024);
    const std::string err = errorOf([&] { large.saveXML(target); });
    EXPECT_NE(err.find("'" + target + "'"), std::string::npos) << err;
    EXPECT_NE(err.find("File too large"), std::string::npos) << err;
  }
  EXPECT_EQ(zelvane::testing::readFile(target), old);
  EXPECT_EQ(filesIn(dir.path("")), std::vector<std::string>{"store.xml"});

  const std::string nowhere = dir.path("missing/store.xml");
  const std::string err = errorOf([&] { large.saveXML(nowhere); });
  EXPECT_NE(err.find("'" + nowhere + "'"), std::string::npos) << err;
  EXPECT_NE(err.find("No such file or directory"), std::string::npos) << err;
  EXPECT_EQ(filesIn(dir.path("")), std::vector<std::string>{"store.xml"});

  if (geteuid() != 0) {  // the superuser writes read-only files
    std::filesystem::permissions(target, std::filesystem::perms::owner_read);
    EXPECT_NE(errorOf([&] { large.saveXML(target); }).find("Permission denied"), std::string::npos);
    EXPECT_EQ(zelvane::testing::readFile(target), old);
  }
}

// A save replaces the file's content: its permissions stay, and a symbolic link to
// it stays a link to the new content.
TEST(SettingsXml, SaveReplacesTheContentBehindTheName) {
  namespace fs = std::filesystem;
  ScratchDir dir;
  SettingsManager settings;
  settings.set<std::string>("v", "first");
  const std::string target = dir.path("store.xml");
  settings.saveXML(target);
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(target, dir.path("link.xml"));

  settings.set<std::string>("v", "second");
  settings.saveXML(dir.path("link.xml"));
  EXPECT_TRUE(fs::is_symlink(dir.path("link.xml")));
  EXPECT_EQ(fs::status(target).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  SettingsManager loaded;
  loaded.addXML(target);
  EXPECT_EQ(loaded.get<std::string>("v"), "second");
  EXPECT_EQ(filesIn(dir.path("")), (std::vector<std::string>{"link.xml", "store.xml"}));
}

TEST(SettingsXml, SavedTreeWithWhitespaceInAndAroundItsValuesLoadsBack) {
  ScratchDir dir;
  SettingsManager settings;
  settings.addXML(dir.write("in.xml",
                            "<Settings>\n  <Text>\n    first line\n    second  line\n  </Text>\n"
                            "  <Mixed>value<Child>1</Child></Mixed>\n</Settings>"));
  EXPECT_EQ(settings.get<std::string>("Text"), "first line\n    second  line");
  EXPECT_EQ(settings.get<std::string>("Mixed"), "value");
  const std::vector<std::string> values = {" cam ", "cam ", "\tcam",   " ",        "   ",
                                           "\t",    "\n",   " a\n b ", "a & <b> ", ""};
  for (std::size_t i = 0; i < values.size(); ++i) {
    settings.set<std::string>("List.v" + std::to_string(i), values[i]);
  }
  settings.set<std::string>("List.plain", "cam");
  settings.set<float>("List.number", 0.7071068f);
  settings.pathPush("List");
  settings.saveXML(dir.path("out.xml"));  // the whole tree, not just the current node
  SettingsManager again;
  again.addXML(dir.path("out.xml"));
  EXPECT_EQ(again.tree(), settings.tree());
  EXPECT_EQ(again.get<float>("List.number"), 0.7071068f);
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(again.get<std::string>("List.v" + std::to_string(i)), values[i]) << i;
  }
  // Only the values that need it are marked; the others look as they always did.
  const std::string text = zelvane::testing::readFile(dir.path("out.xml"));
  EXPECT_NE(text.find("<v0 xml:space=\"preserve\"> cam </v0>"), std::string::npos) << text;
  EXPECT_NE(text.find("<plain>cam</plain>"), std::string::npos) << text;
  EXPECT_NE(text.find("<v9/>"), std::string::npos) << text;

  // Hand-written: indented values are trimmed unless xml:space says "preserve", which
  // holds for the element's descendants until one says "default".
  SettingsManager written;
  written.addXML(dir.write("in.xml",
                           "<S>\n  <a>\n    x\n  </a>\n  <b xml:space='preserve'> x </b>\n"
                           "  <C xml:space='preserve'>\n    <d> y </d>\n"
                           "    <E xml:space='default'><f> z </f></E>\n  </C>\n</S>"));
  EXPECT_EQ(written.get<std::string>("a"), "x");
  EXPECT_EQ(written.get<std::string>("b"), " x ");
  EXPECT_EQ(written.get<std::string>("C"), "");
  EXPECT_EQ(written.get<std::string>("C.d"), " y ");
  EXPECT_EQ(written.get<std::string>("C.E.f"), "z");
  EXPECT_FALSE(written.exists("b.<xmlattr>"));  // the mark is not a setting
}

// The reader alone would take these as data; each is malformed XML and refused with its
// line, from a file and from a text alike, leaving the store as it was.
TEST(SettingsXml, MalformedMarkupIsRefusedFromFileAndText) {
  ScratchDir dir;
  const struct {
    std::string xml;
    std::string reason;
  } cases[] = {
      {"<A>1</B>", "closing tag '</B>' does not match the element it closes (line 1)"},
      {"<S>\n  <a>1</a>\n  <b><c>2</b></c>\n</S>",
       "closing tag '</b>' does not match the element it closes (line 3)"},
      {"<S><a>&foo;</a></S>",
       "unknown entity '&foo;': only &amp; &lt; &gt; &quot; &apos; and character references "
       "are read (line 1)"},
      {"<S>\n<a x='&AMP;'/></S>", "unknown entity '&AMP;'"},
      {"<!DOCTYPE S [<!ENTITY e 'x'>]>\n<S>&e;</S>", "unknown entity '&e;'"},
      {"<S>R & D</S>", "'&' starts no entity or character reference (write &amp; for it) (line 1)"},
      {"<S>&amp</S>", "'&' starts no entity"},
      {std::string("<S>1</S>\n\0<T/>", 14),
       "the text holds the character NUL, which XML does not allow (line 2)"},
  };
  SettingsManager settings;
  settings.set<std::string>("kept", "yes");
  for (const auto& c : cases) {
    const std::string file = dir.write("bad.xml", c.xml);
    const std::string fromFile = errorOf([&] { settings.addXML(file); });
    EXPECT_NE(fromFile.find("settings file '" + file + "': " + c.reason), std::string::npos)
        << c.xml << " -> " << fromFile;
    std::istringstream in(c.xml);
    const std::string fromText = errorOf([&] { settings.addXML(in); });
    EXPECT_NE(fromText.find("cannot read settings text: " + c.reason), std::string::npos)
        << c.xml << " -> " << fromText;
  }
  EXPECT_EQ(settings.tree().size(), 1u);
  EXPECT_EQ(settings.get<std::string>("kept"), "yes");

  // What the reader translates, and what it reads as written, still loads.
  std::istringstream good(
      "<?xml version='1.0'?><S><a t='&quot;&#38;'>&amp;&lt;&gt;&quot;&apos;&#65;&#x42;</a>"
      "<!-- &c; </x> --><b><![CDATA[&d; </y>]]></b></S >");
  settings.addXML(good);
  EXPECT_EQ(settings.get<std::string>("a"), "&<>\"'AB");
  EXPECT_EQ(settings.get<std::string>("a.<xmlattr>.t"), "\"&");
  EXPECT_EQ(settings.get<std::string>("b"), "&d; </y>");
}

// A reference such as "&#0;" reads as NUL, which no XML file can hold: refused on
// reading, and on writing for a value set in memory, so a saved file always loads.
TEST(SettingsXml, NulIsRefusedOnReadingAndWriting) {
  ScratchDir dir;
  SettingsManager settings;
  for (const char* text : {"<S><a>x&#0;y</a></S>", "<S><a b='&#x0;'/></S>", "<S><a>&#;</a></S>"}) {
    const std::string file = dir.write("nul.xml", text);
    const std::string err = errorOf([&] { settings.addXML(file); });
    EXPECT_NE(err.find(file + "': a character reference stands for NUL"), std::string::npos)
        << text << ": " << err;
    EXPECT_TRUE(settings.tree().empty()) << text;
  }
  settings.set<std::string>("a", std::string("x\0y", 3));
  const std::string out = dir.path("out.xml");
  EXPECT_NE(errorOf([&] { settings.saveXML(out); }).find(out), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(SettingsValues, TypedReadsNonFiniteNumbersIncludedAndTheirErrors) {
  SettingsManager settings;
  settings.set<std::string>("text", "hello");
  settings.set<std::string>("number", "1.5");
  settings.set<std::string>("junk", "1.5abc");
  settings.set<int>("count", -3);
  settings.set<bool>("flag", true);
  settings.set<double>("precise", 0.1);

  EXPECT_EQ(settings.get<std::string>("text"), "hello");
  EXPECT_EQ(settings.get<float>("number"), 1.5f);
  EXPECT_EQ(settings.get<double>("number"), 1.5);
  EXPECT_EQ(settings.get<int>("count"), -3);
  EXPECT_TRUE(settings.get<bool>("flag"));
  EXPECT_EQ(settings.get<double>("precise"), 0.1);
  EXPECT_EQ(settings.get<std::string>("precise"), "0.1");

  EXPECT_THROW(settings.get<float>("absent"), pt::ptree_bad_path);
  EXPECT_THROW(settings.get<std::string>("absent.deeper"), pt::ptree_bad_path);
  EXPECT_THROW(settings.get<float>("text"), pt::ptree_bad_data);
  EXPECT_THROW(settings.get<float>("junk"), pt::ptree_bad_data);
  EXPECT_THROW(settings.get<int>("number"), pt::ptree_bad_data);

  // Non-finite numbers read back as written, in those forms only; integers take none.
  settings.set<float>("nan", std::numeric_limits<float>::quiet_NaN());
  settings.set<float>("inf", std::numeric_limits<float>::infinity());
  settings.set<double>("minf", -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(settings.get<float>("nan")));
  EXPECT_TRUE(std::isnan(settings.get<double>("nan")));
  EXPECT_EQ(settings.get<float>("inf"), std::numeric_limits<float>::infinity());
  EXPECT_EQ(settings.get<double>("minf"), -std::numeric_limits<double>::infinity());
  for (const char* text : {"NaN", "Infinity", " inf", "inf ", "+inf", "nanx"}) {
    settings.set<std::string>("odd", text);
    EXPECT_THROW(settings.get<float>("odd"), pt::ptree_bad_data) << text;
  }
  EXPECT_THROW(settings.get<int>("inf"), pt::ptree_bad_data);
}

TEST(SettingsValues, ErrorsNameTheFullKeyPathWithIndexedChildrenAndTheText) {
  SettingsManager settings;
  settings.set<std::string>("Transforms.Transform.Position.x", "1");
  settings.pathPush("Transforms");
  settings.pathPush("Transform", 1, nullptr);
  settings.set<std::string>("Position.x", "abc");
  settings.set<std::string>("flag", "maybe");
  settings.set<std::string>("count", "1.5");
  const struct {
    std::function<void()> read;
    std::string message;
  } cases[] = {
      {[&] { settings.get<float>("Position.z"); },
       "No such node (Transforms.Transform[1].Position.z)"},
      {[&] { settings.get<std::string>("a.b"); }, "No such node (Transforms.Transform[1].a.b)"},
      {[&] { settings.get<double>("Position.x"); },
       "Bad value (Transforms.Transform[1].Position.x): 'abc' is not a number"},
      {[&] { settings.get<bool>("flag"); },
       "Bad value (Transforms.Transform[1].flag): 'maybe' is not true or false"},
      {[&] { settings.get<int>("count"); },
       "Bad value (Transforms.Transform[1].count): '1.5' is not an integer"},
  };
  for (const auto& c : cases) EXPECT_EQ(errorOf(c.read), c.message);
  EXPECT_THROW(settings.get<float>("Position.z"), pt::ptree_bad_path);
  EXPECT_THROW(settings.get<float>("Position.x"), pt::ptree_bad_data);
  settings.pathPop();
  settings.pathPop();
  EXPECT_EQ(errorOf([&] { settings.get<float>("x"); }), "No such node (x)");
}

// Wide enough for the numbers just outside the range of every integer type.
__extension__ using Wide = __int128;
__extension__ using UnsignedWide = unsigned __int128;

std::string decimal(Wide value) {
  if (value == 0) return "0";
  const bool negative = value < 0;
  UnsignedWide magnitude = negative ? -static_cast<UnsignedWide>(value) : value;
  std::string digits;
  for (; magnitude > 0; magnitude /= 10) digits.insert(digits.begin(), char('0' + magnitude % 10));
  return negative ? "-" + digits : digits;
}

// Each integer type reads its least and greatest values and refuses the numbers one
// beyond them, as out of its range (the stream conversion wrapped "-5" into unsigned
// types), with the range in the error.
template <class T>
void expectIntegerRange(const char* type) {
  SettingsManager settings;
  settings.pathPush("Limits");
  const Wide least = std::numeric_limits<T>::min();
  const Wide greatest = std::numeric_limits<T>::max();
  for (const Wide value : {least, greatest, Wide{0}}) {
    settings.set<std::string>("n", decimal(value));
    EXPECT_EQ(static_cast<Wide>(settings.get<T>("n")), value) << type << " " << decimal(value);
  }
  const std::string range = "is not an integer from " + decimal(least) + " to " + decimal(greatest);
  for (const Wide value : {least - 1, greatest + 1, least - 5, greatest * 10}) {
    settings.set<std::string>("n", decimal(value));
    EXPECT_EQ(errorOf([&] { settings.get<T>("n"); }),
              "Bad value (Limits.n): '" + decimal(value) + "' " + range)
        << type;
  }
}

TEST(SettingsValues, IntegersOutsideTheirTypesRangeAreRefused) {
  expectIntegerRange<signed char>("signed char");
  expectIntegerRange<unsigned char>("unsigned char");
  expectIntegerRange<short>("short");
  expectIntegerRange<unsigned short>("unsigned short");
  expectIntegerRange<int>("int");
  expectIntegerRange<unsigned>("unsigned");
  expectIntegerRange<long>("long");
  expectIntegerRange<unsigned long>("unsigned long");
  expectIntegerRange<long long>("long long");
  expectIntegerRange<unsigned long long>("unsigned long long");

  SettingsManager settings;
  const struct {
    const char* text;
    long value;  // or -1 for a text that is not an integer
  } cases[] = {{" 7\n", 7}, {"+7", 7},   {"-0", 0},   {"007", 7},   {"", -1},    {"+", -1},
               {"+-5", -1}, {"--5", -1}, {"5 5", -1}, {"0x10", -1}, {"1e3", -1}, {"7.0", -1}};
  for (const auto& c : cases) {
    settings.set<std::string>("n", c.text);
    if (c.value >= 0) {
      EXPECT_EQ(settings.get<std::size_t>("n"), static_cast<std::size_t>(c.value)) << c.text;
    } else {
      EXPECT_EQ(errorOf([&] { settings.get<unsigned>("n"); }),
                "Bad value (n): '" + std::string(c.text) + "' is not an integer")
          << c.text;
    }
  }
}

TEST(SettingsValues, ReadsAndWritesAreLoggedUnderTheStoresLogger) {
  LogCapture capture(Logger::TRACE_LEVEL);
  SettingsManager settings;  // never configured: logs as "SettingsManager"
  settings.pathPush("Transforms");
  settings.set<std::string>("orientationMethod", "quaternion");
  settings.get<std::string>("orientationMethod");
  EXPECT_EQ(capture.records(),
            (std::vector<LogRecord>{{"SettingsManager", Logger::DEBUG_LEVEL,
                                     "set Transforms.orientationMethod to: quaternion"},
                                    {"SettingsManager", Logger::TRACE_LEVEL,
                                     "got Transforms.orientationMethod, value: quaternion"}}));

  // Copies, made or assigned, log through their source's logger.
  SettingsManager tracker;
  tracker.setLogger(LoggingManager::getInstance().getLogger("Tracker"));
  tracker.set<int>("gain", 2);
  const SettingsManager copied(tracker);
  SettingsManager assigned;
  assigned = tracker;
  capture.clear();
  copied.get<int>("gain");
  assigned.get<int>("gain");
  const LogRecord got{"Tracker", Logger::TRACE_LEVEL, "got gain, value: 2"};
  EXPECT_EQ(capture.records(), (std::vector<LogRecord>{got, got}));
}

TEST(SettingsPath, PushPopCurrentPathExistsAndDelete) {
  SettingsManager settings;
  EXPECT_EQ(settings.currentPath(), "");
  settings.pathPush("A");
  settings.pathPush("B");
  EXPECT_EQ(settings.currentPath(), "A.B");
  settings.set<int>("v", 1);
  EXPECT_EQ(settings.pathPop(), "A");
  EXPECT_EQ(settings.get<int>("B.v"), 1);
  settings.pathPush("B", 1, nullptr);  // a second B
  settings.pathPop();
  settings.pathPop();
  EXPECT_EQ(settings.currentPath(), "");
  EXPECT_THROW(settings.pathPop(), std::logic_error);
  EXPECT_EQ(settings.currentPath(), "");

  EXPECT_TRUE(settings.exists("A.B.v"));
  EXPECT_FALSE(settings.exists("A.Other"));
  settings.deletePath("A.B");  // both of them
  EXPECT_TRUE(settings.exists("A"));
  EXPECT_FALSE(settings.exists("A.B"));
  settings.deletePath("A");
  settings.deletePath("A");  // absent: nothing happens
  EXPECT_FALSE(settings.exists("A"));
}

TEST(SettingsPath, ScopedPushPopsWhenItsScopeEndsAlsoByAnException) {
  SettingsManager settings;
  settings.pathPush("List");
  EXPECT_THROW(
      {
        const SettingsManager::ScopedPush outer(settings, "Item", 0);
        const SettingsManager::ScopedPush inner(settings, "Position");
        EXPECT_EQ(settings.currentPath(), "List.Item.Position");
        settings.get<int>("missing");
      },
      boost::property_tree::ptree_bad_path);
  EXPECT_EQ(settings.currentPath(), "List");
  EXPECT_TRUE(settings.exists("Item.Position"));
  EXPECT_THROW(SettingsManager::ScopedPush(settings, "Item", 2), std::out_of_range);
  EXPECT_EQ(settings.currentPath(), "List");  // a refused push pops nothing
}

TEST(SettingsPath, IndexedPushAppendsAtCountAndRefusesBeyond) {
  SettingsManager settings;
  settings.pathPush("List");
  EXPECT_EQ(settings.getChildCount("Item"), 0);
  for (int i = 0; i < 3; ++i) {
    settings.pathPush("Item", i, nullptr);
    settings.set<int>("index", i);
    settings.pathPop();
  }
  EXPECT_EQ(settings.getChildCount("Item"), 3);
  settings.pathPush("Item", 1, nullptr);
  EXPECT_EQ(settings.get<int>("index"), 1);
  settings.pathPop();
  EXPECT_THROW(settings.pathPush("Item", 4, nullptr), std::out_of_range);
  EXPECT_THROW(settings.pathPush("Item", -1, nullptr), std::out_of_range);
  EXPECT_EQ(settings.currentPath(), "List");
  EXPECT_EQ(settings.getChildCount("Item"), 3);
}

TEST(SettingsCopy, CopyStartsAtSourcePathAndMovesIndependently) {
  SettingsManager source;
  source.set<int>("A.B.v", 7);
  source.pathPush("A");

  SettingsManager copy(source);
  EXPECT_EQ(copy.currentPath(), "A");
  copy.pathPush("B");
  EXPECT_EQ(copy.get<int>("v"), 7);
  copy.set<int>("v", 8);
  copy.pathPush("New");
  EXPECT_EQ(source.currentPath(), "A");
  EXPECT_EQ(source.get<int>("B.v"), 7);
  EXPECT_FALSE(source.exists("B.New"));

  source.set<int>("B.v", 9);
  copy.pathPop();
  EXPECT_EQ(copy.get<int>("v"), 8);
}

TEST(SettingsUtils, VectorQuaternionAndYprLayouts) {
  SettingsManager settings;
  settings.pathPush("Position");
  zelvane::utils::setVector3f(settings, Eigen::Vector3f(1, 2, 3));
  EXPECT_EQ(zelvane::utils::getVector3f(settings), Eigen::Vector3f(1, 2, 3));
  settings.pathPop();
  EXPECT_EQ(settings.get<std::string>("Position.z"), "3");

  settings.pathPush("Quaternion");
  zelvane::utils::setQuaternionf(settings, Eigen::Quaternionf(0.5f, 0.1f, 0.2f, 0.3f));
  const Eigen::Quaternionf q = zelvane::utils::getQuaternion(settings);
  EXPECT_EQ(q.coeffs(), Eigen::Vector4f(0.1f, 0.2f, 0.3f, 0.5f));
  settings.pathPop();

  settings.pathPush("EulerYPR");
  zelvane::utils::setYPR(settings, Eigen::Vector3f(1.5707964f, 0, -0.25f), zelvane::utils::RADIANS);
  EXPECT_EQ(settings.get<std::string>("yaw"), "1.5707964");
  EXPECT_EQ(settings.get<float>("roll"), -0.25f);
  EXPECT_EQ(settings.get<std::string>("units"), "radians");
  zelvane::utils::setYPR(settings, Eigen::Vector3f(90, 0, 0), zelvane::utils::DEGREES);
  EXPECT_EQ(settings.get<std::string>("units"), "degrees");

  settings.pathPop();
  settings.pathPush("Empty");
  EXPECT_THROW(zelvane::utils::getVector3f(settings), pt::ptree_bad_path);
  EXPECT_THROW(zelvane::utils::getQuaternion(settings), pt::ptree_bad_path);
}

}  // namespace
