#include "ip_format/ip_address_formatter.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/system_error.hpp>

namespace zelvane {
namespace ip_format {
namespace {

namespace asio = boost::asio;

// Read before any test can touch the flag: it is constant-initialised, so this is
// the value the library starts with.
const bool FLAG_AT_PROGRAM_START = ConvertIP::v6_protocol_;

// A name no resolver knows: under the reserved ".invalid" domain, and with a first
// label longer than the 63 characters a DNS query can carry, so that a stub resolver
// gives up before sending anything and the test does not wait on the network.
const std::string UNRESOLVABLE = std::string(64, 'z') + ".invalid";

// Sets the process-wide flag for one test and restores it afterwards.
class V6ProtocolFlag {
 public:
  explicit V6ProtocolFlag(bool value) : saved_(ConvertIP::v6_protocol_) {
    ConvertIP::v6_protocol_ = value;
  }
  ~V6ProtocolFlag() { ConvertIP::v6_protocol_ = saved_; }
  V6ProtocolFlag(const V6ProtocolFlag&) = delete;
  V6ProtocolFlag& operator=(const V6ProtocolFlag&) = delete;

 private:
  bool saved_;
};

TEST(ConvertIP, IsIPAddressAcceptsLiteralsOnly) {
  struct Case {
    std::string input;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"10.0.0.1", true},
      {"255.255.255.255", true},
      {"::1", true},
      {"2001:db8::1", true},
      {"::ffff:10.0.0.1", true},
      {"fe80::1%1", true},
      {"localhost", false},
      {"", false},
      {"10.0.0", false},
      {"10.0.0.256", false},
      {"10.0.0.1:80", false},
      {"[::1]", false},
      {"2001:db8:::1", false},
      {std::string("10.0.0.1\0.evil", 14), false},
      {std::string("::1\0", 4), false},
  };
  for (const Case& c : cases) EXPECT_EQ(ConvertIP::isIPAddress(c.input), c.expected) << c.input;
}

TEST(ConvertIP, LiteralIsReturnedAsParsed) {
  EXPECT_EQ(ConvertIP::makeIPAddressFromHost("10.0.0.1"), asio::ip::make_address("10.0.0.1"));
  EXPECT_EQ(ConvertIP::makeIPAddressFromHost("2001:db8::1"), asio::ip::make_address("2001:db8::1"));
  const asio::ip::address scoped = ConvertIP::makeIPAddressFromHost("2001:db8::1%7");
  ASSERT_TRUE(scoped.is_v6());
  EXPECT_EQ(scoped.to_v6().scope_id(), 7UL);
}

TEST(ConvertIP, HostNameYieldsLastAddressTheResolverLists) {
  asio::io_context context;
  asio::ip::tcp::resolver resolver(context);
  const auto listed = resolver.resolve("localhost", "1", asio::ip::tcp::resolver::numeric_service);
  ASSERT_FALSE(listed.empty());
  asio::ip::address last;
  for (const auto& entry : listed) last = entry.endpoint().address();

  const asio::ip::address address = ConvertIP::makeIPAddressFromHost("localhost");
  EXPECT_EQ(address, last);
  EXPECT_TRUE(address.is_loopback()) << address.to_string();
  EXPECT_FALSE(ConvertIP::isIPAddress("localhost"));
  EXPECT_EQ(ConvertIP::isIPv4("localhost"), address.is_v4());
  EXPECT_EQ(ConvertIP::isIPv6("localhost"), address.is_v6());
}

TEST(ConvertIP, UnresolvableNameThrowsResolveError) {
  const std::vector<std::string> names = {UNRESOLVABLE, "", std::string("localhost\0x", 11)};
  for (const std::string& name : names) {
    try {
      ConvertIP::makeIPAddressFromHost(name);
      ADD_FAILURE() << "no exception for \"" << name << "\"";
    } catch (const boost::system::system_error& error) {
      EXPECT_EQ(std::string(error.what()).rfind("resolve", 0), 0U) << error.what();
    }
  }
  EXPECT_THROW(ConvertIP::toIPv6WithBrackets(UNRESOLVABLE), boost::system::system_error);
  EXPECT_THROW(ConvertIP::unoptimizeIPv6Address(UNRESOLVABLE), boost::system::system_error);
  EXPECT_THROW(ConvertIP::simplifyIPAddressFormat(UNRESOLVABLE), boost::system::system_error);
}

TEST(ConvertIP, VersionPredicatesAnswerFalseInsteadOfThrowing) {
  struct Case {
    std::string input;
    bool v4;
    bool v6;
  };
  const std::vector<Case> cases = {
      {"10.0.0.1", true, false},    {"2001:db8::1", false, true}, {"::ffff:10.0.0.1", false, true},
      {UNRESOLVABLE, false, false}, {"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConvertIP::isIPv4(c.input), c.v4) << c.input;
    EXPECT_EQ(ConvertIP::isIPv6(c.input), c.v6) << c.input;
  }
}

TEST(ConvertIP, IPv6FormsFollowV6ProtocolFlagForIPv4Only) {
  struct Case {
    std::string input;
    std::string without_v4;
    std::string brackets_v4;
    std::string without_v6;
    std::string brackets_v6;
  };
  const std::vector<Case> cases = {
      {"10.0.0.1", "10.0.0.1", "10.0.0.1", "::ffff:10.0.0.1", "[::ffff:10.0.0.1]"},
      {"2001:db8::1", "2001:db8::1", "[2001:db8::1]", "2001:db8::1", "[2001:db8::1]"},
      {"2001:0DB8:0000:0000:0000:0000:0000:0001", "2001:db8::1", "[2001:db8::1]", "2001:db8::1",
       "[2001:db8::1]"},
      {"::ffff:10.0.0.1", "::ffff:10.0.0.1", "[::ffff:10.0.0.1]", "::ffff:10.0.0.1",
       "[::ffff:10.0.0.1]"},
  };
  for (const Case& c : cases) {
    {
      const V6ProtocolFlag flag(false);
      EXPECT_EQ(ConvertIP::toIPv6WithOutBrackets(c.input), c.without_v4) << c.input;
      EXPECT_EQ(ConvertIP::toIPv6WithBrackets(c.input), c.brackets_v4) << c.input;
    }
    {
      const V6ProtocolFlag flag(true);
      EXPECT_EQ(ConvertIP::toIPv6WithOutBrackets(c.input), c.without_v6) << c.input;
      EXPECT_EQ(ConvertIP::toIPv6WithBrackets(c.input), c.brackets_v6) << c.input;
    }
  }
}

struct WrittenOut {
  std::string compressed;
  std::string written_out;
};

// Addresses that are written out, each with its compressed text.
const std::vector<WrittenOut> WRITTEN_OUT = {
    {"2001:db8::1", "2001:0db8:0000:0000:0000:0000:0000:1"},
    {"::2", "0000:0000:0000:0000:0000:0000:0000:2"},
    {"2001:db8:85a3::8a2e:370:7334", "2001:0db8:85a3:0000:0000:8a2e:0370:7334"},
    {"1:2:3:4:5:6:7:8", "0001:0002:0003:0004:0005:0006:0007:8"},
    {"1:2:3:4:5:6:7:0", "0001:0002:0003:0004:0005:0006:0007:0"},
    {"2001:db8::abcd", "2001:0db8:0000:0000:0000:0000:0000:abcd"},
    {"2001:db8::1%5", "2001:0db8:0000:0000:0000:0000:0000:1%5"},
    // Zero run at the end of the text, and the all-zero address.
    {"2001:db8::", "2001:0db8:0000:0000:0000:0000:0000:0000"},
    {"1::", "0001:0000:0000:0000:0000:0000:0000:0000"},
    {"::", "0000:0000:0000:0000:0000:0000:0000:0000"},
    {"2001:db8::%5", "2001:0db8:0000:0000:0000:0000:0000:0000%5"},
    // IPv4-compatible addresses, whose text ends in dotted decimal.
    {"::1.2.3.4", "0000:0000:0000:0000:0000:0000:0102:304"},
};

TEST(ConvertIP, UnoptimizeWritesOutEightGroups) {
  for (const WrittenOut& c : WRITTEN_OUT) {
    EXPECT_EQ(ConvertIP::unoptimizeIPv6Address(c.compressed), c.written_out) << c.compressed;
    EXPECT_EQ(ConvertIP::unoptimizeIPv6Address(c.written_out), c.written_out) << c.written_out;
  }
  EXPECT_EQ(ConvertIP::unoptimizeIPv6Address("2001:DB8::ABCD"),
            "2001:0db8:0000:0000:0000:0000:0000:abcd");
}

TEST(ConvertIP, WrittenOutFormSimplifiesBackAndSplitsWithPort) {
  for (const WrittenOut& c : WRITTEN_OUT) {
    EXPECT_EQ(ConvertIP::simplifyIPAddressFormat(c.compressed), c.compressed) << c.compressed;
    EXPECT_EQ(ConvertIP::simplifyIPAddressFormat(c.written_out), c.compressed) << c.written_out;
    if (c.written_out.find('%') != std::string::npos) continue;  // scopes are not split
    const std::string with_port = c.written_out + ":8080";
    EXPECT_EQ(ConvertIP::splitPortFromString(with_port), "8080") << with_port;
    EXPECT_EQ(ConvertIP::splitIPaddressFromString(with_port), c.written_out) << with_port;
  }
}

TEST(ConvertIP, UnoptimizeKeepsIPv4AndSpecialIPv6Compressed) {
  const std::vector<std::string> kept = {
      "10.0.0.1", "::1", "::ffff:10.0.0.1", "fe80::1", "febf::1:2", "ff02::1", "ff05::1:3",
  };
  for (const std::string& text : kept) {
    EXPECT_EQ(ConvertIP::unoptimizeIPv6Address(text), text) << text;
  }
  // A link-local scope comes back as the system names it (an interface or a number).
  const std::string scoped = "fe80::1%1";
  EXPECT_EQ(ConvertIP::unoptimizeIPv6Address(scoped), asio::ip::make_address(scoped).to_string());
  // fec0::/10 is not link-local, so it is written out.
  EXPECT_EQ(ConvertIP::unoptimizeIPv6Address("fec0::1"), "fec0:0000:0000:0000:0000:0000:0000:1");
}

TEST(ConvertIP, SimplifyReducesIPv4MappedToIPv4Text) {
  struct Case {
    std::string input;
    std::string v4_simplified;  // simplifyIPv4Address
    std::string simplified;     // simplifyIPAddressFormat
  };
  const std::vector<Case> cases = {
      {"::ffff:10.0.0.1", "10.0.0.1", "10.0.0.1"},
      {"0:0:0:0:0:ffff:a00:1", "10.0.0.1", "10.0.0.1"},
      {"10.0.0.1", "10.0.0.1", "10.0.0.1"},
      {"2001:db8::1", "2001:db8::1", "2001:db8::1"},
      {"2001:0db8:0000:0000:0000:0000:0000:0001", "2001:db8::1", "2001:db8::1"},
      {"::ffff:0:1.2.3.4", "::ffff:0:102:304", "::ffff:0:102:304"},
      {"::1", "::1", "::1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConvertIP::simplifyIPv4Address(c.input), c.v4_simplified) << c.input;
    EXPECT_EQ(ConvertIP::simplifyIPAddressFormat(c.input), c.simplified) << c.input;
  }
}

TEST(ConvertIP, SplitsAddressAndPortByFieldCount) {
  struct Case {
    std::string input;
    std::string port;
    std::string address;
  };
  const std::vector<Case> cases = {
      {"10.0.0.1:80", "80", "10.0.0.1"},
      {"localhost:8080", "8080", "localhost"},
      {"::ffff:10.0.0.1:80", "80", "::ffff:10.0.0.1"},
      {"::1:80", "80", "::1"},
      {"2001:0db8:0000:0000:0000:0000:0000:1:443", "443", "2001:0db8:0000:0000:0000:0000:0000:1"},
      // Not recognised: no port, brackets, other compressed forms, empty leading fields.
      {"10.0.0.1", "undefined", "10.0.0.1"},
      {"", "undefined", ""},
      {"[::1]:80", "undefined", "[::1]:80"},
      {"[2001:db8::1]:80", "undefined", "[2001:db8::1]:80"},
      {"2001:db8::1:80", "undefined", "2001:db8::1:80"},
      {"::2:80", "undefined", "::2:80"},
      {"::ffff:10.0.0.1", "undefined", "::ffff:10.0.0.1"},
      {":0db8:0000:0000:0000:0000:0000:1:443", "undefined", ":0db8:0000:0000:0000:0000:0000:1:443"},
      {"a:b:c:d:e:f:g:h:i:j", "undefined", "a:b:c:d:e:f:g:h:i:j"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConvertIP::splitPortFromString(c.input), c.port) << c.input;
    EXPECT_EQ(ConvertIP::splitIPaddressFromString(c.input), c.address) << c.input;
  }
}

// The non-resolving operations take any bytes. A recognised split always puts the
// string back together as address + ":" + port; an unrecognised one returns it whole.
TEST(ConvertIP, NonResolvingOperationsAreSafeOnArbitraryStrings) {
  const std::string alphabet(":f1.%[]\0a ", 10);
  std::uint32_t state = 12345;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  for (int round = 0; round < 20000; ++round) {
    std::string s(next() % 24, ' ');
    for (char& ch : s) ch = alphabet[next() % alphabet.size()];

    const bool literal = ConvertIP::isIPAddress(s);
    if (literal) {
      EXPECT_EQ(s.find('\0'), std::string::npos);
    }
    const std::string port = ConvertIP::splitPortFromString(s);
    const std::string address = ConvertIP::splitIPaddressFromString(s);
    if (port == "undefined") {
      EXPECT_EQ(address, s);
    } else {
      EXPECT_EQ(address + ":" + port, s);
    }
  }
  const std::string huge(100000, ':');
  EXPECT_FALSE(ConvertIP::isIPAddress(huge));
  EXPECT_EQ(ConvertIP::splitPortFromString(huge), "undefined");
  EXPECT_EQ(ConvertIP::splitIPaddressFromString(huge), huge);
  EXPECT_FALSE(ConvertIP::isIPAddress(std::string(100000, '1') + "%" + std::string(1000, 'x')));
}

TEST(ConvertIP, V6ProtocolFlagStartsClearAndSetV6ProtocolReportsWhetherIPv6SocketsOpen) {
  EXPECT_FALSE(FLAG_AT_PROGRAM_START);
  const V6ProtocolFlag restore(false);
  const int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
  const bool v6_available = probe >= 0;
  if (probe >= 0) ::close(probe);

  std::string error = "untouched";
  ASSERT_TRUE(ConvertIP::setV6Protocol(error)) << error;
  EXPECT_EQ(error, "untouched");
  EXPECT_EQ(ConvertIP::v6_protocol_, v6_available);
}

}  // namespace
}  // namespace ip_format
}  // namespace zelvane
