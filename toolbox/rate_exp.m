%RATE_EXP Elementwise exponential, the same bits on every platform.
%   Y = RATE_EXP(ETA) returns exp(ETA) element by element, within one unit
%   in the last place (ulp) of the correctly rounded value, and with the same
%   bits on every platform and host (Octave, MATLAB and Python's
%   spike_bins.rate_exp): the expected spike counts of a Poisson GLM,
%   exp of the linear predictor, computed by one fixed sequence of IEEE
%   double operations instead of the platform's math library.
%
%   Arguments
%     ETA   real double array of any size, including empty.
%
%   Result
%     Y     double array of the size of ETA (an ETA of more than two
%           dimensions gives size(ETA, 1) rows, the other dimensions as
%           columns: reshape(Y, size(ETA)) restores its shape).
%           NaN gives NaN, ETA > 709.782712893384 gives Inf, ETA <
%           -745.1332191019411 gives +0; +-0 gives 1, Inf gives Inf and
%           -Inf gives +0.
%
%   Examples
%     rate_exp([0 -1; -800 0.5])
%       % [1 0.36787944117144233; 0 1.6487212707001282]
%     rate_exp(1)
%       % 2.7182818284590455, one ulp above exp(1) = 2.718281828459045
%
%   The sequence (each line one or more IEEE double operations, in order,
%   no fused multiply-add):
%     t  = x * 1.44269504088896338700 + 0x1.8p52;  kd = t - 0x1.8p52
%     hi = x - kd * 6.93147180369123816490e-01
%     lo = kd * 1.90821492927058770002e-10;  r = hi - lo;  s = r * r
%     c  = r - s * (P1 + s * (P2 + s * (P3 + s * (P4 + s * P5))))
%     y  = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi)
%     Y  = y * 2^kd, rounded once (only a subnormal result rounds)
%   with P1 .. P5 the polynomial coefficients of the kernel's header
%   (rate/portable_exp.h).
%
%   Errors
%     "rate_exp needs 1 input args: eta"            not exactly one argument
%     "eta must be a full (non-sparse) double array"  single, integer,
%                                   logical, char, cell, struct and sparse
%                                   arguments are refused
%     "eta must be real: ..."       a complex ETA (its exponential is not
%                                   that of its real part)
%     "eta has more than 2^31 - 1 rows or columns"  ETA too large
%
%   See also EXP, SPIKE_GLM_FIT, SPIKE_GLM_RATE.

% This file holds the help text only: the computation is in the compiled
% module rate_exp.mex (or rate_exp.mexa64 etc. in MATLAB) in the same
% folder, which takes precedence over this file when the function is called.

% Tests (run with "test rate_exp", or "pkg test" for the package). Results
% must match to the bit: assert compares exactly (class, size, values, NaN
% as NaN).

%!# The compiled module, not this help file, answers the call.
%!assert (exist ("rate_exp"), 3)
%!assert (! isempty (regexp (which ("rate_exp"), '\.mex$', "once")))

%!# Edges: {eta, expected bits}. Thresholds, subnormal results, signed
%!# zeros, tiny arguments and whole multiples of ln 2.
%!test
%! L = log (2);
%! cases = {
%!   0, 1
%!   -0, 1
%!   1, 2.7182818284590455
%!   -1, 0.36787944117144233
%!   1e-300, 1
%!   -1e-300, 1
%!   709.782712893384, 1.7976931348622732e+308
%!   709.7827128933841, Inf
%!   -745.1332191019411, 5e-324
%!   -745.1332191019412, 0
%!   -740, 4.2e-322
%!   -708.5, 2.006132305331306e-308
%!   1023 * L, 8.98846567431186e+307
%!   -1022 * L, 2.2250738585072626e-308
%!   -1074 * L, 5e-324
%!   10 * L, 1024
%!   Inf, Inf
%!   -Inf, 0
%!   NaN, NaN
%! };
%! for i = 1:rows (cases)
%!   [eta, expected] = cases{i, :};
%!   y = rate_exp (eta);
%!   assert (y, expected);
%!   assert (signbit (y), false);
%! endfor

%!# Sizes: the result has eta's rows and columns; more dimensions are
%!# columns.
%!test
%! sizes = {[0 0], [0 3], [3 0], [1 1], [1 7], [7 1], [5 4], [1 0]};
%! for i = 1:numel (sizes)
%!   eta = reshape (linspace (-3, 3, prod (sizes{i})), sizes{i});
%!   y = rate_exp (eta);
%!   assert (size (y), sizes{i});
%!   assert (y, reshape (rate_exp (eta(:)), sizes{i}));
%! endfor
%! eta = reshape (1:12, 2, 3, 2) / 5;
%! assert (rate_exp (eta), reshape (rate_exp (eta(:)), 2, 6));

%!# Within 1 ulp of exp over the whole range; lengths that are not a whole
%!# number of vector blocks give the same bits as each value alone.
%!test
%! rand ("seed", 7);
%! eta = [-745.2 + 1455 * rand(20000, 1); -20 + 40 * rand(5000, 1);
%!        -745.2 + 40 * rand(5000, 1)];
%! y = rate_exp (eta);
%! want = exp (eta);
%! assert (all (abs (y - want) <= eps (want)));
%! alone = arrayfun (@rate_exp, eta(1:29));
%! assert (rate_exp (eta(1:29)), alone);

%!# Refusals, one per message (tests/octave/refusals_test.m has the rest).
%!error <^rate_exp: rate_exp needs 1 input args: eta$> rate_exp ()
%!error <^rate_exp: rate_exp needs 1 input args: eta$> rate_exp (1, 2)
%!error <^rate_exp: eta must be a full \(non-sparse\) double array$>
%! rate_exp (single (1))
%!error <^rate_exp: eta must be real: the exponential of a complex value is not that of its real part$>
%! rate_exp (1 + 2i)
%!error <^rate_exp: eta has more than 2\^31 - 1 rows or columns$>
%! rate_exp (zeros (0, 2^31))
