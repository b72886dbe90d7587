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
