// Names and visibility shared by every file of both libraries.
//
// The common code is compiled once into each library, inside that library's namespace
// (PRESCORA_NS is Interface or Initiator), and is hidden unless marked PRESCORA_API, so two
// libraries loaded into one process never share a single object of it.
#pragma once

#ifndef PRESCORA_NS
#error "PRESCORA_NS must name the library being built (Interface or Initiator)"
#endif
#ifndef PRESCORA_TITLE
#error "PRESCORA_TITLE must give the library's title"
#endif
#ifndef PRESCORA_VERSION_MAJOR
#define PRESCORA_VERSION_MAJOR 1
#endif
#ifndef PRESCORA_VERSION_MINOR
#define PRESCORA_VERSION_MINOR 2
#endif

#define PRESCORA_API __attribute__((visibility("default")))
#ifndef PRESCORA_VERSION_PATCH
#define PRESCORA_VERSION_PATCH 0
#endif
