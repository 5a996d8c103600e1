#include "modules/main_application_module.h"

#include <algorithm>
#include <exception>
#include <iostream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <boost/program_options/errors.hpp>
#include <boost/program_options/parsers.hpp>
#include <boost/program_options/value_semantic.hpp>

namespace zelvane {
namespace modules {

namespace po = boost::program_options;

namespace {

po::options_description makeDescription() {
  return po::options_description("Options", po::options_description::m_default_line_length,
                                 po::options_description::m_default_line_length / 2);
}

// Reaches the values that Boost keeps protected in an error with an option name
// ("option", "original_token", "value", ...).
struct ErrorValues : po::error_with_option_name {
  static std::map<std::string, std::string>& of(po::error_with_option_name& error) {
    return error.*&ErrorValues::m_substitutions;
  }
};

// The message of `error`, as `what()` gives it. Boost builds the message by replacing
// each placeholder ("%value%", "%canonical_option%", ...) until none is left, so a
// value holding the placeholder it replaces ("--time %value%") would never finish.
// Such values are handed to Boost with '%' swapped for a byte found neither in them
// nor in the template, and the byte is swapped back in the message.
std::string describe(std::exception& error) {
  auto* named = dynamic_cast<po::error_with_option_name*>(&error);
  if (named == nullptr) {
    return error.what();
  }
  std::map<std::string, std::string>& values = ErrorValues::of(*named);
  std::string text = named->m_error_template;
  for (const auto& entry : values) {
    text += entry.second;
  }
  if (std::none_of(values.begin(), values.end(),
                   [](const auto& entry) { return entry.second.find('%') != std::string::npos; })) {
    return error.what();
  }
  // Some byte is free unless the values hold all 254 others; '%' then shows as '?'.
  char stand_in = '?';
  bool free = false;
  for (int byte = 1; byte < 256 && !free; ++byte) {
    free = byte != '%' && text.find(static_cast<char>(byte)) == std::string::npos;
    if (free) {
      stand_in = static_cast<char>(byte);
    }
  }
  const std::map<std::string, std::string> given = values;
  for (auto& entry : values) {
    std::replace(entry.second.begin(), entry.second.end(), '%', stand_in);
  }
  std::string message = error.what();
  values = given;
  if (free) {
    std::replace(message.begin(), message.end(), stand_in, '%');
  }
  return message;
}

}  // namespace

struct MainApplicationModule::CommandLine {
  // What the help shows: the built-in options and the contributors' visible ones.
  po::options_description visible = makeDescription();
  // What the parser accepts: the visible options and the contributors' hidden ones.
  po::options_description full = makeDescription();
  po::positional_options_description positional;
  std::string program_name;
  std::vector<std::string> arguments;
  po::variables_map options;
};

MainApplicationModule::MainApplicationModule() : LoggedComponent("MainApplicationModule") {}

MainApplicationModule::~MainApplicationModule() = default;

bool MainApplicationModule::configure(int argc, char** argv,
                                      std::shared_ptr<SettingsManager> settings,
                                      std::string const& settingsPath) {
  settings_manager_ = settings ? std::move(settings) : std::make_shared<SettingsManager>();
  help_shown_ = false;
  CommandLine line;
  describeOptions(line);
  if (!collectPositionalArguments(line) || !copyArguments(argc, argv, line) || !parse(line) ||
      !runContributors(line) || !requireConfigurationFile(line)) {
    return false;
  }
  validated_signal_.emit();
  if (!applyLogLevel(line) || !loadSettingsFiles() || !loadLoggingProperties()) {
    return false;
  }
  deliverSettings(settingsPath);
  return true;
}

bool MainApplicationModule::helpShown() const { return help_shown_; }

void MainApplicationModule::describeOptions(CommandLine& line) {
  // clang-format off
  line.visible.add_options()
      ("help,h", "Print help message")
      ("algorithm-settings,a", po::value<std::string>(&algorithm_settings_file_),
       "XML algorithm settings file")
      ("configuration-settings,c", po::value<std::string>(&configuration_settings_file_),
       "XML configuration settings file. Takes priority over algorithm-settings if there is "
       "overlap in settings.")
      ("log-level", po::value<std::string>(&log_level_), "Log level for console output")
      ("log-props", po::value<std::string>(&log_props_file_), "Logging properties file");
  // clang-format on
  line.full.add(line.visible);
  for (const std::shared_ptr<OptionsParser>& parser : options_parsers_) {
    line.visible.add(parser->getOptions());
    line.full.add(parser->getOptions());
    line.full.add(parser->getHiddenOptions());
  }
}

bool MainApplicationModule::collectPositionalArguments(CommandLine& line) const {
  for (const std::shared_ptr<OptionsParser>& parser : options_parsers_) {
    const po::positional_options_description& own = parser->getPositionalOptions();
    const unsigned count = own.max_total_count();
    // Positions are copied one by one, so an unlimited description would never end.
    if (count == std::numeric_limits<unsigned>::max()) {
      std::cerr << "ERROR: an options parser declares an unlimited number of positional "
                   "arguments; only a finite number is supported"
                << std::endl;
      return false;
    }
    for (unsigned i = 0; i < count; ++i) {
      line.positional.add(own.name_for_position(i).c_str(), 1);
    }
  }
  return true;
}

// A hand-made or fuzzed argument vector may be null, short, or carry null entries
// before `argc`; none of that may reach the parser, which would read past the end.
bool MainApplicationModule::copyArguments(int argc, char** argv, CommandLine& line) const {
  if (argv == nullptr || argc <= 0) {
    return true;
  }
  if (argv[0] != nullptr) {
    line.program_name = argv[0];
  }
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) {
      std::cerr << "ERROR: command-line argument " << i << " is a null pointer" << std::endl;
      return false;
    }
    line.arguments.emplace_back(argv[i]);
  }
  return true;
}

