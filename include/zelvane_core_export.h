/// @file
/// Symbol visibility of the core library. The library is built with every symbol
/// hidden; the public API is marked with ZELVANE_CORE_API, the one place that
/// decides what a consumer can link against.
#pragma once

#define ZELVANE_CORE_API __attribute__((visibility("default")))
