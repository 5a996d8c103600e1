#include "modules/command_line.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zelvane {
namespace modules {
namespace {

namespace po = boost::program_options;

TEST(ParseCommandLine, AnswersHelpAndMistakesAndReadsTheRest) {
  struct Case {
    std::vector<const char*> arguments;
    CommandLine expected;
    int count;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {{"tool", "--count", "3"}, CommandLine::Parsed, 3, "", ""},
      {{"tool"}, CommandLine::Parsed, 7, "", ""},
      {{"tool", "-h", "--count", "3"}, CommandLine::HelpShown, 3, "  -h [ --help ]", ""},
      {{"tool", "--count", "three"},
       CommandLine::Refused,
       7,
       "",
       "tool: the argument ('three') for option '--count' is invalid\n"},
      {{"tool", "--colour"}, CommandLine::Refused, 7, "", "tool: unrecognised option '--colour'\n"},
  };
  for (const Case& c : cases) {
    int count = 7;
    po::options_description options("tool [options]");
    options.add_options()("help,h", "Show this help")("count", po::value<int>(&count), "How many");
    po::variables_map values;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const CommandLine read = parseCommandLine("tool", static_cast<int>(c.arguments.size()),
                                              c.arguments.data(), options, values);
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    const std::string label = c.arguments.size() > 1 ? c.arguments[1] : "(none)";
    EXPECT_EQ(read, c.expected) << label;
    EXPECT_EQ(count, c.count) << label;
    EXPECT_EQ(out.empty(), c.out.empty()) << label;
    EXPECT_NE(out.find(c.out), std::string::npos) << label << ": " << out;
    EXPECT_EQ(err, c.err) << label;
  }
}

}  // namespace
}  // namespace modules
}  // namespace zelvane
