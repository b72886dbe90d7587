// Which copy of the kernel bodies a library runs on this CPU: the AVX2 copy
// only where the library was built with one (common/avx2_dispatch.h) and the
// CPU has AVX2. The tests compare it with how each library was meant to be
// built.
#ifndef COMMON_KERNEL_COPY_H
#define COMMON_KERNEL_COPY_H

#include "common/avx2_dispatch.h"

namespace spike_bins {

KernelCopy kernel_copy_in_use();

}  // namespace spike_bins

#endif  // COMMON_KERNEL_COPY_H
