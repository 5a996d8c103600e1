#include "modules/main_application_module.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "logging_manager.h"
#include "modules/options_parser.h"
#include "settings_manager.h"
#include "support/log_capture.h"
#include "support/run_program.h"

namespace zelvane {
namespace modules {
namespace {

namespace po = boost::program_options;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using zelvane::testing::LogCapture;
using zelvane::testing::LogRecord;
using zelvane::testing::readFile;
using zelvane::testing::ScratchDir;

// The help text of the five built-in options, as the parser lays it out.
const std::string kOptions =
    "Options:\n"
    "  -h [ --help ]                       Print help message\n"
    "  -a [ --algorithm-settings ] arg     XML algorithm settings file\n"
    "  -c [ --configuration-settings ] arg XML configuration settings file. Takes \n"
    "                                      priority over algorithm-settings if there\n"
    "                                      is overlap in settings.\n"
    "  --log-level arg                     Log level for console output\n"
    "  --log-props arg                     Logging properties file\n";

// The same with the options of the FilterOptions contributor below.
const std::string kFilterOptions =
    kOptions + "\nFilter:\n  --gain arg" + std::string(26, ' ') + "Filter gain\n";

const std::string kMissingConfiguration =
    "ERROR: the option '--configuration-settings' is required but missing\n\n" + kOptions + "\n";

// A contributor with one visible option, one hidden option and two positional
// arguments; it records what it was given and rejects a negative gain.
class FilterOptions : public OptionsParser {
 public:
  explicit FilterOptions(std::vector<std::string>* calls, std::string name = "filter")
      : calls_(calls), name_(std::move(name)), visible_("Filter"), hidden_("Hidden") {
    visible_.add_options()("gain", po::value<double>(), "Filter gain");
    hidden_.add_options()("secret", po::value<std::string>(), "Not shown")(
        "input", po::value<std::string>(), "Input file")("output", po::value<std::string>(),
                                                         "Output file");
    positional_.add("input", 1).add("output", 1);
  }
  const po::options_description& getOptions() override { return visible_; }
  const po::options_description& getHiddenOptions() override { return hidden_; }
  const po::positional_options_description& getPositionalOptions() override { return positional_; }
  void processOptions(po::variables_map& options) override {
    calls_->push_back(name_);
    if (options.count("gain") != 0) gain = options["gain"].as<double>();
    for (auto [key, value] :
         {std::pair{"secret", &secret}, {"input", &input}, {"output", &output}}) {
      if (options.count(key) != 0) *value = options[key].as<std::string>();
    }
    if (gain < 0) {
      throw InvalidInputError("gain must not be negative");
    }
  }

  double gain = 0;
  std::string secret, input, output;

 private:
  std::vector<std::string>* calls_;
  std::string name_;
  po::options_description visible_, hidden_;
  po::positional_options_description positional_;
};

// A contributor whose only trait is an arbitrary positional description.
class PositionalOnly : public OptionsParser {
 public:
  PositionalOnly(const char* name, int count, bool* processed) : processed_(processed) {
    hidden_.add_options()(name, po::value<std::vector<std::string>>(), "");
    positional_.add(name, count);
  }
  const po::options_description& getOptions() override { return visible_; }
  const po::options_description& getHiddenOptions() override { return hidden_; }
  const po::positional_options_description& getPositionalOptions() override { return positional_; }
  void processOptions(po::variables_map&) override { *processed_ = true; }

 private:
  bool* processed_;
  po::options_description visible_, hidden_;
  po::positional_options_description positional_;
};

// Command-line arguments and the parser's message about them.
struct ParseCase {
  std::vector<std::string> args;
  std::string message;
};

struct Outcome {
  bool result;
  std::string out;
  std::string err;
};

class MainApplicationModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoggingManager::getInstance().reset();
    capture_.emplace();  // after the reset, which drops every sink
    static_cast<void>(module_.connectValidated([this] { ++validated_; }));
    static_cast<void>(module_.connectSettings(
        [this](const std::shared_ptr<SettingsManager>& store) { delivered_.push_back(store); }));
  }
  void TearDown() override {
    capture_.reset();
    LoggingManager::getInstance().reset();
  }

