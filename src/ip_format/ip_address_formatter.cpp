#include "ip_format/ip_address_formatter.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/join.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/system_error.hpp>

namespace zelvane {
namespace ip_format {

namespace asio = boost::asio;
using asio::ip::tcp;

bool ConvertIP::v6_protocol_ = false;

namespace {

const char* const UNDEFINED_PORT = "undefined";
const char* const IPV4_MAPPED_PREFIX = "::ffff:";
const char* const LOOPBACK_V6_TEXT = "::1";
constexpr std::size_t IPV6_GROUPS = 8;

// Fields between the colons of `s`; adjacent colons give empty fields, so the count
// tells the address shapes apart.
std::vector<std::string> colonFields(const std::string& s) {
  std::vector<std::string> fields;
  boost::split(fields, s, boost::is_any_of(":"), boost::token_compress_off);
  return fields;
}

std::string joinFields(const std::vector<std::string>& fields, std::size_t count) {
  return boost::algorithm::join(
      std::vector<std::string>(fields.begin(), fields.begin() + static_cast<long>(count)), ":");
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The written-out form is built from the address bytes rather than by re-expanding
// the compressed text: the text can end in the zero run ("2001:db8::", "::") or in a
// dotted IPv4 tail ("::1.2.3.4"), and expanding those token by token yields a trailing
// colon or too many groups, which neither parses back nor splits. For every other
// address the result equals the compressed text with its zero run expanded and each
// group padded to four hex digits, except the last, which stays as the text shows it
// (unpadded); the scope suffix follows.
std::string writtenOut(const asio::ip::address_v6& address, const std::string& text) {
  const std::size_t percent = text.find('%');
  const std::string numeric = text.substr(0, percent);
  const std::string scope = percent == std::string::npos ? std::string() : text.substr(percent);
  const bool last_group_in_zero_run = endsWith(numeric, "::");

  const asio::ip::address_v6::bytes_type bytes = address.to_bytes();
  std::string result;
  result.reserve(IPV6_GROUPS * std::size_t{5} + scope.size());
  for (std::size_t group = 0; group < IPV6_GROUPS; ++group) {
    const unsigned value = (static_cast<unsigned>(bytes[2 * group]) << 8) | bytes[2 * group + 1];
    const bool last = group + 1 == IPV6_GROUPS;
    char digits[8];
    std::snprintf(digits, sizeof digits, last && !last_group_in_zero_run ? "%x" : "%04x", value);
    result += digits;
    if (!last) result += ':';
  }
  return result + scope;
}

}  // namespace

asio::ip::address ConvertIP::makeIPAddressFromHost(const std::string& host) {
  // The system calls see the string only up to its first NUL, so "127.0.0.1\0..." or
  // "localhost\0..." would stand for an address they do not spell. An empty name
  // would make the resolver answer with the loopback addresses, as if no host had
  // been asked for. Neither names a host.
  if (host.empty() || host.find('\0') != std::string::npos) {
    throw boost::system::system_error(asio::error::host_not_found, "resolve");
  }

  boost::system::error_code error;
  asio::ip::address address = asio::ip::make_address(host, error);
  if (!error) return address;

  asio::io_context context;
  tcp::resolver resolver(context);
  const tcp::resolver::results_type results =
      resolver.resolve(host, "1", tcp::resolver::numeric_service, error);
  if (error) throw boost::system::system_error(error, "resolve");

  for (const tcp::resolver::results_type::value_type& entry : results) {
    const tcp::endpoint endpoint = entry.endpoint();
    if (endpoint.protocol() == tcp::v4()) {
      address = endpoint.address().to_v4();
    } else {
      address = endpoint.address().to_v6();
    }
  }
  return address;
}

bool ConvertIP::setV6Protocol(std::string& error) {
  asio::io_context context;
  tcp::socket socket(context);
  boost::system::error_code open_error;

  socket.open(tcp::v6(), open_error);
  if (!open_error) {
    v6_protocol_ = true;
    socket.close(open_error);
    return true;
  }
  socket.open(tcp::v4(), open_error);
  if (!open_error) {
    v6_protocol_ = false;
    socket.close(open_error);
    return true;
  }
  error = "Failed in open: " + open_error.message();
  return false;
}

bool ConvertIP::isIPAddress(const std::string& s) {
  if (s.find('\0') != std::string::npos) return false;
  boost::system::error_code error;
  asio::ip::make_address(s, error);
  return !error;
}

bool ConvertIP::isIPv4(const std::string& s) {
  try {
    return makeIPAddressFromHost(s).is_v4();
  } catch (const std::runtime_error&) {
    return false;  // "not an IPv4 address" is the answer for a name that does not resolve
  }
}

bool ConvertIP::isIPv6(const std::string& s) {
  try {
    return makeIPAddressFromHost(s).is_v6();
  } catch (const std::runtime_error&) {
    return false;  // "not an IPv6 address" is the answer for a name that does not resolve
  }
}

std::string ConvertIP::toIPv6WithOutBrackets(const std::string& s) {
  const asio::ip::address address = makeIPAddressFromHost(s);
  std::string text = address.to_string();
  if (address.is_v4() && v6_protocol_) return IPV4_MAPPED_PREFIX + text;
  return text;
}

std::string ConvertIP::toIPv6WithBrackets(const std::string& s) {
  const asio::ip::address address = makeIPAddressFromHost(s);
  std::string text = address.to_string();
  if (address.is_v6()) return "[" + text + "]";
  if (v6_protocol_) return "[" + std::string(IPV4_MAPPED_PREFIX) + text + "]";
  return text;
}

std::string ConvertIP::unoptimizeIPv6Address(const std::string& s) {
  const asio::ip::address address = makeIPAddressFromHost(s);
  std::string text = address.to_string();
  if (address.is_v4()) return text;

  const asio::ip::address_v6 v6 = address.to_v6();
  // These forms are kept compressed: the split operations recognise the mapped and
  // loopback texts as they are, and link-local and multicast addresses carry
  // interface scopes.
  if (v6.is_v4_mapped() || v6.is_loopback() || v6.is_link_local() || v6.is_multicast()) {
    return text;
  }
  return writtenOut(v6, text);
}

std::string ConvertIP::simplifyIPv4Address(const std::string& s) {
  const asio::ip::address address = makeIPAddressFromHost(s);
  std::string text = address.to_string();
  if (address.is_v6()) {
    const std::vector<std::string> fields = colonFields(text);
    if (fields.size() == 4 && fields[2] == "ffff") return fields[3];
  }
  return text;
}

std::string ConvertIP::simplifyIPAddressFormat(const std::string& s) {
  return simplifyIPv4Address(unoptimizeIPv6Address(s));
}

std::string ConvertIP::splitPortFromString(const std::string& s) {
  const std::vector<std::string> f = colonFields(s);
  switch (f.size()) {
    case 2: return f[1];
    case 4:
      if (joinFields(f, 3) == LOOPBACK_V6_TEXT) return f[3];
      break;
    case 5:
      if (f[2] == "ffff") return f[4];
      break;
    case 9:
      if (!f[0].empty() && !f[1].empty()) return f[8];
      break;
    default: break;
  }
  return UNDEFINED_PORT;
}

std::string ConvertIP::splitIPaddressFromString(const std::string& s) {
  const std::vector<std::string> f = colonFields(s);
  switch (f.size()) {
    case 2: return f[0];
    case 4:
      if (joinFields(f, 3) == LOOPBACK_V6_TEXT) return LOOPBACK_V6_TEXT;
      break;
    case 5:
      if (f[2] == "ffff") return joinFields(f, 4);
      break;
    case 9:
      if (!f[0].empty() && !f[1].empty()) return joinFields(f, 8);
      break;
    default: break;
  }
  return s;
}

}  // namespace ip_format
}  // namespace zelvane
