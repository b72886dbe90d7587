// Module loading and calls of the stand-in host.
#include <dlfcn.h>

#include <algorithm>

#include "standin_internal.h"

StandinCallRecord *&standin_current_call() {
  thread_local StandinCallRecord *call = nullptr;
  return call;
}

bool standin_load_module(const std::string &path, StandinModule *module,
                         std::string *error) {
  *module = StandinModule{nullptr, nullptr};
  // RTLD_NOW: every mx/mex symbol the module imports must resolve now, from
  // the stand-in library the module was linked against.
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char *text = dlerror();
    *error = text != nullptr ? text : "dlopen failed";
    return false;
  }
  dlerror();
  void *entry = dlsym(handle, "mexFunction");
  if (entry == nullptr) {
    const char *text = dlerror();
    *error = text != nullptr ? text : "mexFunction not found";
    dlclose(handle);
    return false;
  }
  module->handle = handle;
  module->entry = reinterpret_cast<StandinMexEntry *>(entry);
  return true;
}

void standin_unload_module(StandinModule *module) {
  if (module->handle != nullptr) {
    dlclose(module->handle);
  }
  *module = StandinModule{nullptr, nullptr};
}

StandinCallResult standin_call(const StandinModule &module, int nlhs,
                               mxArray *plhs[], int nrhs,
                               const mxArray *prhs[]) {
  StandinCallRecord record{{}, 0};
  StandinCallRecord *const outer = standin_current_call();
  standin_current_call() = &record;
  StandinCallResult result{true, std::string(), 0, 0};
  try {
    module.entry(nlhs, plhs, nrhs, prhs);
  } catch (const StandinHostError &error) {
    result.ok = false;
    result.error_message = error.message;
  }
  standin_current_call() = outer;
  result.arrays_created = static_cast<int>(record.created.size());
  result.host_queries = record.host_queries;

  // The host keeps what the call returned and frees everything else it made.
  mxArray **const returned_end = plhs + std::max(nlhs, 1);
  for (mxArray *array : record.created) {
    if (!result.ok || std::find(plhs, returned_end, array) == returned_end) {
      standin_destroy_array(array);
    }
  }
  return result;
}
