// Included by every kernel source: results are defined to the bit, which
// -ffast-math (reassociation, reciprocals, finite-only assumptions) breaks.
// The build adds -ffp-contract=off -fno-fast-math after the user's flags; this
// guard catches build paths that put -ffast-math last. It also refuses x87
// math (32-bit x86 without SSE2): there doubles are computed in 80-bit
// registers and rounded twice, which changes last bits.
#ifndef COMMON_EXACT_MATH_GUARD_H
#define COMMON_EXACT_MATH_GUARD_H

#if defined(__FAST_MATH__) || defined(_M_FP_FAST)
#error "kernels must not be compiled with -ffast-math: results must be bit-exact"
#endif

#if (defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ == 2) || \
    (defined(_M_IX86) && (!defined(_M_IX86_FP) || _M_IX86_FP < 2))
#error "kernels need SSE2 double math on 32-bit x86: compile with -msse2 -mfpmath=sse (GCC, Clang) or /arch:SSE2 (MSVC); x87 math gives other bits"
#endif

#endif  // COMMON_EXACT_MATH_GUARD_H
