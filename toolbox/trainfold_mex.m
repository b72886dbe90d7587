%TRAINFOLD_MEX Windowed sums of filters placed at spike times.
%   Y = TRAINFOLD_MEX(SPINDS, H_CURRENTS, TWIN) places every filter (column of
%   H_CURRENTS) at every spike time in SPINDS and returns, for each time bin
%   of the window TWIN and each filter, the sum of the filter taps that land
%   in that bin: the convolution of the spike train with each filter,
%   computed only over the window.
%
%   Arguments
%     SPINDS      real double column vector of spike times, in ascending
%                 order. A spike at time s lies in bin fix(s) (truncation
%                 toward zero: 7.9 lies in bin 7, -0.5 in bin 0). Empty
%                 (0x0, 0x1, or rows with no column such as zeros(3,0)) means
%                 no spikes. An array with two or more columns is refused: a
%                 row vector of two or more times, and even an empty 0x2.
%     H_CURRENTS  real double matrix of C rows (taps) by K columns (filters).
%                 Tap q of a filter (row q+1) lands in bin fix(s) + q.
%     TWIN        real double [T0 T1]: the first and last bin of the window,
%                 both included, each truncated toward zero (fix). Only the
%                 first two elements are used.
%
%   Result
%     Y           double matrix of fix(T1) - fix(T0) + 1 rows by K columns;
%                 row r holds bin fix(T0) + r - 1. TWIN = [5 5] gives one row,
%                 TWIN = [5 4] gives no rows.
%
%   Spikes are expected in ascending order: leading spikes that cannot reach
%   the window are skipped, and the scan stops at the first spike at or past
%   T1 + 1 (or at a NaN spike time); later spikes are not used even if out of
%   order. Taps are added in the order of the spikes in SPINDS.
%
%   Causality
%     Tap 1 of a filter lands in the spike's own bin. For spike-history and
%     coupling terms, where bin t may depend only on spikes in earlier bins,
%     pass the bins plus one: trainfold_mex(fix(SPINDS) + 1, H, TWIN) puts
%     tap q in bin fix(s) + q, q = 1 .. C, never in the spike's own bin.
%     For integer spike bins, SPINDS + 1 is the same; for times with
%     fractions it is not for -1 < s < 0 (s and s + 1 both lie in bin 0),
%     so shift the bins, not the times.
%
%   Example
%     trainfold_mex([8; 10.5; 13.2; 14], [1; 10; 100], [10 13])'
%       % 101  10  100  1
%       % bins 10..13, filter taps (p, q, r) = (1, 10, 100):
%       % the spike at 8.0 adds r to bin 10; the spike at 10.5 adds p, q, r
%       % to bins 10, 11, 12; the spike at 13.2 adds p to bin 13; the spike
%       % at 14.0 is past the window and ends the scan.
%     trainfold_mex([2; 2.5], [1 2; 3 4], [2 3])
%       % [2 4; 6 8]    two spikes in bin 2 add their taps twice
%
%   Errors
%     "needs 3 input args:  trainfold_mex(spinds, h_currents, twin)"
%                                  not exactly three arguments
%     "trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!"
%                                  SPINDS with more than one column
%     "spinds must be a full (non-sparse) double array"  (likewise for
%                                  h_currents and twin): single, integer,
%                                  logical, char, cell, struct and sparse
%                                  arguments are refused
%     "twin must hold two values, ..."               fewer than two values
%     "spinds or h_currents has more than 2^31 - 1 rows or columns"
%     "twin values must be numbers within the 32-bit integer range
%     (not NaN or Inf)"
%     "twin(2) must be at least twin(1) - 1 ..."     T1 < T0 - 1
%     "the window twin(1) .. twin(2) has more than 2^31 - 1 bins"
%   Complex arguments are accepted and their real parts used.
%
%   Memory
%     A call needs about twice the size of Y: Octave copies the result when
%     the call returns (a window of 2^28 rows, a 2 GB Y, peaks at 4.2 GB).
%     A window near the limit (2^31 - 1 rows are 16 GB per filter) can get
%     Octave killed by the operating system instead of raising an error;
%     after "ulimit -v" (a virtual-memory limit set in the shell that starts
%     Octave) the allocation fails with Octave's "out of memory" error
%     instead.
%
%   Exactness
%     Results are bit-exact and reproducible: each tap is added with one IEEE
%     double addition, in the order of the spikes in SPINDS, starting from
%     zero. Listing the same spikes in another order can change the last bit
%     of a sum.
%
%   See also TENTFILL2.

