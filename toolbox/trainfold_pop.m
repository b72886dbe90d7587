%TRAINFOLD_POP Windowed sums of a population's filters placed at its spikes.
%   Y = TRAINFOLD_POP(SPINDS, IDS, H_CURRENTS, TWIN, NSOURCES) places, for
%   every spike of a population of NSOURCES source neurons, its source's
%   filters at its time and returns, for each time bin of the window TWIN and
%   each output column, the sum of the taps that land there: the coupling
%   drive of a whole population in one call.
%
%   Arguments
%     SPINDS      real double column vector of spike times, in any order,
%                 with TRAINFOLD_MEX's rules: leading spikes that cannot
%                 reach the window are skipped and the scan stops at the
%                 first spike at or past fix(TWIN(2)) + 1 (or at a NaN).
%     IDS         real double column vector, one element per spike: the
%                 source of each spike, a whole number from 1 to NSOURCES.
%     H_CURRENTS  real double matrix of C rows (taps) by NSOURCES*K columns:
%                 column (k-1)*NSOURCES + j is the filter of source j for
%                 output column k.
%     TWIN        [T0 T1], the window, as for TRAINFOLD_MEX.
%     NSOURCES    real double: the number of sources N, a whole number from
%                 1 to 2^31 - 1. Only its first element is used.
%
%   Result
%     Y           double matrix of fix(T1) - fix(T0) + 1 rows by K columns,
%                 from zeros: each spike taken, in list order, adds its
%                 source's taps, Y = H + Y, for each output column in turn,
%                 bins ascending. With NSOURCES = 1 the result equals
%                 TRAINFOLD_MEX(SPINDS, H_CURRENTS, TWIN) bit for bit.
%
%   Example
%     trainfold_pop([8; 10.5; 13.2; 14], [1; 2; 1; 2], [1 10; 2 20; 4 40], ...
%                   [10 13], 2)'
%       % 14  20  40  1   (source 1 at 8.0 and 13.2, source 2 at 10.5)
%
%   Errors
%     "trainfold_pop needs 5 input args: spinds, ids, h_currents, twin,
%     nsources"
%     "spinds must be a column vector of spike times (one column)"
%     "ids must be a column vector of source numbers (one column)"
%     "spinds must be a full (non-sparse) double array" (also ids,
%     h_currents, twin, nsources)
%     "twin must hold two values, the first and last bin of the window"
%     "nsources is empty; it must hold the number of source neurons"
%     "h_currents must have at most 2 dimensions ..."
%     "spinds, ids or h_currents has more than 2^31 - 1 rows or columns"
%     "ids must hold one source number per spike time (as many elements as
%     spinds)"
%     "twin values must be numbers within the 32-bit integer range ..."
%     "twin(2) must be at least twin(1) - 1 ..."
%     "the window twin(1) .. twin(2) has more than 2^31 - 1 bins"
%     "nsources must be a whole number from 1 to 2^31 - 1 (not fractional,
%     NaN or Inf)"
%     "h_currents must hold nsources filters per output column: its column
%     count must be a multiple of nsources"
%     "ids must be whole numbers from 1 to nsources (not NaN or Inf)"
%     "the result would be larger than this process can address ..."
%   Complex arguments are accepted and their real parts used.
%
%   Exactness
%     Results are bit-exact: each tap is added with one IEEE double
%     addition, in the order of the spikes in SPINDS.
%
%   See also TRAINFOLD_MEX, TRAINFOLD_POP_ADJOINT.

% This file holds the help text only: the computation is in the compiled
% module trainfold_pop.mex (or .mexa64 etc. in MATLAB) in the same folder.

% Tests (run with "test trainfold_pop"). Results must match to the bit.

%!assert (exist ("trainfold_pop"), 3)

