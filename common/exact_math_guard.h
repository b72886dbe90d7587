// Included by every kernel source: results are defined to the bit, which
// -ffast-math (reassociation, reciprocals, finite-only assumptions) breaks.
// The build adds -ffp-contract=off -fno-fast-math after the user's flags; this
// guard catches build paths that put -ffast-math last.
#ifndef COMMON_EXACT_MATH_GUARD_H
#define COMMON_EXACT_MATH_GUARD_H

#if defined(__FAST_MATH__) || defined(_M_FP_FAST)
#error "kernels must not be compiled with -ffast-math: results must be bit-exact"
#endif

#endif  // COMMON_EXACT_MATH_GUARD_H