% This file holds the help text only: the computation is in the compiled
% module trainfold_mex.mex (or trainfold_mex.mexa64 etc. in MATLAB) in the
% same folder, which takes precedence over this file when the function is
% called.

% Tests (run with "test trainfold_mex", or "pkg test" for the package).
% Results must match to the bit: assert compares exactly (class, size,
% values, NaN as NaN) and signbit tells -0 from +0. Octave prints the
% function's name before a module's message.

%!# The compiled module, not this help file, answers the call.
%!assert (exist ("trainfold_mex"), 3)
%!assert (! isempty (regexp (which ("trainfold_mex"), '\.mex$', "once")))

%!# Worked examples, filter taps (p, q, r) = (1, 10, 100) over bins 10..13
%!# unless stated: {spinds, h_currents, twin, expected}.
%!test
%! p = 1; q = 10; r = 100; f = [1; 2; 4];
%! examples = {
%!   [8; 10.5; 13.2; 14], [p; q; r], [10 13], [r + p; q; r; p]
%!   [8; 10.5; 13.2; 14], f, [10 13], [5; 2; 4; 1]
%!   [2; 2.5], [1 2; 3 4], [2 3], [2 4; 6 8]     # two spikes in one bin
%!   ## A spike at L = T0 - c + 1 adds its last tap; just below L, none.
%!   8, [p; q; r], [10 13], [r; 0; 0; 0]
%!   7.999, [p; q; r], [10 13], zeros(4, 1)
%!   ## A spike at T1 + 0.5 adds tap 0 to the last row; T1 + 1 ends the scan.
%!   13.5, [p; q; r], [10 13], [0; 0; 0; p]
%!   [13; 14; 14], [p; q; r], [10 13], [0; 0; 0; p]
%!   [11; 11.9], [p; q; r], [10 13], [0; 2; 20; 200]
%!   ## No spikes, no taps, no filters.
%!   zeros(0, 1), [p; q; r], [10 13], zeros(4, 1)
%!   [], [p; q; r], [10 13], zeros(4, 1)
%!   zeros(3, 0), [p; q; r], [0 3], zeros(4, 1)
%!   [1; 2; 3], zeros(0, 2), [0 3], zeros(4, 2)
%!   [1; 2; 3], zeros(3, 0), [0 3], zeros(4, 0)
%!   ## Windows: one row, no rows, fractions truncated; three filters.
%!   [4; 5], [p; q; r], [5 5], q + p
%!   [4; 5], [p; q; r], [5 4], zeros(0, 1)
%!   2, [p; q], [2.7 9.2], [p; q; 0; 0; 0; 0; 0; 0]
%!   [0; 1], [1 2 3; 4 5 6], [0 2], [1 2 3; 5 7 9; 4 5 6]
%!   [1; 2; 3], [1; 1], [1 4], [1; 2; 2; 1]
%!   ## Out-of-order and NaN times end the scan; bins of negative times.
%!   [2; 50; 3; 4], f, [1 10], [0; 1; 2; 4; 0; 0; 0; 0; 0; 0]
%!   [1; NaN; 2], f, [1 5], [1; 2; 4; 0; 0]
%!   [NaN; 2], f, [1 5], zeros(5, 1)
%!   -0.5, f, [1 5], [2; 4; 0; 0; 0]
%!   -1.0, f, [1 5], [4; 0; 0; 0; 0]
%!   -1.5, f, [1 5], zeros(5, 1)
%!   [3; -1e12; -Inf; 4], f, [1 5], [0; 0; 1; 3; 6]
%!   ## Sums in list order: the same spikes sorted differ in the last bit.
%!   [5; 3; 5; 3; 5], [0.1; 1/3; 0.7], [5 5], 1.7
%!   [3; 3; 5; 5; 5], [0.1; 1/3; 0.7], [5 5], 1.7000000000000002
%!   ## The ends of the 32-bit range.
%!   [-2^31; -2^31 + 1.5], [p; q], [-2^31, -2^31 + 3], [p; q; p; q]
%!   2^31 - 2, [p; q; r], [2^31 - 3, 2^31 - 1], [0; p; q]
%!   [], zeros(3, 0), [1, 2^31 - 1], zeros(2^31 - 1, 0)
%! };
%! for i = 1:rows (examples)
%!   [spinds, h_currents, twin, expected] = examples{i, :};
%!   y = trainfold_mex (spinds, h_currents, twin);
%!   assert (y, expected);
%!   assert (signbit (y(y == 0)), signbit (expected(expected == 0)));
%! endfor

