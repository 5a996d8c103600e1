// The small utilities: the packet sequence checker and the network address strings.
#include <cstdint>
#include <limits>
#include <string>

#include <boost/system/system_error.hpp>

#include "arrays.h"
#include "bindings.h"
#include "core/sequence_check.h"
#include "errors.h"
#include "ip_format/ip_address_formatter.h"

namespace zelvane::python {

namespace {

using core::SequenceCheck;
using ip_format::ConvertIP;

// A Python or NumPy integer as an unsigned 64-bit sequence number.
unsigned long sequenceArgument(const py::handle& sequence) {
  const auto value = py::reinterpret_steal<py::int_>(PyNumber_Index(sequence.ptr()));
  if (!value) throw py::error_already_set();
  if (value < py::int_(0) || value > py::int_(std::numeric_limits<unsigned long>::max())) {
    throw py::value_error("sequence numbers are unsigned 64-bit integers, not " +
                          std::string(py::str(py::handle(value))));
  }
  return value.cast<unsigned long>();
}

// The sequence numbers of a 1-D integer array, as uint64.
py::array_t<std::uint64_t, py::array::c_style> sequenceArray(const py::handle& value) {
  py::array array = py::array::ensure(value);
  if (!array || array.ndim() != 1) {
    throw py::value_error("sequences must be a one-dimensional array of integers");
  }
  const char kind = array.dtype().kind();
  if (kind != 'i' && kind != 'u') {
    throw py::value_error("sequences must hold integers, not dtype " +
                          py::str(array.dtype()).cast<std::string>());
  }
  if (kind == 'i' && array.size() > 0 && py::bool_(array.attr("min")() < py::int_(0))) {
    throw py::value_error("sequences must not be negative");
  }
  auto values =
      py::array_t<std::uint64_t, py::array::c_style | py::array::forcecast>::ensure(array);
  if (!values) throw py::error_already_set();
  return values;
}

// Runs an address operation that may resolve a host name: without the GIL, since the
// system resolver can block for seconds, and with a failed resolution raised as
// `zelvane.errors.ResolutionError`.
template <class Operation>
auto resolving(Operation operation) {
  return [operation](const std::string& text) {
    std::string failure;
    decltype(operation(text)) result{};
    {
      py::gil_scoped_release release;
      try {
        result = operation(text);
      } catch (const boost::system::system_error& error) {
        failure = error.what();
      }
    }
    if (!failure.empty()) raiseError("ResolutionError", "\"" + text + "\": " + failure);
    return result;
  };
}

const char* kResolves =
    "\n\nAccepts host names as well as literal addresses: a name is resolved by the system "
    "resolver (the last address listed is used), which may block; the GIL is released "
    "meanwhile.\n\nRaises\n------\nResolutionError\n    The name cannot be resolved.\n";

// An address function of one string argument, with its Python signature.
template <class Function>
void defText(py::module_& m, const char* name, Function function, const std::string& doc) {
  m.def(name, function, py::arg("text"), (std::string(name) + "(text)\n--\n\n" + doc).c_str());
}

}  // namespace

void bindSequenceCheck(py::module_& m) {
  py::class_<SequenceCheck> cls(m, "SequenceCheck",
                                R"doc(Classifies the sequence numbers of one packet stream.

Each number is in order, after a gap, repeated, or going backwards. Comparisons are
unsigned without wrap-around: a counter that restarts at a lower value is out of
order until ``reset()``. One checker serves one stream.

Examples
--------
>>> check = zelvane.SequenceCheck()
>>> [check.check(n).name for n in (10, 11, 15, 15, 12)]
['OK', 'OK', 'MISSING_DATA', 'DUPLICATE', 'OUT_OF_ORDER']
>>> check.total_discarded
3
)doc");
  py::enum_<SequenceCheck::Result>(cls, "Result", "Outcome of ``SequenceCheck.check``.")
      .value("OK", SequenceCheck::OK,
             "The first number, or the successor of the last accepted one.")
      .value("MISSING_DATA", SequenceCheck::MISSING_DATA,
             "Larger than the successor of the last accepted number: a gap.")
      .value("DUPLICATE", SequenceCheck::DUPLICATE, "Equal to the last accepted number.")
      .value("OUT_OF_ORDER", SequenceCheck::OUT_OF_ORDER, "Smaller than the last accepted number.")
      .def_property_readonly(
          "text",
          [](SequenceCheck::Result result) {
            return SequenceCheck::map_result_to_string_.at(result);
          },
          "The result's fixed text for logs: \"OK\", \"Missing data\", \"Duplicate\", \"Out of "
          "order\".");
  cls.def(py::init<>(), "__init__(self)\n--\n\nA checker that has seen no number yet.")
      .def(
          "check",
          [](SequenceCheck& check, const py::handle& sequence) {
            return check.check(sequenceArgument(sequence));
          },
          py::arg("sequence"), R"doc(check(self, sequence)
--

Classifies one sequence number and updates the checker.

Parameters
----------
sequence : int
    An unsigned 64-bit number.

Returns
-------
SequenceCheck.Result
    OK for the first number after construction or ``reset()`` and for the successor
    of the last accepted number; MISSING_DATA for a larger number (the skipped count
    is added to ``total_discarded``); DUPLICATE and OUT_OF_ORDER change nothing.

Raises
------
ValueError
    For a negative number or one above 2**64 - 1.
)doc")
      .def(
          "check_many",
          [](SequenceCheck& check, const py::handle& sequences) {
            const auto values = sequenceArray(sequences);
            py::array_t<std::uint8_t> result(values.size());
            std::uint8_t* out = result.mutable_data();
            const std::uint64_t* in = values.data();
            // The GIL stays held: the checker has no lock of its own, and the GIL is
            // what keeps two Python threads from feeding it at once.
            for (py::ssize_t i = 0; i < values.size(); ++i) {
              out[i] = static_cast<std::uint8_t>(check.check(in[i]));
            }
            return result;
          },
          py::arg("sequences"),
          R"doc(check_many(self, sequences)
--

Classifies an array of sequence numbers in order, as ``check`` each.

Parameters
----------
sequences : array_like of int, shape (N,)

Returns
-------
numpy.ndarray, uint8, shape (N,)
    The result codes (the values of ``SequenceCheck.Result``).

Raises
------
ValueError
    For an array that is not one-dimensional, not of integers, or holds a negative
    number.
)doc")
      .def_property_readonly("discarded", &SequenceCheck::discarded,
                             "int: numbers skipped by the last accepted step (2**64 - 1 before "
                             "a second number is accepted).")
      .def_property_readonly("previous", &SequenceCheck::previous,
                             "int: the accepted number before the last accepted one.")
      .def_property_readonly("total_discarded", &SequenceCheck::totalDiscarded,
                             "int: numbers skipped by every gap since construction or reset(), "
                             "modulo 2**64.")
      .def("reset", &SequenceCheck::reset,
           "reset(self)\n--\n\nBack to the state of a new checker.");
}

void bindAddress(py::module_& m) {
  defText(m, "is_ip_address", &ConvertIP::isIPAddress,
          "True when ``text`` is a literal IPv4 or IPv6 address (a \"%\" scope suffix allowed); "
          "host names give False. Never resolves.");
  defText(m, "is_ipv4", resolving(&ConvertIP::isIPv4),
          "True when ``text`` denotes an IPv4 address. Resolves host names; one that does not "
          "resolve gives False.");
  defText(m, "is_ipv6", resolving(&ConvertIP::isIPv6),
          "True when ``text`` denotes an IPv6 address. Resolves host names; one that does not "
          "resolve gives False.");
  defText(m, "to_ipv6_without_brackets", resolving(&ConvertIP::toIPv6WithOutBrackets),
          std::string("The text of the address, an IPv4 address prefixed with \"::ffff:\" when "
                      "the IPv6 protocol is in use (see ``set_ipv6_protocol``).") +
              kResolves);
  defText(m, "to_ipv6_with_brackets", resolving(&ConvertIP::toIPv6WithBrackets),
          std::string("\"[\" + text + \"]\" for an IPv6 address; for IPv4, \"[::ffff:a.b.c.d]\" "
                      "when the IPv6 protocol is in use, else its text.") +
              kResolves);
  defText(m, "unoptimize_ipv6_address", resolving(&ConvertIP::unoptimizeIPv6Address),
          std::string("The written-out form of an IPv6 address: eight groups, every group but "
                      "the last padded to four hex digits, e.g. \"2001:db8::1\" gives "
                      "\"2001:0db8:0000:0000:0000:0000:0000:1\". IPv4 addresses and IPv4-mapped, "
                      "loopback, link-local and multicast IPv6 addresses come back unchanged.") +
              kResolves);
  defText(m, "simplify_ipv4_address", resolving(&ConvertIP::simplifyIPv4Address),
          std::string("The IPv4 part \"a.b.c.d\" of \"::ffff:a.b.c.d\"; otherwise the text of "
                      "the address.") +
              kResolves);
  defText(m, "simplify_ip_address_format", resolving(&ConvertIP::simplifyIPAddressFormat),
          std::string("The standard text of the address, an IPv4-mapped address reduced to its "
                      "IPv4 text.") +
              kResolves);
  defText(m, "split_port_from_string", &ConvertIP::splitPortFromString,
          "The port of an \"address:port\" string, or \"undefined\" for an unrecognised shape. "
          "Recognised: IPv4 address or host name with a port, \"::1:port\", "
          "\"::ffff:a.b.c.d:port\" and the written-out IPv6 form of "
          "``unoptimize_ipv6_address`` with a port. Never resolves.");
  defText(m, "split_ip_address_from_string", &ConvertIP::splitIPaddressFromString,
          "The address part of an \"address:port\" string of the shapes that "
          "``split_port_from_string`` recognises; any other string unchanged. Never resolves.");
  m.def(
      "detect_ipv6_protocol",
      []() {
        std::string error;
        bool probed;
        {
          py::gil_scoped_release release;
          probed = ConvertIP::setV6Protocol(error);
        }
        if (!probed) {
          PyErr_SetString(PyExc_OSError, error.c_str());
          throw py::error_already_set();
        }
        return ConvertIP::v6_protocol_;
      },
      R"doc(detect_ipv6_protocol()
--

Probes whether the machine can open IPv6 TCP sockets and sets the protocol flag.

Returns
-------
bool
    The new value of ``ipv6_protocol()``: True when IPv6 sockets can be opened.

Raises
------
OSError
    Neither an IPv6 nor an IPv4 socket can be opened; the flag is unchanged.
)doc");
  m.def(
      "ipv6_protocol", []() { return ConvertIP::v6_protocol_; },
      "ipv6_protocol()\n--\n\nTrue when IPv4 addresses are written in their IPv4-mapped IPv6 form "
      "(False at start).");
  m.def(
      "set_ipv6_protocol", [](bool enabled) { ConvertIP::v6_protocol_ = enabled; },
      py::arg("enabled"),
      "set_ipv6_protocol(enabled)\n--\n\nSets the protocol flag read by the address functions. Set "
      "it once at start-up, before "
      "other threads use them.");
}

}  // namespace zelvane::python
