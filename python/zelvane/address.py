"""Network address strings: IPv4, IPv6 and IPv4-mapped IPv6, with or without a port.

The text of an address is the standard one: IPv4 in dotted decimal, IPv6 compressed,
followed by "%" and the scope for a non-zero scope id. Functions that "resolve"
accept host names and may block on the system resolver (without holding the GIL);
the others never block and accept any string.

Examples
--------
>>> from zelvane import address
>>> address.unoptimize_ipv6_address("2001:db8::1")
'2001:0db8:0000:0000:0000:0000:0000:1'
>>> address.split_port_from_string("192.168.0.7:2368")
'2368'
"""

from ._zelvane import (detect_ipv6_protocol, ipv6_protocol, is_ip_address, is_ipv4, is_ipv6,
                       set_ipv6_protocol, simplify_ip_address_format, simplify_ipv4_address,
                       split_ip_address_from_string, split_port_from_string,
                       to_ipv6_with_brackets, to_ipv6_without_brackets,
                       unoptimize_ipv6_address)

__all__ = ["detect_ipv6_protocol", "ipv6_protocol", "is_ip_address", "is_ipv4", "is_ipv6",
           "set_ipv6_protocol", "simplify_ip_address_format", "simplify_ipv4_address",
           "split_ip_address_from_string", "split_port_from_string", "to_ipv6_with_brackets",
           "to_ipv6_without_brackets", "unoptimize_ipv6_address"]