  std::string write(const std::string& name, const std::string& content) {
    return dir_.write(name, content);
  }
  std::string settingsFile(const std::string& name, const std::string& body) {
    return write(name, "<Settings>" + body + "</Settings>\n");
  }
  std::string plainConfig() { return settingsFile("config.xml", "<Key>1</Key>"); }
  // What the module's own logger wrote.
  std::vector<LogRecord> records() const {
    std::vector<LogRecord> own;
    for (const LogRecord& record : capture_->records()) {
      if (record.logger == "MainApplicationModule") own.push_back(record);
    }
    return own;
  }

  // Runs `configure` of `module` on `argc` and `argv`, capturing both streams.
  static Outcome runRaw(MainApplicationModule& module, int argc, char** argv,
                        const std::shared_ptr<SettingsManager>& store = nullptr,
                        const std::string& settingsPath = "") {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const bool result = module.configure(argc, argv, store, settingsPath);
    std::string err = ::testing::internal::GetCapturedStderr();
    return {result, ::testing::internal::GetCapturedStdout(), err};
  }
  // The same on "prog" followed by `given`.
  static Outcome run(MainApplicationModule& module, std::vector<std::string> given,
                     const std::shared_ptr<SettingsManager>& store = nullptr,
                     const std::string& settingsPath = "") {
    given.insert(given.begin(), "prog");
    std::vector<char*> argv;
    for (std::string& arg : given) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return runRaw(module, static_cast<int>(given.size()), argv.data(), store, settingsPath);
  }
  Outcome run(const std::vector<std::string>& args,
              const std::shared_ptr<SettingsManager>& store = nullptr,
              const std::string& settingsPath = "") {
    return run(module_, args, store, settingsPath);
  }

  ScratchDir dir_;
  std::optional<LogCapture> capture_;
  MainApplicationModule module_;
  int validated_ = 0;
  std::vector<std::shared_ptr<SettingsManager>> delivered_;
};

TEST_F(MainApplicationModuleTest, HelpPrintsProgramNameAndOptionsAndStopsThere) {
  std::vector<std::string> calls;
  module_.registerOptions(std::make_shared<FilterOptions>(&calls));
  const std::string help = "prog\n" + kFilterOptions + "\n";
  const std::string config = plainConfig();
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-h"}, {"--help"}, {"-c", config, "--help", "--log-level", "debug", "in"}}) {
    SCOPED_TRACE(args.front());
    const Outcome outcome = run(args);
    EXPECT_FALSE(outcome.result);
    EXPECT_TRUE(module_.helpShown());
    EXPECT_EQ(outcome.out, help);
    EXPECT_EQ(outcome.err, "");
  }
  EXPECT_THAT(calls, IsEmpty());
  EXPECT_EQ(validated_, 0);
  EXPECT_THAT(delivered_, IsEmpty());
  EXPECT_FALSE(module_.getSettingsManager()->exists("Key"));

  EXPECT_TRUE(run({"-c", config}).result);
  EXPECT_FALSE(module_.helpShown());  // each configure tells about itself
}

TEST_F(MainApplicationModuleTest, ParseErrorsPrintTheParserMessageThenTheOptions) {
  const std::vector<ParseCase> cases = {
      {{"--bogus"}, "unrecognised option '--bogus'"},
      {{"-h", "--bogus"}, "unrecognised option '--bogus'"},
      {{"-c"}, "the required argument for option '--configuration-settings' is missing"},
      {{"-c", "file.xml", "stray"},
       "too many positional options have been specified on the command line"},
      {{"-c", "a", "-c", "b"},
       "option '--configuration-settings' cannot be specified more than once"},
      {{"--help=yes"}, "option '--help' does not take any arguments"},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.message);
    const Outcome outcome = run(c.args);
    EXPECT_FALSE(outcome.result);
    EXPECT_FALSE(module_.helpShown());  // also where the help was asked for
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "ERROR: " + c.message + "\n\n" + kOptions + "\n");
  }
  EXPECT_EQ(validated_, 0);
}

