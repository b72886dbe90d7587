// Loading of a module built against the stand-in host, shared by the gateway
// tests and the gateway fuzz targets: loaded on first use and kept for the
// life of the process; a module that does not load ends the process.
#ifndef TESTS_SUPPORT_MODULE_LOADER_H
#define TESTS_SUPPORT_MODULE_LOADER_H

#include <cstdio>
#include <cstdlib>
#include <string>

#include "standin_host.h"

inline const StandinModule &load_module_once(const char *path,
                                             StandinModule *storage) {
  if (storage->entry == nullptr) {
    std::string error;
    if (!standin_load_module(path, storage, &error)) {
      std::fprintf(stderr, "cannot load %s: %s\n", path, error.c_str());
      std::abort();
    }
  }
  return *storage;
}

#endif  // TESTS_SUPPORT_MODULE_LOADER_H
