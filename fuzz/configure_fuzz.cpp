// MainApplicationModule::configure on argument vectors built from the input, with one
// contributor of options: it answers true or false, never crashes or hangs.
//
// Each call runs in a private directory holding only the files the target writes
// itself (a valid and a malformed settings file, a valid and a malformed logging
// properties file); arguments never contain '/', so every file named resolves inside
// it. The working directory is restored after the call, so libFuzzer's own relative
// paths keep working (crash artifacts need an absolute -artifact_prefix, as
// scripts/run-fuzzers gives). Standard output and standard error go to /dev/null
// during each call.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "logging_manager.h"
#include "modules/main_application_module.h"
#include "modules/options_parser.h"
#include "settings_manager.h"

namespace {

namespace po = boost::program_options;

class Contributor : public zelvane::modules::OptionsParser {
 public:
  Contributor() {
    options_.add_options()("count,n", po::value<int>(&count_), "a count")(
        "name", po::value<std::string>(), "a name")("flag,f", po::bool_switch(), "a switch")(
        "item", po::value<std::vector<std::string>>()->multitoken(), "items");
    hidden_.add_options()("input", po::value<std::vector<std::string>>(), "inputs");
    positional_.add("input", 2);
  }
  const po::options_description& getOptions() override { return options_; }
  const po::options_description& getHiddenOptions() override { return hidden_; }
  const po::positional_options_description& getPositionalOptions() override { return positional_; }
  void processOptions(po::variables_map& options) override {
    if (options.count("count") != 0 && count_ < 0) throw InvalidInputError("count below zero");
    if (options.count("name") != 0 && options["name"].as<std::string>().empty()) {
      throw std::runtime_error("empty name");
    }
  }

 private:
  po::options_description options_{"Contributor"};
  po::options_description hidden_;
  po::positional_options_description positional_;
  int count_ = 0;
};

void writeFile(const char* name, const char* text) {
  FILE* f = std::fopen(name, "w");
  if (f == nullptr) std::abort();
  std::fputs(text, f);
  std::fclose(f);
}

const char* const kWords[] = {"-h",
                              "--help",
                              "-a",
                              "--algorithm-settings",
                              "-c",
                              "--configuration-settings",
                              "--log-level",
                              "--log-props",
                              "-n",
                              "--count",
                              "--name",
                              "-f",
                              "--flag",
                              "--item",
                              "good.xml",
                              "bad.xml",
                              "absent.xml",
                              "good.props",
                              "bad.props",
                              "trace",
                              "debug",
                              "info",
                              "warn",
                              "error",
                              "loud",
                              "-1",
                              "3",
                              "--",
                              "-",
                              "--configuration-settings=good.xml",
                              "-cgood.xml",
                              "--log-level=",
                              "--count=x",
                              "--unknown",
                              ""};
constexpr int kWordCount = sizeof kWords / sizeof kWords[0];

std::vector<std::string> arguments(const unsigned char* data, size_t size) {
  std::vector<std::string> args{"app"};
  for (size_t i = 0; i < size && args.size() < 24;) {
    const unsigned char choice = data[i++];
    if (choice < 224) {
      args.emplace_back(kWords[choice % kWordCount]);
      continue;
    }
    std::string word;  // a free argument of up to 15 bytes, '/' and NUL left out
    for (size_t n = choice % 16; n > 0 && i < size; --n, ++i) {
      const char c = static_cast<char>(data[i]);
      word.push_back(c == '/' || c == '\0' ? '_' : c);
    }
    args.push_back(word);
  }
  return args;
}

// Sends standard output and standard error to /dev/null while it lives.
class Silence {
 public:
  Silence() {
    std::fflush(nullptr);
    saved_out_ = dup(STDOUT_FILENO);
    saved_err_ = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (saved_out_ < 0 || saved_err_ < 0 || null < 0) std::abort();
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    close(null);
  }
  ~Silence() {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    dup2(saved_out_, STDOUT_FILENO);
    dup2(saved_err_, STDERR_FILENO);
    close(saved_out_);
    close(saved_err_);
  }
  Silence(const Silence&) = delete;
  Silence& operator=(const Silence&) = delete;

 private:
  int saved_out_;
  int saved_err_;
};

// Works in `dir` while it lives.
class InDirectory {
 public:
  explicit InDirectory(const std::string& dir) : saved_(open(".", O_RDONLY | O_DIRECTORY)) {
    if (saved_ < 0 || chdir(dir.c_str()) != 0) std::abort();
  }
  ~InDirectory() {
    if (fchdir(saved_) != 0) std::abort();
    close(saved_);
  }
  InDirectory(const InDirectory&) = delete;
  InDirectory& operator=(const InDirectory&) = delete;

 private:
  int saved_;
};

std::string scratch;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/zelvane-fuzz-configure-XXXXXX";
  if (mkdtemp(pattern) == nullptr) std::abort();
  scratch = pattern;
  InDirectory inside(scratch);
  writeFile("good.xml", "<Algorithm><rate>5</rate></Algorithm>\n");
  writeFile("bad.xml", "<Algorithm><rate>5</Algorithm>\n");
  writeFile("good.props", "logToConsole=true\nconsoleLevel=warn\n");
  writeFile("bad.props", "logToConsole=true\nthis line has no equals sign\n");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  std::vector<std::string> args = arguments(data, size);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);

  zelvane::modules::MainApplicationModule module;
  module.registerOptions(std::make_shared<Contributor>());
  int settingsCalls = 0;
  const auto counting = module.connectSettings(
      [&settingsCalls](const std::shared_ptr<zelvane::SettingsManager>& store) {
        if (!store) std::abort();
        ++settingsCalls;
      });
  bool configured = false;
  {
    InDirectory inside(scratch);
    Silence silence;
    configured = module.configure(static_cast<int>(args.size()), argv.data(), nullptr,
                                  size % 2 ? "Algorithm" : "");
  }
  // Success hands over the store exactly once; failure may have stopped before.
  if (configured && (settingsCalls != 1 || !module.getSettingsManager())) std::abort();
  if (settingsCalls > 1) std::abort();
  LoggingManager::getInstance().reset();
  return 0;
}