// The parser's message template uses the same "%name%" placeholders; a value holding
// one once made composing the message loop for ever.
TEST_F(MainApplicationModuleTest, PlaceholdersInGivenTextsAreReportedAsGiven) {
  std::vector<std::string> calls;
  module_.registerOptions(std::make_shared<FilterOptions>(&calls));
  std::vector<ParseCase> cases;
  for (const std::string value :
       {"%value%", "%canonical_option%", "%option%", "%prefix%", "%original_token%",
        "a%value%b%value%", "%%value%%", "%", "%invalid_line%\x01\x7f\xff"}) {
    const std::string message = "the argument ('" + value + "') for option '--gain' is invalid";
    cases.push_back({{"--gain", value}, message});
    cases.push_back({{"--gain=" + value}, message});
  }
  cases.push_back({{"--x%canonical_option%"}, "unrecognised option '--x%canonical_option%'"});
  cases.push_back({{"--%original_token%"}, "unrecognised option '--%original_token%'"});
  cases.push_back({{"-%prefix%"}, "unrecognised option '-%prefix%'"});
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.args.front());
    const Outcome outcome = run(c.args);
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.err, "ERROR: " + c.message + "\n\n" + kFilterOptions + "\n");
  }
  EXPECT_THAT(calls, IsEmpty());
}

TEST_F(MainApplicationModuleTest, MissingConfigurationFileIsReportedAfterContributorsRan) {
  std::vector<std::string> calls;
  module_.registerOptions(std::make_shared<FilterOptions>(&calls));
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{}, {"-a", "algorithm.xml"}, {"-c", ""}}) {
    const Outcome outcome = run(args);
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.err,
              "ERROR: the option '--configuration-settings' is required but missing\n\n" +
                  kFilterOptions + "\n");
  }
  EXPECT_THAT(calls, ElementsAre("filter", "filter", "filter"));
  EXPECT_EQ(validated_, 0);
}

TEST_F(MainApplicationModuleTest, LogLevelSwitchesConsoleOutputOnAtThatLevelOrIsRefused) {
  const std::string config = plainConfig();
  // An unknown level is reported after the validated signal, before any loading.
  Outcome outcome = run({"-c", config, "--log-level", "chatty"});
  EXPECT_FALSE(outcome.result);
  EXPECT_EQ(outcome.err, "--log-level 'chatty' is not valid.\n");
  EXPECT_EQ(validated_, 1);
  EXPECT_THAT(delivered_, IsEmpty());
  EXPECT_FALSE(module_.getSettingsManager()->exists("Key"));

  const std::string warning = "No algorithm settings file specified; using default settings";
  const std::string info = "Using configuration settings file: " + config;

  outcome = run({"-c", config, "--log-level", "WARN"});
  EXPECT_TRUE(outcome.result);
  EXPECT_EQ(LoggingManager::getInstance().consoleLevel, Logger::WARN_LEVEL);
  EXPECT_THAT(outcome.err, HasSubstr(warning));
  EXPECT_THAT(outcome.err, Not(HasSubstr(info)));

  outcome = run({"-c", config, "--log-level", "debug"});
  EXPECT_EQ(LoggingManager::getInstance().consoleLevel, Logger::DEBUG_LEVEL);
  EXPECT_THAT(outcome.err, HasSubstr(info));

  LoggingManager::getInstance().reset();
  outcome = run({"-c", config});
  EXPECT_TRUE(outcome.result);
  EXPECT_EQ(outcome.err, "");  // console output stays off without --log-level
}

