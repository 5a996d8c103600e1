#include "modules/main_application_module.h"

#include <algorithm>
#include <exception>
#include <iostream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <utility>

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

MainApplicationModule::MainApplicationModule() : LoggedComponent("MainApplicationModule") {}

MainApplicationModule::~MainApplicationModule() = default;

bool MainApplicationModule::configure(int argc, char** argv,
                                      std::shared_ptr<SettingsManager> settings,
                                      std::string const& settingsPath) {
  settings_manager_ = settings ? std::move(settings) : std::make_shared<SettingsManager>();

  po::options_description visible = makeDescription();
  po::options_description full = makeDescription();
  // clang-format off
  visible.add_options()
      ("help,h", "Print help message")
      ("algorithm-settings,a", po::value<std::string>(&algorithm_settings_file_),
       "XML algorithm settings file")
      ("configuration-settings,c", po::value<std::string>(&configuration_settings_file_),
       "XML configuration settings file. Takes priority over algorithm-settings if there is "
       "overlap in settings.")
      ("log-level", po::value<std::string>(&log_level_), "Log level for console output")
      ("log-props", po::value<std::string>(&log_props_file_), "Logging properties file");
  // clang-format on
  full.add(visible);
  for (const std::shared_ptr<OptionsParser>& parser : options_parsers_) {
    visible.add(parser->getOptions());
    full.add(parser->getOptions());
    full.add(parser->getHiddenOptions());
  }

  po::positional_options_description positional;
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
      positional.add(own.name_for_position(i).c_str(), 1);
    }
  }

  // A hand-made or fuzzed argument vector may be null, short, or carry null entries
  // before `argc`; none of that may reach the parser, which would read past the end.
  std::string program_name;
  std::vector<std::string> arguments;
  if (argv != nullptr && argc > 0) {
    if (argv[0] != nullptr) {
      program_name = argv[0];
    }
    for (int i = 1; i < argc; ++i) {
      if (argv[i] == nullptr) {
        std::cerr << "ERROR: command-line argument " << i << " is a null pointer" << std::endl;
        return false;
      }
      arguments.emplace_back(argv[i]);
    }
  }

  po::variables_map options;
  try {
    po::store(po::command_line_parser(arguments).options(full).positional(positional).run(),
              options);
    if (options.count("help") != 0) {
      std::cout << program_name << std::endl << visible << std::endl;
      return false;
    }
    po::notify(options);
  } catch (po::error& error) {
    std::cerr << "ERROR: " << describe(error) << std::endl << std::endl << visible << std::endl;
    return false;
  }

  for (const std::shared_ptr<OptionsParser>& parser : options_parsers_) {
    try {
      parser->processOptions(options);
    } catch (std::exception& error) {
      std::cerr << "ERROR: " << describe(error) << std::endl;
      return false;
    }
  }

  if (configuration_settings_file_.empty()) {
    std::cerr << "ERROR: "
              << "the option '--configuration-settings' is required but missing" << std::endl
              << std::endl
              << visible << std::endl;
    return false;
  }

  validated_signal_.emit();

  LoggingManager& logging = LoggingManager::getInstance();
  if (options.count("log-level") != 0) {
    const int level = Logger::getLevelFromString(log_level_);
    if (level == Logger::INVALID_LEVEL) {
      std::cerr << "--log-level '" << log_level_ << "' is not valid.\n";
      return false;
    }
    logging.consoleLevel = level;
    std::stringstream console("logToConsole=true");
    logging.loadProperties(console);
  }

  settings_manager_->setLogger(logging.getLogger("SettingsManager"));

  if (!algorithm_settings_file_.empty()) {
    getLogger().infoStream() << "Using algorithm settings file: " << algorithm_settings_file_;
    if (!addSettingsFile(algorithm_settings_file_)) {
      return false;
    }
  } else {
    getLogger().warn("No algorithm settings file specified; using default settings");
  }
  getLogger().infoStream() << "Using configuration settings file: " << configuration_settings_file_;
  if (!addSettingsFile(configuration_settings_file_)) {
    return false;
  }

  if (!log_props_file_.empty()) {
    if (!loadLoggingProperties(logging, log_props_file_)) {
      return false;
    }
  } else if (settings_manager_->exists("LoggingPropsFile")) {
    const std::string file = settings_manager_->get<std::string>("LoggingPropsFile");
    if (!loadLoggingProperties(logging, file)) {
      return false;
    }
  }

  if (!settingsPath.empty()) {
    settings_manager_->pathPush(settingsPath);
    this->settings(settings_manager_);
    settings_manager_->pathPop();
  } else {
    this->settings(settings_manager_);
  }
  return true;
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

bool MainApplicationModule::loadLoggingProperties(LoggingManager& logging,
                                                  const std::string& file) {
  // A mistyped properties path is an operator's mistake like a mistyped settings
  // path, so it is reported the same way instead of escaping as an exception.
  try {
    logging.loadProperties(file);
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

tkit::Connection MainApplicationModule::connectStart(std::function<void()> const& slot) {
  return start_signal_.connect(slot);
}

tkit::Connection MainApplicationModule::connectStop(std::function<void()> const& slot) {
  return stop_signal_.connect(slot);
}

tkit::Connection MainApplicationModule::connectSettings(SettingsSlot const& slot) {
  return settings_signal_.connect(slot);
}

void MainApplicationModule::start() { start_signal_.emit(); }

void MainApplicationModule::stop() { stop_signal_.emit(); }

void MainApplicationModule::settings(std::shared_ptr<SettingsManager> settings) {
  settings_signal_.emit(settings);
}

std::shared_ptr<SettingsManager> MainApplicationModule::getSettingsManager() const {
  return settings_manager_;
}

}  // namespace modules
}  // namespace zelvane
