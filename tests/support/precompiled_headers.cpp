// The translation unit that the test programs' precompiled headers are built with
// (tests/CMakeLists.txt): it has no code of its own.
