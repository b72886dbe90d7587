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
