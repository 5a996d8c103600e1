"""The sequence checker and the address utilities against the C++ library."""

import numpy as np
import pytest

import zelvane
from zelvane import address

Result = zelvane.SequenceCheck.Result
LARGEST = 2**64 - 1

SEQUENCES = [
    [10, 11, 15, 15, 12, 16, 20],
    [0, LARGEST, 5, LARGEST],
    [LARGEST, 0, 1],
    [7],
]


@pytest.mark.parametrize("sequence", SEQUENCES)
def test_sequence_check_equals_the_library(reference, sequence):
    expected = [int(v) for v in reference.text("seq " + " ".join(map(str, sequence))).split()]
    check = zelvane.SequenceCheck()
    assert [int(check.check(n)) for n in sequence] == expected[:-3]
    assert [check.total_discarded, check.previous, check.discarded] == expected[-3:]
    batch = zelvane.SequenceCheck()
    codes = batch.check_many(np.array(sequence, dtype=np.uint64))
    assert codes.dtype == np.uint8 and codes.tolist() == expected[:-3]
    assert batch.total_discarded == check.total_discarded


def test_sequence_results_and_bad_numbers():
    assert [r.text for r in (Result.OK, Result.MISSING_DATA, Result.DUPLICATE,
                             Result.OUT_OF_ORDER)] == ["OK", "Missing data", "Duplicate",
                                                       "Out of order"]
    check = zelvane.SequenceCheck()
    check.check(5)
    check.reset()
    assert check.check(np.uint64(3)) == Result.OK and check.total_discarded == 0
    for bad in (-1, 2**64):
        with pytest.raises(ValueError, match="unsigned 64-bit"):
            check.check(bad)
    with pytest.raises(TypeError):
        check.check(1.5)
    for bad, message in [([1, -2], "must not be negative"), ([1.0, 2.0], "must hold integers"),
                         (np.zeros((2, 2), int), "one-dimensional")]:
        with pytest.raises(ValueError, match=message):
            check.check_many(bad)


TEXTS = ["192.168.0.7", "2001:db8::1", "2001:db8::", "::", "::ffff:10.0.0.1", "fe80::1%1",
         "ff02::1", "::1", "sensor-7.local", "", "1.2.3", "192.168.0.7:2368", "::1:80",
         "::ffff:10.0.0.1:2368", "2001:0db8:0000:0000:0000:0000:0000:0001:8080", "[::1]:80",
         "a:b:c"]
OPERATIONS = ["is_ip_address", "split_port_from_string", "split_ip_address_from_string"]
LITERAL_OPERATIONS = ["unoptimize_ipv6_address", "simplify_ipv4_address",
                      "simplify_ip_address_format"]


def test_address_functions_equal_the_library(reference):
    for text in TEXTS:
        for operation in OPERATIONS + (LITERAL_OPERATIONS if address.is_ip_address(text) else []):
            expected = reference.text("ip %s %s" % (operation, text))
            assert str(getattr(address, operation)(text)) == expected, (operation, text)


def test_unresolvable_names_raise_resolution_error():
    name = "z" * 64 + ".invalid"
    assert not address.is_ipv4(name) and not address.is_ipv6(name)
    with pytest.raises(zelvane.ResolutionError, match="resolve") as raised:
        address.unoptimize_ipv6_address(name)
    assert isinstance(raised.value, OSError)


def test_ipv6_protocol_flag():
    assert not address.ipv6_protocol()
    try:
        address.set_ipv6_protocol(True)
        assert address.to_ipv6_with_brackets("10.0.0.1") == "[::ffff:10.0.0.1]"
        address.set_ipv6_protocol(False)
        assert address.to_ipv6_with_brackets("10.0.0.1") == "10.0.0.1"
        assert address.detect_ipv6_protocol() == address.ipv6_protocol()
    finally:
        address.set_ipv6_protocol(False)