TEST_F(MainApplicationModuleTest, ConfigurationLoadsAloneWithAWarningOrOverTheAlgorithmFile) {
  const std::string config = plainConfig();
  const Outcome outcome = run({"--configuration-settings", config});
  EXPECT_TRUE(outcome.result);
  EXPECT_EQ(outcome.out + outcome.err, "");
  EXPECT_THAT(records(),
              ElementsAre(LogRecord{"MainApplicationModule", Logger::WARN_LEVEL,
                                    "No algorithm settings file specified; using default settings"},
                          LogRecord{"MainApplicationModule", Logger::INFO_LEVEL,
                                    "Using configuration settings file: " + config}));
  ASSERT_EQ(delivered_.size(), 1u);
  EXPECT_EQ(delivered_[0]->get<std::string>("Key"), "1");
  EXPECT_EQ(delivered_[0]->getLogger().name(), "SettingsManager");

  capture_->clear();
  const std::string algorithm =
      settingsFile("algorithm.xml", "<Threshold>1</Threshold><Window>5</Window>");
  const std::string winning = settingsFile("winning.xml", "<Threshold>2</Threshold>");
  ASSERT_TRUE(run({"-a", algorithm, "-c", winning}).result);
  ASSERT_EQ(delivered_.size(), 2u);
  EXPECT_EQ(delivered_[1]->get<std::string>("Threshold"), "2");
  EXPECT_EQ(delivered_[1]->get<std::string>("Window"), "5");
  EXPECT_THAT(records(), ElementsAre(LogRecord{"MainApplicationModule", Logger::INFO_LEVEL,
                                               "Using algorithm settings file: " + algorithm},
                                     LogRecord{"MainApplicationModule", Logger::INFO_LEVEL,
                                               "Using configuration settings file: " + winning}));
}

TEST_F(MainApplicationModuleTest, UnreadableSettingsFileIsReportedWithTheReason) {
  const std::string good = settingsFile("good.xml", "<Key>1</Key>");
  const std::string malformed = write("malformed.xml", "<Settings><Key>");
  const std::string missing = dir_.path("missing.xml");
  struct Case {
    std::vector<std::string> args;
    std::string failing;
  };
  for (const Case& c : std::vector<Case>{{{"-a", missing, "-c", good}, missing},
                                         {{"-a", good, "-c", missing}, missing},
                                         {{"-c", malformed}, malformed}}) {
    SCOPED_TRACE(c.args[1] + " " + c.args.back());
    std::string reason;
    try {
      SettingsManager().addXML(c.failing);
    } catch (const std::exception& error) {
      reason = error.what();
    }
    ASSERT_FALSE(reason.empty());
    const Outcome outcome = run(c.args);
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.err, "Unable to read settings file " + c.failing + "\n" + reason + "\n");
  }
  EXPECT_THAT(delivered_, IsEmpty());
}

TEST_F(MainApplicationModuleTest, GivenStoreIsTheOneLoadedAndDeliveredUnderTheSettingsPath) {
  EXPECT_EQ(module_.getSettingsManager(), nullptr);
  const std::string config = plainConfig();

  ASSERT_TRUE(run({"-c", config}).result);
  const std::shared_ptr<SettingsManager> created = module_.getSettingsManager();
  ASSERT_NE(created, nullptr);

  auto store = std::make_shared<SettingsManager>();
  ASSERT_TRUE(run({"-c", config}, store).result);
  EXPECT_EQ(module_.getSettingsManager(), store);
  EXPECT_TRUE(store->exists("Key"));
  EXPECT_THAT(delivered_, ElementsAre(created, store));

  // The settings path is pushed only while the store is delivered.
  const std::string tracker = settingsFile("tracker.xml", "<Tracker><gain>3</gain></Tracker>");
  std::string path_seen, gain_seen;
  static_cast<void>(module_.connectSettings([&](const std::shared_ptr<SettingsManager>& store) {
    path_seen = store->currentPath();
    gain_seen = store->get<std::string>("gain");
  }));
  ASSERT_TRUE(run({"-c", tracker}, nullptr, "Tracker").result);
  EXPECT_EQ(path_seen, "Tracker");
  EXPECT_EQ(gain_seen, "3");
  EXPECT_EQ(module_.getSettingsManager()->currentPath(), "");
}

