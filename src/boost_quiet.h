// The Boost headers about which GCC warns wrongly, included with that warning off, so
// that every file that includes this one, and every other file, keeps the warning for
// its own code:
// - Boost.Graph's edge iterator keeps its position in an optional that GCC cannot see
//   through once copy_graph is inlined, and reports it as maybe uninitialised;
// - Boost.Geometry's overlay assigns its rescaling factor on every path, which GCC
//   cannot see either.
// Clang does not know the warning and needs none of this. Boost.Geometry also reaches a
// header that Boost itself has deprecated and says so on every build; that note is
// for Boost's maintainers and is switched off here too.
#pragma once

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#ifndef BOOST_ALLOW_DEPRECATED_HEADERS
#define BOOST_ALLOW_DEPRECATED_HEADERS
#define ZELVANE_UNDEFINE_BOOST_ALLOW_DEPRECATED_HEADERS
#endif
#include <boost/geometry.hpp>
#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/copy.hpp>
#ifdef ZELVANE_UNDEFINE_BOOST_ALLOW_DEPRECATED_HEADERS
#undef BOOST_ALLOW_DEPRECATED_HEADERS
#undef ZELVANE_UNDEFINE_BOOST_ALLOW_DEPRECATED_HEADERS
#endif
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