%!# Causality: with the bins shifted by one, a spike's first tap lands in
%!# the bin after its own; with the times shifted, not for -1 < s < 0.
%!test
%! f = [1; 2; 4];
%! twin = [-5 12];
%! for s = [3, 7.5, 2.999, 0, -0.5, -1.5, -3.25]
%!   y = trainfold_mex (fix (s) + 1, f, twin);
%!   assert (find (y, 1) + twin(1) - 1, fix (s) + 1);
%!   assert (y(fix (s) + 2 - twin(1):fix (s) + 4 - twin(1)), f);
%! endfor
%! assert (trainfold_mex (-0.5 + 1, f, [0 3]), [1; 2; 4; 0]);

%!# Real parts of complex arguments; twin elements past the second ignored:
%!# {spinds, h_currents, twin}, each the same as the real call.
%!test
%! s = [0.5; 2; 3.25];
%! h = [0.3 -1; 2 0.7; 5 1e-3];
%! expected = trainfold_mex (s, h, [1 5]);
%! calls = {
%!   complex(s, 1), h, [1 5]
%!   s, complex(h, 2), [1 5]
%!   s, h, complex([1 5], 9)
%!   s, h, [1 5 -100]
%!   s, h, [1; 5]
%! };
%! for i = 1:rows (calls)
%!   y = trainfold_mex (calls{i, :});
%!   assert (y, expected);
%!   assert (signbit (y(y == 0)), signbit (expected(expected == 0)));
%! endfor

%!# Refusals, one per message (tests/octave/refusals_test.m has the rest).
%!error <^trainfold_mex: needs 3 input args:  trainfold_mex\(spinds, h_currents, twin\)$>
%! trainfold_mex ([1; 2], [1; 2; 3])
%!error <^trainfold_mex: needs 3 input args:  trainfold_mex\(spinds, h_currents, twin\)$>
%! trainfold_mex ([1 2], [1; 2; 3], [0 4], 1)
%!error <^trainfold_mex: trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!$>
%! trainfold_mex ([1 2 3], [1; 2; 3], [0 4])
%!error <^trainfold_mex: trainfold_mex: Spike Times Must Be Passed in As a COLUMN Vector!!$>
%! trainfold_mex (zeros (0, 2), [1; 2; 3], [0 4])
%!error <^trainfold_mex: spinds must be a full \(non-sparse\) double array$>
%! trainfold_mex (single ([1; 2]), [1; 2; 3], [0 4])
%!error <^trainfold_mex: h_currents must be a full \(non-sparse\) double array$>
%! trainfold_mex ([1; 2], int8 ([1; 2; 3]), [0 4])
%!error <^trainfold_mex: twin must be a full \(non-sparse\) double array$>
%! trainfold_mex ([1; 2], [1; 2; 3], int32 ([0 4]))
%!error <^trainfold_mex: twin must hold two values, the first and last bin of the window$>
%! trainfold_mex ([1; 2], [1; 2; 3], 5)
%!error <^trainfold_mex: spinds or h_currents has more than 2\^31 - 1 rows or columns$>
%! trainfold_mex ([1; 2], zeros (0, 2^31), [0 4])
%!error <^trainfold_mex: twin values must be numbers within the 32-bit integer range \(not NaN or Inf\)$>
%! trainfold_mex ([1; 2], [1; 2; 3], [0 NaN])
%!error <^trainfold_mex: twin\(2\) must be at least twin\(1\) - 1 \(the window would have a negative number of rows\)$>
%! trainfold_mex ([1; 2], [1; 2; 3], [5 3])
%!error <^trainfold_mex: the window twin\(1\) \.\. twin\(2\) has more than 2\^31 - 1 bins$>
%! trainfold_mex ([1; 2], [1; 2; 3], [-2^31, 2^31 - 1])
