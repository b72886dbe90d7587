%TRAINFOLD_MULTI_ADJOINT The adjoint (transpose) of TRAINFOLD_MULTI with
%respect to the filters.
%   G = TRAINFOLD_MULTI_ADJOINT(SPINDS, IDS, R, TWIN, NTAPS, NSOURCES)
%   returns, for R of the size of TRAINFOLD_MULTI(SPINDS, IDS, H, TWIN,
%   NSOURCES) (K targets by the window's bins), the K by NTAPS*NSOURCES
%   matrix G with sum(sum(TRAINFOLD_MULTI(SPINDS, IDS, H, TWIN, NSOURCES)
%   .* R)) = sum(sum(H .* G)) for every H of that size, in exact arithmetic:
%   in a Poisson GLM fit, the gradient of every target with respect to every
%   source's filter taps, with R the residuals, one row per target.
%
%   Arguments
%     SPINDS, IDS, TWIN, NSOURCES   as for TRAINFOLD_MULTI.
%     R       real double matrix of K rows (targets) by fix(TWIN(2)) -
%             fix(TWIN(1)) + 1 columns (the window's bins).
%     NTAPS   real double: the number of filter taps c, a whole number from 0
%             to 2^31 - 1. Only its first element is used.
%
%   Result
%     G       double matrix of K rows by NTAPS*NSOURCES columns, from zeros:
%             for each spike taken (in list order, bin B, source j), each
%             bin t of the window from max(B, T0) to min(B + c - 1, T1)
%             ascending and each target k, with col = (j-1)*NTAPS + t-B+1,
%             G(k, col) = R(k, t - T0 + 1) + G(k, col). Row k equals
%             reshape(TRAINFOLD_POP_ADJOINT(SPINDS, IDS, R(k, :)', TWIN,
%             NTAPS, NSOURCES), 1, []) bit for bit.
%
%   Example
%     trainfold_multi_adjoint([8; 10.5; 13.2; 14], [1; 2; 1; 2], ...
%                             [1 2 4 8; 16 32 64 128], [10 13], 2, 2)
%       % [8 0 1 2; 128 0 16 32]
%
%   Errors
%     "trainfold_multi_adjoint needs 6 input args: spinds, ids, r, twin,
%     ntaps, nsources"
%     those of TRAINFOLD_POP_ADJOINT, except
%     "r must have one column per bin of the window: fix(twin(2)) -
%     fix(twin(1)) + 1 columns"
%     "the result would have more than 2^31 - 1 columns (ntaps * nsources)"
%   Complex arguments are accepted and their real parts used.
%
%   See also TRAINFOLD_MULTI, TRAINFOLD_POP_ADJOINT.

% This file holds the help text only: the computation is in the compiled
% module trainfold_multi_adjoint.mex (or .mexa64 etc. in MATLAB) in the same
% folder.

% Tests (run with "test trainfold_multi_adjoint"). Results must match to the
% bit.

%!assert (exist ("trainfold_multi_adjoint"), 3)

%!# Worked examples: {spinds, ids, r, twin, ntaps, nsources, expected}.
%!test
%! examples = {
%!   [8; 10.5; 13.2; 14], [1; 2; 1; 2], [1 2 4 8; 16 32 64 128], [10 13], 2, 2, [8 0 1 2; 128 0 16 32]
%!   [8; 10.5; 13.2; 14], [1; 2; 1; 2], [1 2 4 8], [10 13], 3, 2, [8 0 1 1 2 4]
%!   [1; 2], [1; 2], [1 2 3; 4 5 6], [1 3], 0, 2, zeros(2, 0)
%!   [], zeros(0, 1), [1 2 3], [1 3], 2, 3, zeros(1, 6)
%!   [1; 2], [1; 1], zeros(0, 3), [1 3], 2, 2, zeros(0, 4)
%! };
%! for i = 1:rows (examples)
%!   [spinds, ids, r, twin, ntaps, n, expected] = examples{i, :};
%!   assert (trainfold_multi_adjoint (spinds, ids, r, twin, ntaps, n), expected);
%! endfor

%!# Row k is trainfold_pop_adjoint of target k's residuals, bit for bit, and
%!# the adjoint identity with trainfold_multi.
%!test
%! t0 = 86400000;
%! spinds = t0 + [-3.5; 0; 2.7; 2.2; 6; 9.9; 9.9; NaN; 4];
%! ids = [1; 2; 2; 1; 3; 1; 3; 1; 2];
%! c = 4; N = 3; K = 5;
%! r = reshape (mod (7 * (1:K*6)', 11) / 3 - 1.75, K, 6);
%! g = trainfold_multi_adjoint (spinds, ids, r, t0 + [1 6], c, N);
%! assert (size (g), [K c*N]);
%! for k = 1:K
%!   one = trainfold_pop_adjoint (spinds, ids, r(k, :)', t0 + [1 6], c, N);
%!   assert (isequal (num2hex (g(k, :)'), num2hex (one(:))));
%! endfor
%! h = reshape (mod (5 * (1:K*c*N)', 13) - 6, K, c * N);
%! y = trainfold_multi (spinds, ids, h, t0 + [1 6], N);
%! assert (sum (sum (y .* r)), sum (sum (h .* g)), 1e-9);

%!error <^trainfold_multi_adjoint: trainfold_multi_adjoint needs 6 input args: spinds, ids, r, twin, ntaps, nsources$> trainfold_multi_adjoint ([1; 2], [1; 1], [1 2], [1 2], 2)
%!error <^trainfold_multi_adjoint: nsources must be a full \(non-sparse\) double array$> trainfold_multi_adjoint ([1; 2], [1; 1], [1 2], [1 2], 2, single (1))
%!error <^trainfold_multi_adjoint: r must have one column per bin of the window: fix\(twin\(2\)\) - fix\(twin\(1\)\) \+ 1 columns$> trainfold_multi_adjoint ([1; 2], [1; 1], [1; 2], [1 2], 2, 1)
%!error <^trainfold_multi_adjoint: ntaps must be a whole number from 0 to 2\^31 - 1> trainfold_multi_adjoint ([1; 2], [1; 1], [1 2], [1 2], 2.5, 1)
%!error <^trainfold_multi_adjoint: nsources must be a whole number from 1 to 2\^31 - 1> trainfold_multi_adjoint ([1; 2], [1; 1], [1 2], [1 2], 2, NaN)
%!error <^trainfold_multi_adjoint: the result would have more than 2\^31 - 1 columns \(ntaps \* nsources\)$> trainfold_multi_adjoint ([1; 2], [1; 1], zeros (4, 2), [1 2], 4, 2^30)
%!error <^trainfold_multi_adjoint: ids must be whole numbers from 1 to nsources \(not NaN or Inf\)$> trainfold_multi_adjoint ([1; 2], [1; Inf], [1 2], [1 2], 2, 1)