TEST_F(MainApplicationModuleTest, OverriddenSettingsReceivesTheStoreInsteadOfTheSignal) {
  struct Derived : MainApplicationModule {
    void settings(std::shared_ptr<SettingsManager> store) override { received = store; }
    std::shared_ptr<SettingsManager> received;
  } derived;
  int signalled = 0;
  static_cast<void>(derived.connectSettings(
      [&signalled](const std::shared_ptr<SettingsManager>&) { ++signalled; }));
  ASSERT_TRUE(run(derived, {"-c", plainConfig()}).result);
  EXPECT_EQ(derived.received, derived.getSettingsManager());
  EXPECT_EQ(signalled, 0);
}

TEST_F(MainApplicationModuleTest, LoggingPropertiesComeFromTheCommandLineElseFromTheSettings) {
  const std::string log_a = dir_.path("a.log"), log_b = dir_.path("b.log");
  const std::string props_a = write("a.properties", "logFile=" + log_a + "\n");
  const std::string props_b = write("b.properties", "logFile=" + log_b + "\n");
  const std::string config =
      settingsFile("config.xml", "<LoggingPropsFile>" + props_b + "</LoggingPropsFile>");
  const std::string plain = settingsFile("plain.xml", "<Key>1</Key>");

  ASSERT_TRUE(run({"-c", config, "--log-props", props_a}).result);
  EXPECT_THAT(readFile(log_a), HasSubstr("Using logging properties file: " + props_a));
  EXPECT_FALSE(std::filesystem::exists(log_b));

  // A fresh module: option values from an earlier configure stay in their members.
  LoggingManager::getInstance().reset();
  MainApplicationModule second;
  ASSERT_TRUE(run(second, {"-c", config}).result);
  EXPECT_THAT(readFile(log_b), HasSubstr("Using logging properties file: " + props_b));

  LoggingManager::getInstance().reset();
  const std::size_t before = readFile(log_b).size();
  MainApplicationModule third;
  ASSERT_TRUE(run(third, {"-c", plain}).result);  // neither source: no properties loaded
  EXPECT_EQ(readFile(log_b).size(), before);
}

// A mistyped properties path must fail like a mistyped settings path, not escape
// from configure as an exception.
TEST_F(MainApplicationModuleTest, UnreadableLoggingPropertiesFileIsReported) {
  const std::string missing = dir_.path("missing.properties");
  const std::string config = plainConfig();
  std::string reason;
  try {
    LoggingManager::getInstance().loadProperties(missing);
  } catch (const std::exception& error) {
    reason = error.what();
  }
  ASSERT_FALSE(reason.empty());
  const Outcome outcome = run({"-c", config, "--log-props", missing});
  EXPECT_FALSE(outcome.result);
  EXPECT_EQ(outcome.err,
            "Unable to read logging properties file " + missing + "\n" + reason + "\n");
  EXPECT_THAT(delivered_, IsEmpty());
}

TEST_F(MainApplicationModuleTest, ContributorReceivesVisibleHiddenAndPositionalValues) {
  std::vector<std::string> calls;
  auto first = std::make_shared<FilterOptions>(&calls, "first");
  bool second_processed = false;
  auto second = std::make_shared<PositionalOnly>("extra", 1, &second_processed);
  module_.registerOptions(first);
  module_.registerOptions(second);
  const std::string config = plainConfig();

  const Outcome outcome =
      run({"in.dat", "-c", config, "--gain", "2.5", "out.dat", "--secret", "s", "more"});
  EXPECT_TRUE(outcome.result) << outcome.err;
  EXPECT_DOUBLE_EQ(first->gain, 2.5);
  EXPECT_EQ(first->secret, "s");
  EXPECT_EQ(first->input, "in.dat");
  EXPECT_EQ(first->output, "out.dat");
  EXPECT_TRUE(second_processed);
  EXPECT_EQ(run({"-c", config, "a", "b", "c", "d"}).err.rfind("ERROR: too many positional", 0), 0u);
}

