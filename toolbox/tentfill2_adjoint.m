%TENTFILL2_ADJOINT The adjoint (transpose) of TENTFILL2 with respect to X.
%   G = TENTFILL2_ADJOINT(R, NBNS) returns, for R of the size of
%   TENTFILL2(X, NBNS), the matrix G of the size of X with
%   sum(sum(TENTFILL2(X, NBNS) .* R)) = sum(sum(X .* G)) for every X, in
%   exact arithmetic: G = A' * R when TENTFILL2(X, NBNS) = A * X. It is the
%   gradient with respect to X of any loss whose gradient with respect to the
%   fine signal is R, computed without building A.
%
%   Arguments
%     R     real double matrix, F rows (fine bins) by N columns, F a
%           multiple of E = fix(NBNS).
%     NBNS  real double: fine bins per coarse bin, as for TENTFILL2, but at
%           least 1 (E >= 1). Only its first element is used; h = 1/NBNS.
%
%   Result
%     G     double matrix of F/E rows by N columns.
%
%   Each coarse sample j of a column sums, starting from +0, the rows of R
%   it feeds in TENTFILL2, in ascending row order, each times its weight:
%   acc = (w*h)*R(row) + acc, w an integer (G+1+i on the head ramp, k+1
%   before sample j, E-1-k after it, E-1-k on the tail ramp, G = fix(E/2)).
%   One form for every column count. A zero weight still multiplies, so an
%   Inf in R reaches the neighbouring sample as NaN.
%
%   Examples
%     tentfill2_adjoint((1:8)', 4)'
%       % 8.25  21.75   (rows 1..6 with weights 3 4 3 2 1 0 quarters, then
%       %                rows 3..8 with weights 1 2 3 4 3 2 quarters)
%     x = [4; 8]; r = (1:8)';
%     sum(tentfill2(x, 4) .* r) == sum(x .* tentfill2_adjoint(r, 4))
%       % 1 (207 on both sides)
%
%   Errors
%     "tentfill2_adjoint needs 2 input args: r, nbns"  not exactly two args
%     "r must be a full (non-sparse) double array"     (also "nbns must be
%                                   ..."): single, integer, logical, char,
%                                   cell, struct and sparse arguments
%     "nbns is empty; ..."                             NBNS = []
%     "r has more than 2^31 - 1 rows or columns"       R too large
%     "nbns must be a number of at least 1 and less than 2^31 (not NaN or
%     Inf)"                                            NBNS out of range
%     "r must have a multiple of fix(nbns) rows ..."   size(R, 1) not a
%                                                      multiple of E
%   A complex R or NBNS is accepted and its real part used.
%
%   Exactness
%     Results are bit-exact and reproducible: every product and sum is one
%     IEEE double operation in the order above, with no fused multiply-add.
%
%   See also TENTFILL2, TRAINFOLD_ADJOINT.

% This file holds the help text only: the computation is in the compiled
% module tentfill2_adjoint.mex (or .mexa64 etc. in MATLAB) in the same
% folder.

% Tests (run with "test tentfill2_adjoint"). Results must match to the bit.

%!assert (exist ("tentfill2_adjoint"), 3)

%!# Worked examples: {r, nbns, expected}.
%!test
%! examples = {
%!   (1:8)', 4, [8.25; 21.75]
%!   [(1:8)' [0.5; -1; 0.25; 2; -3; 0.1; 0.7; 1e-3]], 4, [8.25 -0.1875; 21.75 -0.562]
%!   [1; Inf; 2], 1, [NaN; Inf; 2]              # 0 * Inf is NaN
%!   [-0; -0], 1, [0; 0]                        # sums start from +0
%!   [1; 2; 3; 4], 2.5, [1.6; 4.800000000000001]
%!   [0.1; 0.2; 0.7], 3, 0.7333333333333333
%!   zeros(0, 2), 3, zeros(0, 2)
%!   zeros(6, 0), 3, zeros(2, 0)
%! };
%! for i = 1:rows (examples)
%!   [r, nbns, expected] = examples{i, :};
%!   g = tentfill2_adjoint (r, nbns);
%!   assert (g, expected);
%!   assert (signbit (g(g == 0)), signbit (expected(expected == 0)));
%! endfor

%!# The adjoint identity on integers and power-of-two bin counts (exact).
%!test
%! x = [3 -1; 4 1; -5 9];
%! r = mod (7 * (1:24)', 11) - 5;
%! r = reshape (r, 12, 2);
%! y = tentfill2 (x, 4);
%! assert (sum (sum (y .* r)), sum (sum (x .* tentfill2_adjoint (r, 4))));

%!error <^tentfill2_adjoint: tentfill2_adjoint needs 2 input args: r, nbns$> tentfill2_adjoint ()
%!error <^tentfill2_adjoint: tentfill2_adjoint needs 2 input args: r, nbns$> tentfill2_adjoint ([1; 2], 2, 1)
%!error <^tentfill2_adjoint: r must be a full \(non-sparse\) double array$> tentfill2_adjoint (single ([1; 2]), 2)
%!error <^tentfill2_adjoint: r must be a full \(non-sparse\) double array$> tentfill2_adjoint (sparse ([1; 2]), 2)
%!error <^tentfill2_adjoint: nbns must be a full \(non-sparse\) double array$> tentfill2_adjoint ([1; 2], int32 (2))
%!error <^tentfill2_adjoint: nbns is empty; it must hold the number of fine bins per coarse bin$> tentfill2_adjoint ([1; 2], [])
%!error <^tentfill2_adjoint: r has more than 2\^31 - 1 rows or columns$> tentfill2_adjoint (zeros (0, 2^31), 1)
%!error <^tentfill2_adjoint: nbns must be a number of at least 1 and less than 2\^31 \(not NaN or Inf\)$> tentfill2_adjoint ([1; 2], 0.5)
%!error <^tentfill2_adjoint: nbns must be a number of at least 1 and less than 2\^31 \(not NaN or Inf\)$> tentfill2_adjoint ([1; 2], NaN)
%!error <^tentfill2_adjoint: nbns must be a number of at least 1 and less than 2\^31 \(not NaN or Inf\)$> tentfill2_adjoint ([1; 2], 2^31)
%!error <^tentfill2_adjoint: r must have a multiple of fix\(nbns\) rows> tentfill2_adjoint ([1; 2; 3], 2)
