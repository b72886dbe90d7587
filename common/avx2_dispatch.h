// Run-time choice between a baseline, an AVX2 and an AVX-512 copy of a
// kernel body.
//
// call_fastest<body>(args...) calls body(args...). On x86-64 with GCC or
// Clang, when the build itself targets less than AVX2 (the x86-64 baseline is
// SSE2), body is also compiled a second time for AVX2 and, except on Windows,
// a third time for AVX-512 (512-bit vectors); the widest copy the CPU runs is
// called. All copies come from the same source, with body and every helper it
// calls inlined into them (mark them KERNEL_INLINE): each value gets the same
// IEEE operations in the same order, only the vector width differs. Neither
// copy has fused multiply-add enabled (AVX2 has none; the AVX-512 copy keeps
// the exact-math flags, -ffp-contract=off). Elsewhere (other CPUs, MSVC,
// builds that already target AVX2) there is one copy, and so is it when
// SPIKE_BINS_NO_AVX2_COPY is defined; SPIKE_BINS_NO_AVX512_COPY leaves out
// the AVX-512 copy alone (the test suite builds the kernels both ways too, so
// that every copy is tested on an AVX-512 machine). Windows gets no AVX-512
// copy: GCC there may spill 512-bit registers to stack slots with an
// alignment the Windows ABI does not give. No state is kept. It returns the
// copy it ran; kernel_copy_in_use() (kernel_copy.h) reports that choice for a
// library, which the tests check.
#ifndef COMMON_AVX2_DISPATCH_H
#define COMMON_AVX2_DISPATCH_H

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__) && \
    !defined(__AVX2__) && !defined(SPIKE_BINS_NO_AVX2_COPY)
#define KERNEL_AVX2_COPY 1
#define KERNEL_INLINE __attribute__((always_inline)) inline
#else
#define KERNEL_AVX2_COPY 0
#define KERNEL_INLINE inline
#endif

#if KERNEL_AVX2_COPY && !defined(_WIN32) && !defined(SPIKE_BINS_NO_AVX512_COPY)
#define KERNEL_AVX512_COPY 1
#else
#define KERNEL_AVX512_COPY 0
#endif

namespace spike_bins {

#if KERNEL_AVX2_COPY
template <auto body, typename... Args>
__attribute__((target("avx2"))) void call_avx2_copy(Args... args) {
  body(args...);
}
#endif

#if KERNEL_AVX512_COPY
// GCC vectorises for 256-bit registers in AVX-512 code unless told to prefer
// 512 bits; the kernels' adds run about 1.3 times faster at 512.
#if defined(__clang__)
#define KERNEL_AVX512_TARGET "avx512f,avx512vl,avx2"
#else
#define KERNEL_AVX512_TARGET "avx512f,avx512vl,avx2,prefer-vector-width=512"
#endif
template <auto body, typename... Args>
__attribute__((target(KERNEL_AVX512_TARGET))) void call_avx512_copy(
    Args... args) {
  body(args...);
}
#endif

enum class KernelCopy { baseline, avx2, avx512 };

template <auto body, typename... Args>
inline KernelCopy call_fastest(Args... args) {
#if KERNEL_AVX512_COPY
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")) {
    call_avx512_copy<body>(args...);
    return KernelCopy::avx512;
  }
#endif
#if KERNEL_AVX2_COPY
  if (__builtin_cpu_supports("avx2")) {
    call_avx2_copy<body>(args...);
    return KernelCopy::avx2;
  }
#endif
  body(args...);
  return KernelCopy::baseline;
}

// GCC (12, at -O2) does not vectorise a loop whose trip count it does not
// know; it does vectorise a loop of known length. So the kernels' inner loops
// run in blocks of this many elements, then the rest. Each vector lane makes
// the same IEEE operation on the same operands as the one-at-a-time code.
constexpr int kVectorBlock = 8;

}  // namespace spike_bins

#endif  // COMMON_AVX2_DISPATCH_H
