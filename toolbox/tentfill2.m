%TENTFILL2 Upsample binned signals by linear interpolation between bin centres.
%   Y = TENTFILL2(X, NBNS) returns the columns of X, each a signal sampled
%   once per coarse time bin, on a grid of E = fix(NBNS) fine bins per coarse
%   bin. Each sample stands for the value at the centre of its block of E fine
%   bins (for an even E, on the row just before the centre); the fine bins in
%   between are filled by linear interpolation, and before the first and after
%   the last sample the values ramp down toward zero, as if each signal were
%   zero one coarse bin before its first and one after its last sample.
%
%   Arguments
%     X     real double matrix, M rows (coarse bins) by N columns (signals).
%     NBNS  real double: the number of fine bins per coarse bin. Only its
%           first element is used. E = fix(NBNS) (truncation toward zero);
%           the fine-bin width is h = 1/NBNS, taken from NBNS itself, so a
%           fractional NBNS (2.5: E = 2, h = 0.4) scales the values too.
%
%   Result
%     Y     double matrix of M*E rows by N columns. Sample X(j,:) lands on
%           row (j-1)*E + E - fix(E/2) of Y. For -1 < NBNS < 1 (E = 0), Y has
%           no rows; an X with no rows gives a Y with no rows.
%
%   Examples
%     tentfill2([1; 2], 4)'
%       % 0.75  1  1.25  1.5  1.75  2  1.5  1
%       % (rows: 0.75a, a, 0.75a+0.25b, 0.5a+0.5b, 0.25a+0.75b, b, 0.75b, 0.5b
%       %  with a = 1, b = 2; sample a lands on row 2 and b on row 6)
%     tentfill2([1; 2], 2)'
%       % 1  1.5  2  1     (a, (a+b)/2, b, b/2)
%     tentfill2(5, 3)'
%       % 3.3333  5  3.3333   (one sample: a ramp up and a ramp down)
%     tentfill2([1 10; 2 20], [4 7])
%       % uses NBNS = 4 (the 7 is ignored): column 1 as in the first
%       % example, column 2 ten times it
%
%   Causality
%     The ramp toward a sample starts half a coarse bin before the sample's
%     own block of E fine rows: X(j,:) is non-zero from row
%     (j-1)*E - fix(E/2) + 1 to row j*E + E - fix(E/2) - 1, while its block
%     is rows (j-1)*E + 1 .. j*E. tentfill2([0; 0; 1; 0], 10) is non-zero
%     from row 16, and coarse bin 3 is rows 21-30. For a model in which a
%     stimulus must not lead the response (a value that describes coarse bin
%     c may act only after that bin has ended, from row c*E + 1 on), delay
%     it by two coarse bins before upsampling:
%       Y = tentfill2([zeros(2, columns(X)); X(1:end-2, :)], NBNS)
%     puts X(c,:) on rows from (c+1)*E - fix(E/2) + 1 on, all after row c*E.
%     A delay of one coarse bin still reaches fix(E/2) rows into bin c
%     itself (for E >= 2). Equivalently, start a stimulus filter's lags at
%     two coarse bins.
%
%   Errors
%     "tentfill needs 2 input args: x, nbns"        not exactly two arguments
%     "x must be a full (non-sparse) double array"  (also "nbns must be ..."):
%                                   single, integer, logical, char, cell,
%                                   struct and sparse arguments are refused
%     "nbns is empty; ..."                          NBNS = []
%     "x has more than 2^31 - 1 rows or columns"    X too large
%     "nbns must be a number greater than -1 and less than 2^31
%     (not NaN or Inf)"                              NBNS out of range
%     "the result would have more than 2^31 - 1 rows ..."  M*E too large
%   A complex X or NBNS is accepted and its real part used.
%
%   Memory
%     A call needs about twice the size of Y: Octave copies the result when
%     the call returns. A Y near the size limits (2^31 - 1 rows are 16 GB
%     per column) can get Octave killed by the operating system instead of
%     raising an error; after "ulimit -v" (a virtual-memory limit set in the
%     shell that starts Octave) the allocation fails with Octave's "out of
%     memory" error instead.
%
%   Exactness
%     Results are bit-exact and reproducible: every product and sum is one
%     IEEE double operation in a fixed order, with no fused multiply-add.
%     The module picks one of two arithmetic forms by the number of columns:
%     for one column ((E-1-k)*a + (k+1)*b) * h, for more columns
%     ((E-1-k)*h)*a + ((k+1)*h)*b. They agree in exact arithmetic but can
%     differ in the last bit, so a column upsampled alone and the same column
%     inside a wider matrix may differ by one unit in the last place. Because
%     h = 1/NBNS is rounded, a landing row can also differ from its sample in
%     the last bit (tentfill2([0.5; 1.25; -3.7619803885035443], 3) holds
%     -3.761980388503544 in row 8).
%
%   See also TRAINFOLD_MEX.

% This file holds the help text only: the computation is in the compiled
% module tentfill2.mex (or tentfill2.mexa64 etc. in MATLAB) in the same folder,
% which takes precedence over this file when the function is called.

% Tests (run with "test tentfill2", or "pkg test" for the package). Results
% must match to the bit: assert compares exactly (class, size, values, NaN
% as NaN) and signbit tells -0 from +0. Octave prints the function's name
% before a module's message.

%!# The compiled module, not this help file, answers the call.
%!assert (exist ("tentfill2"), 3)
%!assert (! isempty (regexp (which ("tentfill2"), '\.mex$', "once")))