%!# Worked examples: {spinds, ids, h_currents, twin, nsources, expected}.
%!test
%! examples = {
%!   [8; 10.5; 13.2; 14], [1; 2; 1; 2], [1 10; 2 20; 4 40], [10 13], 2, [14; 20; 40; 1]
%!   [5; 3; 5; 3; 5], [1; 2; 1; 2; 1], [0.1 0.5; 1/3 0.25; 0.7 2], [1 9], 2, [0; 0; 1; 0.5; 4.3; 1; 2.0999999999999996; 0; 0]
%!   [8; 10.5; 13.2; 9.1; NaN; 11], [3; 1; 2; 3; 1; 2], [1 3 5 10 30 50; 2 4 6 20 40 60], [10 13], 3, [7 70; 2 20; 0 0; 3 30]
%!   [], zeros(0, 1), [1 2; 3 4], [1 3], 2, zeros(3, 1)
%!   [1; 2], [1; 1], zeros(2, 0), [1 3], 4, zeros(3, 0)
%! };
%! for i = 1:rows (examples)
%!   [spinds, ids, h, twin, n, expected] = examples{i, :};
%!   assert (trainfold_pop (spinds, ids, h, twin, n), expected);
%! endfor

%!# One source is trainfold_mex, bit for bit.
%!test
%! spinds = [0.5; 2.25; 2.75; 7; 3; 9.5; NaN; 4];
%! h = [0.1 1/3; 0.7 -2.5; 1e-3 3; 5 0.2];
%! y = trainfold_pop (spinds, ones (8, 1), h, [1 8], 1);
%! assert (y, trainfold_mex (spinds, h, [1 8]));
%! assert (isequal (num2hex (y), num2hex (trainfold_mex (spinds, h, [1 8]))));

%!error <^trainfold_pop: trainfold_pop needs 5 input args: spinds, ids, h_currents, twin, nsources$> trainfold_pop ([1; 2], [1; 1], [1; 2], [1 2])
%!error <^trainfold_pop: ids must be a column vector of source numbers \(one column\)$> trainfold_pop ([1; 2], [1 1], [1; 2], [1 2], 1)
%!error <^trainfold_pop: ids must be a full \(non-sparse\) double array$> trainfold_pop ([1; 2], int8 ([1; 1]), [1; 2], [1 2], 1)
%!error <^trainfold_pop: nsources is empty; it must hold the number of source neurons$> trainfold_pop ([1; 2], [1; 1], [1; 2], [1 2], [])
%!error <^trainfold_pop: ids must hold one source number per spike time \(as many elements as spinds\)$> trainfold_pop ([1; 2], 1, [1; 2], [1 2], 1)
%!error <^trainfold_pop: nsources must be a whole number from 1 to 2\^31 - 1 \(not fractional, NaN or Inf\)$> trainfold_pop ([1; 2], [1; 1], [1; 2], [1 2], 1.5)
%!error <^trainfold_pop: nsources must be a whole number from 1 to 2\^31 - 1> trainfold_pop ([1; 2], [1; 1], [1; 2], [1 2], 0)
%!error <^trainfold_pop: h_currents must hold nsources filters per output column: its column count must be a multiple of nsources$> trainfold_pop ([1; 2], [1; 1], [1 2 3; 4 5 6], [1 2], 2)
%!error <^trainfold_pop: ids must be whole numbers from 1 to nsources \(not NaN or Inf\)$> trainfold_pop ([1; 2], [1; 0], [1; 2], [1 2], 1)
%!error <^trainfold_pop: ids must be whole numbers from 1 to nsources> trainfold_pop ([1; 2], [1; 3], [1 2; 3 4], [1 2], 2)
%!error <^trainfold_pop: ids must be whole numbers from 1 to nsources> trainfold_pop ([1; 2], [1; 1.5], [1 2; 3 4], [1 2], 2)
%!error <^trainfold_pop: ids must be whole numbers from 1 to nsources> trainfold_pop ([1; 2], [1; NaN], [1 2; 3 4], [1 2], 2)