bool MainApplicationModule::parse(CommandLine& line) {
  try {
    po::store(po::command_line_parser(line.arguments)
                  .options(line.full)
                  .positional(line.positional)
                  .run(),
              line.options);
    if (line.options.count("help") != 0) {
      std::cout << line.program_name << std::endl << line.visible << std::endl;
      help_shown_ = true;
      return false;
    }
    po::notify(line.options);
  } catch (po::error& error) {
    std::cerr << "ERROR: " << describe(error) << std::endl
              << std::endl
              << line.visible << std::endl;
    return false;
  }
  return true;
}

bool MainApplicationModule::runContributors(CommandLine& line) const {
  for (const std::shared_ptr<OptionsParser>& parser : options_parsers_) {
    try {
      parser->processOptions(line.options);
    } catch (std::exception& error) {
      std::cerr << "ERROR: " << describe(error) << std::endl;
      return false;
    }
  }
  return true;
}

bool MainApplicationModule::requireConfigurationFile(const CommandLine& line) const {
  if (!configuration_settings_file_.empty()) {
    return true;
  }
  std::cerr << "ERROR: "
            << "the option '--configuration-settings' is required but missing" << std::endl
            << std::endl
            << line.visible << std::endl;
  return false;
}

bool MainApplicationModule::applyLogLevel(const CommandLine& line) const {
  if (line.options.count("log-level") == 0) {
    return true;
  }
  const int level = Logger::getLevelFromString(log_level_);
  if (level == Logger::INVALID_LEVEL) {
    std::cerr << "--log-level '" << log_level_ << "' is not valid.\n";
    return false;
  }
  LoggingManager& logging = LoggingManager::getInstance();
  logging.consoleLevel = level;
  std::stringstream console("logToConsole=true");
  logging.loadProperties(console);
  return true;
}

bool MainApplicationModule::loadSettingsFiles() {
  settings_manager_->setLogger(LoggingManager::getInstance().getLogger("SettingsManager"));
  if (!algorithm_settings_file_.empty()) {
    getLogger().infoStream() << "Using algorithm settings file: " << algorithm_settings_file_;
    if (!addSettingsFile(algorithm_settings_file_)) {
      return false;
    }
  } else {
    getLogger().warn("No algorithm settings file specified; using default settings");
  }
  getLogger().infoStream() << "Using configuration settings file: " << configuration_settings_file_;
  return addSettingsFile(configuration_settings_file_);
}

bool MainApplicationModule::loadLoggingProperties() {
  if (!log_props_file_.empty()) {
    return loadLoggingPropertiesFile(log_props_file_);
  }
  if (settings_manager_->exists("LoggingPropsFile")) {
    return loadLoggingPropertiesFile(settings_manager_->get<std::string>("LoggingPropsFile"));
  }
  return true;
}

void MainApplicationModule::deliverSettings(const std::string& settingsPath) {
  if (settingsPath.empty()) {
    this->settings(settings_manager_);
    return;
  }
  settings_manager_->pathPush(settingsPath);
  this->settings(settings_manager_);
  settings_manager_->pathPop();
}

bool MainApplicationModule::addSettingsFile(const std::string& file) {
  try {
    settings_manager_->addXML(file);
  } catch (const std::exception& error) {
    std::cerr << "Unable to read settings file " << file << std::endl << error.what() << std::endl;
    return false;
  }
  return true;
}

bool MainApplicationModule::loadLoggingPropertiesFile(const std::string& file) {
  // A mistyped properties path is an operator's mistake like a mistyped settings
  // path, so it is reported the same way instead of escaping as an exception.
  try {
    LoggingManager::getInstance().loadProperties(file);
  } catch (const std::exception& error) {
    std::cerr << "Unable to read logging properties file " << file << std::endl
              << error.what() << std::endl;
    return false;
  }
  getLogger().infoStream() << "Using logging properties file: " << file;
  return true;
}

void MainApplicationModule::registerOptions(std::shared_ptr<OptionsParser> const& parser) {
  if (parser) {
    options_parsers_.push_back(parser);
  }
}

tkit::Connection MainApplicationModule::connectValidated(std::function<void()> const& slot) {
  return validated_signal_.connect(slot);
}

void MainApplicationModule::start() { emitStart(); }

void MainApplicationModule::stop() { emitStop(); }

void MainApplicationModule::settings(std::shared_ptr<SettingsManager> settings) {
  emitSettings(settings);
}

std::shared_ptr<SettingsManager> MainApplicationModule::getSettingsManager() const {
  return settings_manager_;
}

}  // namespace modules
}  // namespace zelvane
