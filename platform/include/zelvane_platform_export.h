/// @file
/// Symbol visibility of the two platform libraries (logging and settings). Both are
/// built with every symbol hidden and export their public API through these macros.
#pragma once

#define ZELVANE_LOGGING_API __attribute__((visibility("default")))
#define ZELVANE_SETTINGS_API __attribute__((visibility("default")))