TEST_F(MainApplicationModuleTest, FirstContributorRejectionStopsConfigure) {
  struct Throwing : PositionalOnly {
    explicit Throwing(bool* processed) : PositionalOnly("unused", 0, processed) {}
    void processOptions(po::variables_map&) override { throw std::runtime_error("plain failure"); }
  };
  std::vector<std::string> calls;
  bool second_processed = false;
  const std::string config = plainConfig();
  module_.registerOptions(std::make_shared<FilterOptions>(&calls));
  module_.registerOptions(std::make_shared<PositionalOnly>("extra", 0, &second_processed));
  Outcome outcome = run({"-c", config, "--gain", "-1"});
  EXPECT_FALSE(outcome.result);
  EXPECT_EQ(outcome.err, "ERROR: Invalid input : gain must not be negative\n");
  EXPECT_THAT(calls, ElementsAre("filter"));
  EXPECT_FALSE(second_processed);
  EXPECT_EQ(validated_, 0);

  MainApplicationModule other;
  other.registerOptions(std::make_shared<Throwing>(&second_processed));
  outcome = run(other, {"-c", config});
  EXPECT_FALSE(outcome.result);
  EXPECT_EQ(outcome.err, "ERROR: plain failure\n");

  // The rejection's text is prefixed, an empty or null one too.
  EXPECT_STREQ(OptionsParser::InvalidInputError("").what(), "Invalid input : ");
  EXPECT_STREQ(OptionsParser::InvalidInputError(nullptr).what(), "Invalid input : ");
}

TEST_F(MainApplicationModuleTest, UnlimitedPositionalArgumentsAreRefusedBeforeParsing) {
  bool processed = false;
  module_.registerOptions(std::make_shared<PositionalOnly>("files", -1, &processed));
  const Outcome outcome = run({"-h", "a", "b"});
  EXPECT_FALSE(outcome.result);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err,
            "ERROR: an options parser declares an unlimited number of positional arguments; "
            "only a finite number is supported\n");
  EXPECT_FALSE(processed);
}

TEST_F(MainApplicationModuleTest, MalformedArgumentVectorsFailWithoutReadingPastThem) {
  std::string program = "prog", help = "-h";
  char* no_program[] = {nullptr};
  char* program_only[] = {program.data(), nullptr};
  struct Case {
    const char* name;
    int argc;
    char** argv;
  };
  for (const Case& c : std::vector<Case>{{"null argv", 3, nullptr},
                                         {"argc 0", 0, no_program},
                                         {"negative argc", -2, program_only},
                                         {"null program name", 1, no_program}}) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = runRaw(module_, c.argc, c.argv);
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(outcome.err, kMissingConfiguration);
  }

  char* null_inside[] = {program.data(), nullptr, help.data(), nullptr};
  Outcome outcome = runRaw(module_, 3, null_inside);
  EXPECT_FALSE(outcome.result);
  EXPECT_EQ(outcome.err, "ERROR: command-line argument 1 is a null pointer\n");

  char* unnamed_help[] = {nullptr, help.data(), nullptr};
  outcome = runRaw(module_, 2, unnamed_help);
  EXPECT_FALSE(outcome.result);
  EXPECT_EQ(outcome.out, "\n" + kOptions + "\n");

  module_.registerOptions(nullptr);  // ignored rather than dereferenced later
  EXPECT_EQ(runRaw(module_, 1, program_only).err, kMissingConfiguration);
}

TEST_F(MainApplicationModuleTest, StartAndStopRelayToTheirSlotsAndDestructionDoesNotStop) {
  std::vector<std::string> log;
  {
    MainApplicationModule module;
    static_cast<void>(module.connectStart([&log] { log.push_back("start"); }));
    static_cast<void>(module.connectStop([&log] { log.push_back("stop"); }));
    module.start();  // allowed before configure
    module.stop();
    module.stop();
  }
  EXPECT_THAT(log, ElementsAre("start", "stop", "stop"));
}

}  // namespace
}  // namespace modules
}  // namespace zelvane