%!# Worked examples and sizes: {x, nbns, expected}.
%!test
%! examples = {
%!   [1; 2], 4, [0.75; 1; 1.25; 1.5; 1.75; 2; 1.5; 1]
%!   [3; 5], 2, [3; 4; 5; 2.5]
%!   [1; 2], 2, [1; 1.5; 2; 1]
%!   5, 3, [(2 * (1 / 3)) * 5; 5; (2 * (1 / 3)) * 5]
%!   6, 3, [(2 * (1 / 3)) * 6; 6; (2 * (1 / 3)) * 6]
%!   [1 10; 2 20], [4 7], [0.75 7.5; 1 10; 1.25 12.5; 1.5 15; 1.75 17.5; 2 20; 1.5 15; 1 10]
%!   [1; 2; 3], 2.5, [0.8; 1.2000000000000002; 1.6; 2.0; 2.4000000000000004; 1.2000000000000002]
%!   ## One column and two columns: the arithmetic forms differ in the last
%!   ## bit on rows 3 to 5.
%!   [0.1; 0.7], 3, [0.06666666666666667; 0.1; 0.29999999999999993; 0.5; 0.6999999999999998; 0.4666666666666666]
%!   [0.1 0.1; 0.7 0.7], 3, repmat([0.06666666666666667; 0.1; 0.3; 0.49999999999999994; 0.7; 0.4666666666666666], 1, 2)
%!   [2; -0; 5], 1, [2; 0; 5]                           # -0 becomes +0
%!   [1; Inf; 3], 3, [2/3; 1; Inf; Inf; Inf; Inf; Inf; NaN; 2]
%!   [Inf; 2], 1, [Inf; NaN]
%!   ## Head ramp weights: 49 * (1/49) rounds below 1.
%!   1, 49, [(25:49)' * (1 / 49); (48:-1:25)' * (1 / 49)]
%!   ## No rows for -1 < nbns < 1 or an x with no rows; no columns.
%!   [1 2; 3 4], 0.5, zeros(0, 2)
%!   [1; 2], -0.999, zeros(0, 1)
%!   zeros(3, 0), 4, zeros(12, 0)
%!   zeros(0, 3), 4, zeros(0, 3)
%!   zeros(1, 0), 2^31 - 1, zeros(2^31 - 1, 0)
%! };
%! for i = 1:rows (examples)
%!   [x, nbns, expected] = examples{i, :};
%!   y = tentfill2 (x, nbns);
%!   assert (y, expected);
%!   assert (signbit (y(y == 0)), signbit (expected(expected == 0)));
%! endfor
%!assert (max (tentfill2 (1, 49)), 0.9999999999999999)
%!# A landing row can differ from its sample in the last bit.
%!test
%! y = tentfill2 ([0.5; 1.25; -3.7619803885035443], 3);
%! assert (y(8), -3.761980388503544);

%!# Causality: the ramp reaches fix(E/2) rows ahead of a sample's block; a
%!# delay of two coarse bins keeps every sample after its own bin, one
%!# delay does not (E >= 2).
%!test
%! y = tentfill2 ([0; 0; 1; 0], 10);
%! assert ([find(y, 1), find(y, 1, "last")], [16, 34]);
%! for nbns = [1:12, 2.5, 99]
%!   E = fix (nbns);
%!   for c = [1, 3]
%!     x = zeros (6, 1);
%!     x(c) = 1;
%!     first = find (tentfill2 (x, nbns), 1);
%!     assert (first, max (1, (c - 1) * E - fix (E / 2) + 1));
%!     assert (find (tentfill2 ([0; 0; x(1:end-2)], nbns), 1) > c * E);
%!     if (E >= 2)
%!       assert (find (tentfill2 ([0; x(1:end-1)], nbns), 1) <= c * E);
%!     endif
%!   endfor
%! endfor

%!# Real parts of complex arguments; further elements of nbns ignored;
%!# more than two dimensions count as columns: {x, nbns, same as x, nbns}.
%!test
%! x = [1.5 -2; 0.25 3; 7 1e-3];
%! x3 = reshape (1:12, 2, 3, 2) / 7;
%! calls = {
%!   complex(x, ones(3, 2)), 3, x, 3
%!   x, complex(3, 5), x, 3
%!   x, [3 9; 4 5], x, 3
%!   x3, 2, reshape(x3, 2, 6), 2
%! };
%! for i = 1:rows (calls)
%!   y = tentfill2 (calls{i, 1:2});
%!   expected = tentfill2 (calls{i, 3:4});
%!   assert (y, expected);
%!   assert (signbit (y(y == 0)), signbit (expected(expected == 0)));
%! endfor

%!# Refusals, one per message (tests/octave/refusals_test.m has the rest).
%!error <^tentfill2: tentfill needs 2 input args: x, nbns$> tentfill2 ()
%!error <^tentfill2: tentfill needs 2 input args: x, nbns$> tentfill2 ([1; 2])
%!error <^tentfill2: tentfill needs 2 input args: x, nbns$> tentfill2 ([1; 2], 4, 1)
%!error <^tentfill2: x must be a full \(non-sparse\) double array$>
%! tentfill2 (single ([1; 2]), 2)
%!error <^tentfill2: nbns must be a full \(non-sparse\) double array$>
%! tentfill2 ([1; 2], int32 (2))
%!error <^tentfill2: nbns is empty; it must hold the number of fine bins per coarse bin$>
%! tentfill2 ([1; 2], [])
%!error <^tentfill2: x has more than 2\^31 - 1 rows or columns$>
%! tentfill2 (zeros (0, 2^31), 1)
%!error <^tentfill2: nbns must be a number greater than -1 and less than 2\^31 \(not NaN or Inf\)$>
%! tentfill2 ([1; 2], NaN)
%!error <^tentfill2: the result would have more than 2\^31 - 1 rows \(size\(x, 1\) \* fix\(nbns\)\)$>
%! tentfill2 ([1; 2], 2^30)
