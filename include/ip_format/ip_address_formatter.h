/// @file
/// `ip_format::ConvertIP`: classifying, normalising and splitting network address
/// strings (IPv4, IPv6, IPv4-mapped IPv6, with or without a port).
///
/// The text of an address is what `boost::asio::ip::address::to_string` gives: IPv4
/// in dotted decimal, IPv6 compressed by the system's address-to-text conversion and,
/// for a non-zero scope id, followed by "%" and the scope (the interface name of a
/// link-local address when the system knows it, otherwise the id in decimal).
#pragma once

#include <string>

#include <boost/asio/ip/address.hpp>

#include <zelvane/zelvane_core_export.h>

namespace zelvane {
namespace ip_format {

/// Static address utilities; the class has no instances.
///
/// Operations marked "resolves" go through `makeIPAddressFromHost`: they accept host
/// names as well as literals, block the calling thread while the system resolver
/// works, and throw `boost::system::system_error` (what() begins with "resolve") when
/// a name cannot be resolved. Operations marked "no resolution" never block, never
/// throw for any input string, and are safe on arbitrary bytes.
///
/// All operations are reentrant; they read `v6_protocol_` without synchronisation.
class ZELVANE_CORE_API ConvertIP {
 public:
  ConvertIP() = delete;

  /// True when the process talks IPv6, so that IPv4 addresses are written in their
  /// IPv4-mapped IPv6 form. False at program start; written by `setV6Protocol`,
  /// which an application calls once during start-up before other threads read it.
  static bool v6_protocol_;

  /// The address that `host` denotes.
  ///
  /// A literal (IPv6 text, optionally with a "%" scope suffix, or IPv4 dotted decimal)
  /// is returned as parsed, without any resolver query. Anything else is resolved as a
  /// TCP host name (any address family, numeric service "1", no address-configured
  /// filtering) on a private I/O context, and the address of the *last* entry the
  /// resolver lists is returned; an empty list gives the unspecified IPv4 address.
  /// A string containing a NUL character is neither a literal nor a resolvable name.
  ///
  /// Throws `boost::system::system_error` with the location "resolve" when the name
  /// cannot be resolved; failures of the I/O machinery propagate as Boost throws them.
  static boost::asio::ip::address makeIPAddressFromHost(const std::string& host);

  /// Probes which TCP sockets the machine can create (no connection is attempted):
  /// IPv6 sets `v6_protocol_`, otherwise IPv4 clears it; either returns true and
  /// leaves `error` untouched. When neither can be opened, `v6_protocol_` keeps its
  /// value, `error` is set to "Failed in open: " and the IPv4 error message, and the
  /// result is false. Never throws for an unsupported protocol.
  static bool setV6Protocol(std::string& error);

  /// True when `s` is a literal IPv4 or IPv6 address (a "%" scope suffix allowed).
  /// No resolution; host names and any other text give false.
  [[nodiscard]] static bool isIPAddress(const std::string& s);

  /// True when `s` denotes an IPv4 address. Resolves; a resolution failure (any
  /// `std::runtime_error`) gives false instead of throwing.
  static bool isIPv4(const std::string& s);

  /// True when `s` denotes an IPv6 address. Resolves; a resolution failure (any
  /// `std::runtime_error`) gives false instead of throwing.
  static bool isIPv6(const std::string& s);

  /// The text of the address of `s`, an IPv4 address prefixed with "::ffff:" when
  /// `v6_protocol_` is set. Resolves.
  static std::string toIPv6WithOutBrackets(const std::string& s);

  /// "[" + text + "]" for an IPv6 address; for an IPv4 address "[::ffff:" + text + "]"
  /// when `v6_protocol_` is set, otherwise its text without brackets. Resolves.
  static std::string toIPv6WithBrackets(const std::string& s);

  /// The written-out form of an IPv6 address: eight groups joined by ":", every group
  /// but the last padded with zeros to four hex digits, the last group unpadded unless
  /// it lies in the compressed zero run (then "0000"), followed by the scope suffix
  /// if any. Example: "2001:db8::1" gives "2001:0db8:0000:0000:0000:0000:0000:1".
  /// IPv4 addresses and IPv4-mapped, loopback, link-local and multicast IPv6
  /// addresses come back as their text unchanged. Resolves.
  static std::string unoptimizeIPv6Address(const std::string& s);

  /// For an IPv4-mapped IPv6 address written "::ffff:a.b.c.d", the IPv4 part
  /// "a.b.c.d"; otherwise the text of the address of `s`. Resolves.
  static std::string simplifyIPv4Address(const std::string& s);

  /// The standard text of the address of `s`, an IPv4-mapped address reduced to its
  /// IPv4 text: `simplifyIPv4Address(unoptimizeIPv6Address(s))`. Resolves.
  static std::string simplifyIPAddressFormat(const std::string& s);

  /// The port of an "address:port" string, or "undefined" when the string has no
  /// recognised shape. `s` is split at every ":" (empty fields kept) and recognised by
  /// the number of fields: 2 (IPv4 address or host name), 4 starting "::1" (loopback),
  /// 5 with "ffff" third (IPv4-mapped), 9 with the first two fields non-empty (the
  /// written-out IPv6 form of `unoptimizeIPv6Address`). Bracketed addresses and other
  /// compressed IPv6 forms are not recognised. No validation, no resolution.
  static std::string splitPortFromString(const std::string& s);

  /// The address part of an "address:port" string of the shapes that
  /// `splitPortFromString` recognises; any other string is returned unchanged. No
  /// validation, no resolution.
  static std::string splitIPaddressFromString(const std::string& s);
};

}  // namespace ip_format
}  // namespace zelvane
