%TRAINFOLD_MULTI Windowed sums of a population's filters onto many targets
%at once, one row per target.
%   Y = TRAINFOLD_MULTI(SPINDS, IDS, H_CURRENTS, TWIN, NSOURCES) places, for
%   every spike of a population of NSOURCES source neurons, its source's
%   filter onto each of K targets at its time and returns, for each target
%   and each time bin of the window TWIN, the sum of the taps that land
%   there: the coupling drive of every target of a population in one pass.
%   The targets run along the rows, so the K values of one bin are next to
%   each other in memory.
%
%   Arguments
%     SPINDS      real double column vector of spike times, in any order,
%                 with TRAINFOLD_POP's rules.
%     IDS         real double column vector, one element per spike: the
%                 source of each spike, a whole number from 1 to NSOURCES.
%     H_CURRENTS  real double matrix of K rows (targets) by C*NSOURCES
%                 columns: H_CURRENTS(k, (j-1)*C + q) is tap q of source
%                 j's filter onto target k (C = columns / NSOURCES taps).
%     TWIN        [T0 T1], the window, as for TRAINFOLD_MEX.
%     NSOURCES    real double: the number of sources N, a whole number from
%                 1 to 2^31 - 1. Only its first element is used.
%
%   Result
%     Y           double matrix of K rows by fix(T1) - fix(T0) + 1 columns
%                 (the window's bins), from zeros: each spike taken, in list
%                 order (bin B, source j), adds for each bin t it reaches
%                 ascending and each target k, Y(k, t-T0+1) =
%                 H_CURRENTS(k, (j-1)*C + t-B+1) + Y(k, t-T0+1). Row k equals
%                 TRAINFOLD_POP(SPINDS, IDS, reshape(H_CURRENTS(k, :), C, N),
%                 TWIN, NSOURCES)' bit for bit.
%
%   Example
%     trainfold_multi([8; 10.5; 13.2; 14], [1; 2; 1; 2], ...
%                     [1 2 10 20; 3 4 30 40], [10 13], 2)
%       % [10 20 0 1; 30 40 0 3]   (source 2 at 10.5, source 1 at 13.2)
%
%   Errors
%     "trainfold_multi needs 5 input args: spinds, ids, h_currents, twin,
%     nsources"
%     those of TRAINFOLD_POP, except that a column count of H_CURRENTS that
%     is not a multiple of NSOURCES is refused with
%     "h_currents must hold the same number of taps for each of nsources
%     sources: its column count must be a multiple of nsources"
%   Complex arguments are accepted and their real parts used.
%
%   Exactness
%     Results are bit-exact: each tap is added with one IEEE double
%     addition, in the order of the spikes in SPINDS.
%
%   See also TRAINFOLD_POP, TRAINFOLD_MULTI_ADJOINT.

% This file holds the help text only: the computation is in the compiled
% module trainfold_multi.mex (or .mexa64 etc. in MATLAB) in the same folder.

% Tests (run with "test trainfold_multi"). Results must match to the bit.

%!assert (exist ("trainfold_multi"), 3)

%!# Worked examples: {spinds, ids, h_currents, twin, nsources, expected}.
%!test
%! examples = {
%!   [8; 10.5; 13.2; 14], [1; 2; 1; 2], [1 2 10 20; 3 4 30 40], [10 13], 2, [10 20 0 1; 30 40 0 3]
%!   [8; 10.5; 13.2; 14], [1; 2; 1; 2], [1 2 4 10 20 40], [10 13], 2, [14 20 40 1]
%!   [5; 3; 5; 3; 5], [1; 2; 1; 2; 1], [0.1 1/3 0.7 0.5 0.25 2], [1 9], 2, [0 0 1 0.5 4.3 1 2.0999999999999996 0 0]
%!   [], zeros(0, 1), [1 2; 3 4], [1 3], 2, zeros(2, 3)
%!   [1; 2], [1; 1], zeros(3, 0), [1 3], 4, zeros(3, 3)
%!   [1; 2], [1; 1], zeros(0, 4), [1 3], 2, zeros(0, 3)
%! };
%! for i = 1:rows (examples)
%!   [spinds, ids, h, twin, n, expected] = examples{i, :};
%!   assert (trainfold_multi (spinds, ids, h, twin, n), expected);
%! endfor

%!# Row k is trainfold_pop of target k's filters, bit for bit: spikes out of
%!# order, repeated, NaN-ended, on a 30 kHz clock in 1 ms bins far from 0.
%!test
%! t0 = 86400000;
%! spinds = t0 + [0.5; 2.25; 2.75; 7; 3; 9.5; 9.5; 4 + 1/30; NaN; 4];
%! ids = [1; 3; 2; 1; 3; 3; 2; 1; 2; 1];
%! c = 4; N = 3; K = 5;
%! h = reshape (mod (37 * (1:K*c*N)', 23) / 7 - 1.5, K, c * N);
%! y = trainfold_multi (spinds, ids, h, t0 + [1 8], N);
%! assert (size (y), [K 8]);
%! for k = 1:K
%!   one = trainfold_pop (spinds, ids, reshape (h(k, :), c, N), t0 + [1 8], N);
%!   assert (isequal (num2hex (y(k, :)'), num2hex (one)));
%! endfor

%!error <^trainfold_multi: trainfold_multi needs 5 input args: spinds, ids, h_currents, twin, nsources$> trainfold_multi ([1; 2], [1; 1], [1 2], [1 2])
%!error <^trainfold_multi: ids must be a column vector of source numbers \(one column\)$> trainfold_multi ([1; 2], [1 1], [1 2], [1 2], 1)
%!error <^trainfold_multi: h_currents must be a full \(non-sparse\) double array$> trainfold_multi ([1; 2], [1; 1], single ([1 2]), [1 2], 1)
%!error <^trainfold_multi: ids must hold one source number per spike time \(as many elements as spinds\)$> trainfold_multi ([1; 2], 1, [1 2], [1 2], 1)
%!error <^trainfold_multi: nsources must be a whole number from 1 to 2\^31 - 1 \(not fractional, NaN or Inf\)$> trainfold_multi ([1; 2], [1; 1], [1 2], [1 2], 0)
%!error <^trainfold_multi: h_currents must hold the same number of taps for each of nsources sources: its column count must be a multiple of nsources$> trainfold_multi ([1; 2], [1; 1], [1 2 3; 4 5 6], [1 2], 2)
%!error <^trainfold_multi: ids must be whole numbers from 1 to nsources \(not NaN or Inf\)$> trainfold_multi ([1; 2], [1; 3], [1 2; 3 4], [1 2], 2)
%!error <^trainfold_multi: twin\(2\) must be at least twin\(1\) - 1> trainfold_multi ([1; 2], [1; 1], [1 2], [5 2], 1)
