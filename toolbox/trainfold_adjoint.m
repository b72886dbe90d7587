%TRAINFOLD_ADJOINT The adjoint (transpose) of TRAINFOLD_MEX with respect to
%the filters.
%   G = TRAINFOLD_ADJOINT(SPINDS, R, TWIN, NTAPS) returns, for R of the size
%   of TRAINFOLD_MEX(SPINDS, H, TWIN), the NTAPS-row matrix G with
%   sum(sum(TRAINFOLD_MEX(SPINDS, H, TWIN) .* R)) = sum(sum(H .* G)) for every
%   H of NTAPS taps, in exact arithmetic: G = X' * R for the design matrix X
%   of the spike train, computed without building X. In a Poisson GLM fit it
%   is the gradient with respect to the filter taps, with R the residual.
%
%   Arguments
%     SPINDS  real double column vector of spike times, ascending, as for
%             TRAINFOLD_MEX (leading spikes that cannot reach the window are
%             skipped, the scan stops at the first spike at or past
%             fix(TWIN(2)) + 1 or at a NaN).
%     R       real double matrix of fix(TWIN(2)) - fix(TWIN(1)) + 1 rows (the
%             window's bins) by M columns.
%     TWIN    [T0 T1], the window, as for TRAINFOLD_MEX.
%     NTAPS   real double: the number of filter taps c, a whole number from 0
%             to 2^31 - 1. Only its first element is used.
%
%   Result
%     G       double matrix of NTAPS rows by M columns, from zeros: for each
%             spike taken (in list order, bin B), each column and each bin t
%             of the window from max(B, T0) to min(B + c - 1, T1) ascending,
%             G(t - B + 1, m) = R(t - T0 + 1, m) + G(t - B + 1, m).
%
%   Examples
%     trainfold_adjoint([8.0; 10.5; 13.2; 14.0], [1; 2; 4; 8], [10 13], 3)'
%       % 9  2  5   (tap 1 gets bin 10 from 10.5 and bin 13 from 13.2)
%
%   Errors
%     "trainfold_adjoint needs 4 input args: spinds, r, twin, ntaps"
%     "spinds must be a column vector of spike times (one column)"
%     "spinds must be a full (non-sparse) double array" (also r, twin, ntaps)
%     "twin must hold two values, the first and last bin of the window"
%     "ntaps is empty; it must hold the number of filter taps"
%     "spinds or r has more than 2^31 - 1 rows or columns"
%     "twin values must be numbers within the 32-bit integer range ..."
%     "twin(2) must be at least twin(1) - 1 ..."
%     "the window twin(1) .. twin(2) has more than 2^31 - 1 bins"
%     "ntaps must be a whole number from 0 to 2^31 - 1 (not negative,
%     fractional, NaN or Inf)"
%     "r must have one row per bin of the window: ..."
%   A complex argument is accepted and its real part used.
%
%   Exactness
%     Results are bit-exact: each addition is one IEEE double operation in
%     the order above; listing the same spikes in another order can change
%     the last bit.
%
%   See also TRAINFOLD_MEX, TENTFILL2_ADJOINT.

% This file holds the help text only: the computation is in the compiled
% module trainfold_adjoint.mex (or .mexa64 etc. in MATLAB) in the same
% folder.

% Tests (run with "test trainfold_adjoint"). Results must match to the bit.

%!assert (exist ("trainfold_adjoint"), 3)

%!# Worked examples: {spinds, r, twin, ntaps, expected}.
%!test
%! order_r = [0.5; 0.25; 0.7; 1/3; 0.1; 2; 3; 4; 5];
%! examples = {
%!   [8.0; 10.5; 13.2; 14.0], [1; 2; 4; 8], [10 13], 3, [9; 2; 5]
%!   [5; 3; 5; 3; 5], order_r, [1 9], 3, [1.7; 6.666666666666667; 9.2]
%!   [3; 3; 5; 5; 5], order_r, [1 9], 3, [1.7000000000000002; 6.666666666666666; 9.2]
%!   [-1.5; -1.0; -0.5], [1; 2; 4; 8; 16], [1 5], 3, [0; 1; 3]
%!   [2; NaN; 3], [1; 2; 4; 8], [1 4], 2, [2; 4]
%!   [0; 2.5; 3], [1 0.5; 2 0.25; 4 -1; 8 3], [1 4], 4, [6 -0.75; 13 2.5; 10 3.25; 4 -1]
%!   [1; 2], [1 2; 3 4; 5 6], [1 3], 0, zeros(0, 2)
%!   [], [1; 2; 3], [1 3], 2, [0; 0]
%!   [1; 2], zeros(0, 1), [5 4], 2, [0; 0]
%! };
%! for i = 1:rows (examples)
%!   [spinds, r, twin, ntaps, expected] = examples{i, :};
%!   assert (trainfold_adjoint (spinds, r, twin, ntaps), expected);
%! endfor

%!# The adjoint identity on integers (exact).
%!test
%! spinds = [-3.5; 0; 2.7; 2.2; 6; 9.9; NaN; 4];
%! h = [1 5; -2 0.5; 3 7; 5 -1];
%! r = mod (7 * (1:24)', 11) - 5;
%! r = reshape (r(1:12), 6, 2);
%! y = trainfold_mex (spinds, h, [1 6]);
%! assert (sum (sum (y .* r)), sum (sum (h .* trainfold_adjoint (spinds, r, [1 6], 4))));

%!error <^trainfold_adjoint: trainfold_adjoint needs 4 input args: spinds, r, twin, ntaps$> trainfold_adjoint ([1; 2], [1; 2], [1 2])
%!error <^trainfold_adjoint: spinds must be a column vector of spike times \(one column\)$> trainfold_adjoint ([1 2], [1; 2], [1 2], 2)
%!error <^trainfold_adjoint: r must be a full \(non-sparse\) double array$> trainfold_adjoint ([1; 2], single ([1; 2]), [1 2], 2)
%!error <^trainfold_adjoint: ntaps must be a full \(non-sparse\) double array$> trainfold_adjoint ([1; 2], [1; 2], [1 2], int8 (2))
%!error <^trainfold_adjoint: twin must hold two values, the first and last bin of the window$> trainfold_adjoint ([1; 2], [1; 2], 1, 2)
%!error <^trainfold_adjoint: ntaps is empty; it must hold the number of filter taps$> trainfold_adjoint ([1; 2], [1; 2], [1 2], [])
%!error <^trainfold_adjoint: twin\(2\) must be at least twin\(1\) - 1> trainfold_adjoint ([1; 2], zeros (0, 1), [5 3], 2)
%!error <^trainfold_adjoint: ntaps must be a whole number from 0 to 2\^31 - 1 \(not negative, fractional, NaN or Inf\)$> trainfold_adjoint ([1; 2], [1; 2], [1 2], 2.5)
%!error <^trainfold_adjoint: ntaps must be a whole number from 0 to 2\^31 - 1> trainfold_adjoint ([1; 2], [1; 2], [1 2], -1)
%!error <^trainfold_adjoint: ntaps must be a whole number from 0 to 2\^31 - 1> trainfold_adjoint ([1; 2], [1; 2], [1 2], NaN)
%!error <^trainfold_adjoint: ntaps must be a whole number from 0 to 2\^31 - 1> trainfold_adjoint ([1; 2], [1; 2], [1 2], 2^31)
%!error <^trainfold_adjoint: r must have one row per bin of the window> trainfold_adjoint ([1; 2], [1; 2; 3], [1 2], 2)
