// The address utilities on arbitrary strings. Operations that resolve names are only
// given strings that parse as literal addresses, so fuzzing never asks a resolver.
#include <cstdlib>
#include <string>

#include "ip_format/ip_address_formatter.h"

using zelvane::ip_format::ConvertIP;

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

void literalOperations(const std::string& s) {
  const auto address = ConvertIP::makeIPAddressFromHost(s);
  check(ConvertIP::isIPv4(s) == address.is_v4());
  check(ConvertIP::isIPv6(s) == address.is_v6());
  ConvertIP::toIPv6WithOutBrackets(s);
  ConvertIP::toIPv6WithBrackets(s);
  ConvertIP::simplifyIPv4Address(s);

  // The written-out form is itself a literal of the same address, so simplifying it
  // resolves nothing. (Only the bytes are compared: Boost reads a scope id that does
  // not fit an int back as a different number.)
  const std::string written = ConvertIP::unoptimizeIPv6Address(s);
  check(ConvertIP::isIPAddress(written));
  const auto again = ConvertIP::makeIPAddressFromHost(written);
  check(again.is_v4() == address.is_v4());
  if (address.is_v4())
    check(again == address);
  else
    check(again.to_v6().to_bytes() == address.to_v6().to_bytes());
  ConvertIP::simplifyIPAddressFormat(s);

  const std::string withPort = written + ":8080";
  ConvertIP::splitPortFromString(withPort);
  ConvertIP::splitIPaddressFromString(withPort);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  const std::string s(reinterpret_cast<const char*>(data), size);
  ConvertIP::v6_protocol_ = size % 2 == 0;

  ConvertIP::isIPAddress(s);
  const std::string port = ConvertIP::splitPortFromString(s);
  const std::string address = ConvertIP::splitIPaddressFromString(s);
  // A split that is recognised puts the string back together; an unrecognised one
  // leaves the string whole (a port that is literally "undefined" is either).
  check(address + ":" + port == s || (port == "undefined" && address == s));

  if (ConvertIP::isIPAddress(s)) literalOperations(s);
  return 0;
}
