%TRAINFOLD_POP_ADJOINT The adjoint (transpose) of TRAINFOLD_POP with respect
%to the filters.
%   G = TRAINFOLD_POP_ADJOINT(SPINDS, IDS, R, TWIN, NTAPS, NSOURCES) returns,
%   for R of the size of TRAINFOLD_POP(SPINDS, IDS, H, TWIN, NSOURCES), the
%   NTAPS by NSOURCES*K matrix G with
%   sum(sum(TRAINFOLD_POP(SPINDS, IDS, H, TWIN, NSOURCES) .* R)) =
%   sum(sum(H .* G)) for every H of that size, in exact arithmetic: in a
%   Poisson GLM fit, the gradient with respect to every source's filter taps,
%   with R the residual.
%
%   Arguments
%     SPINDS, IDS, TWIN, NSOURCES   as for TRAINFOLD_POP.
%     R       real double matrix of fix(TWIN(2)) - fix(TWIN(1)) + 1 rows (the
%             window's bins) by K columns.
%     NTAPS   real double: the number of filter taps c, a whole number from 0
%             to 2^31 - 1. Only its first element is used.
%
%   Result
%     G       double matrix of NTAPS rows by NSOURCES*K columns, from zeros:
%             for each spike taken (in list order, bin B, source j), each
%             column k and each bin t of the window from max(B, T0) to
%             min(B + c - 1, T1) ascending, with col = (k-1)*NSOURCES + j,
%             G(t - B + 1, col) = R(t - T0 + 1, k) + G(t - B + 1, col).
%             With NSOURCES = 1 the result equals
%             TRAINFOLD_ADJOINT(SPINDS, R, TWIN, NTAPS) bit for bit.
%
%   Example
%     trainfold_pop_adjoint([8; 10.5; 13.2; 14], [1; 2; 1; 2], [1; 2; 4; 8], ...
%                           [10 13], 3, 2)
%       % [8 1; 0 2; 1 4]
%
%   Errors
%     "trainfold_pop_adjoint needs 6 input args: spinds, ids, r, twin, ntaps,
%     nsources"
%     those of TRAINFOLD_POP for SPINDS, IDS, TWIN and NSOURCES, those of
%     TRAINFOLD_ADJOINT for R and NTAPS, and
%     "the result would have more than 2^31 - 1 columns (nsources *
%     size(r, 2))"
%   Complex arguments are accepted and their real parts used.
%
%   See also TRAINFOLD_POP, TRAINFOLD_ADJOINT.

% This file holds the help text only: the computation is in the compiled
% module trainfold_pop_adjoint.mex (or .mexa64 etc. in MATLAB) in the same
% folder.

% Tests (run with "test trainfold_pop_adjoint"). Results must match to the
% bit.

%!assert (exist ("trainfold_pop_adjoint"), 3)

%!# Worked examples: {spinds, ids, r, twin, ntaps, nsources, expected}.
%!test
%! order_r = [0.5; 0.25; 0.7; 1/3; 0.1; 2; 3; 4; 5];
%! examples = {
%!   [8; 10.5; 13.2; 14], [1; 2; 1; 2], [1; 2; 4; 8], [10 13], 3, 2, [8 1; 0 2; 1 4]
%!   [5; 3; 5; 3; 5], [1; 2; 1; 2; 1], order_r, [1 9], 3, 2, [0.30000000000000004 1.4; 6 0.6666666666666666; 9 0.2]
%!   [8; 10.5; 13.2; 9.1; NaN; 11], [3; 1; 2; 3; 1; 2], [1 16; 2 32; 4 64; 8 128], [10 13], 2, 3, [1 8 0 16 128 0; 2 0 1 32 0 16]
%!   [1; 2], [1; 2], [1 2; 3 4; 5 6], [1 3], 0, 2, zeros(0, 4)
%!   [], zeros(0, 1), [1; 2; 3], [1 3], 2, 3, zeros(2, 3)
%! };
%! for i = 1:rows (examples)
%!   [spinds, ids, r, twin, ntaps, n, expected] = examples{i, :};
%!   assert (trainfold_pop_adjoint (spinds, ids, r, twin, ntaps, n), expected);
%! endfor

%!# One source is trainfold_adjoint, bit for bit; the adjoint identity.
%!test
%! spinds = [-3.5; 0; 2.7; 2.2; 6; 9.9; NaN; 4];
%! r = reshape (mod (7 * (1:12)', 11) - 5, 6, 2);
%! g = trainfold_pop_adjoint (spinds, ones (8, 1), r, [1 6], 4, 1);
%! assert (isequal (num2hex (g), num2hex (trainfold_adjoint (spinds, r, [1 6], 4))));
%! ids = [1; 2; 2; 1; 2; 1; 1; 2];
%! h = [1 5 0 2; -2 0.5 1 -1; 3 7 2 0; 5 -1 -3 4];
%! y = trainfold_pop (spinds, ids, h, [1 6], 2);
%! g = trainfold_pop_adjoint (spinds, ids, r, [1 6], 4, 2);
%! assert (sum (sum (y .* r)), sum (sum (h .* g)));

%!error <^trainfold_pop_adjoint: trainfold_pop_adjoint needs 6 input args: spinds, ids, r, twin, ntaps, nsources$> trainfold_pop_adjoint ([1; 2], [1; 1], [1; 2], [1 2], 2)
%!error <^trainfold_pop_adjoint: ids must be a column vector of source numbers \(one column\)$> trainfold_pop_adjoint ([1; 2], [1 1], [1; 2], [1 2], 2, 1)
%!error <^trainfold_pop_adjoint: nsources must be a full \(non-sparse\) double array$> trainfold_pop_adjoint ([1; 2], [1; 1], [1; 2], [1 2], 2, single (1))
%!error <^trainfold_pop_adjoint: ids must hold one source number per spike time> trainfold_pop_adjoint ([1; 2], [1; 1; 1], [1; 2], [1 2], 2, 1)
%!error <^trainfold_pop_adjoint: r must have one row per bin of the window> trainfold_pop_adjoint ([1; 2], [1; 1], [1; 2; 3], [1 2], 2, 1)
%!error <^trainfold_pop_adjoint: nsources must be a whole number from 1 to 2\^31 - 1> trainfold_pop_adjoint ([1; 2], [1; 1], [1; 2], [1 2], 2, NaN)
%!error <^trainfold_pop_adjoint: the result would have more than 2\^31 - 1 columns \(nsources \* size\(r, 2\)\)$> trainfold_pop_adjoint ([1; 2], [1; 1], zeros (2, 4), [1 2], 2, 2^30)
%!error <^trainfold_pop_adjoint: ids must be whole numbers from 1 to nsources \(not NaN or Inf\)$> trainfold_pop_adjoint ([1; 2], [1; Inf], [1; 2], [1 2], 2, 1)
