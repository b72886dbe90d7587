% In-host benchmark of tentfill2 and trainfold_mex, one run, same-run ratios.
%
%   octave-cli -q benchmarks/host_benchmark.m <octave_modules> <benchmark_modules> [python3]
%
% For every workload, contenders are timed in interleaved rounds (one sample
% of each per round) and the medians of the rounds are compared. The module
% is timed twice: in rounds with the create-only module alone (module / floor)
% and in rounds with the alternatives (contender / module), so that the large
% allocations of the alternatives do not change the heap the floor comparison
% sees. Contenders:
%   create-only  a benchmark-only module that creates the same result and
%                returns: the host's floor for the call
%   octave:*     the fastest vectorised Octave code found for the same result
%   numpy:*, scipy:*  numpy/scipy code timed by host_benchmark_numpy.py, run
%                from here (when the given python3 has numpy and scipy)
% A ratio above 1 means slower than the module. "module / floor" is the
% module's median over the create-only module's median. The alternatives
% compute the same values up to rounding (max |diff| is printed), not the
% same bits.

1;

% Median seconds per call of each contender, sampled in interleaved rounds.
% Each sample runs a contender `inner` times (chosen so a sample lasts at
% least 2 ms) and divides.
function medians = time_interleaved(calls, budget_seconds)
  count = numel(calls);
  estimate = zeros(1, count);
  for c = 1:count
    y = calls{c}();  % warm-up: code paths, allocator, caches
    clear y;
    start = tic;
    y = calls{c}();
    estimate(c) = max(toc(start), 1e-7);
    clear y;
  end
  inner = max(1, ceil(2e-3 ./ estimate));
  round_seconds = sum(inner .* estimate);
  rounds = min(25, max(5, floor(budget_seconds / round_seconds)));
  samples = zeros(rounds, count);
  for r = 1:rounds
    for c = 1:count
      f = calls{c};
      n = inner(c);
      start = tic;
      for i = 1:n
        y = f();
      end
      samples(r, c) = toc(start) / n;
      clear y;
    end
  end
  medians = median(samples, 1);
end

% --- upsampling alternatives (same values as tentfill2 up to rounding) -----

% Zero-insertion by E and a triangular FIR filter in one call (signal package).
function y = upsample_upfirdn(x, nbns)
  E = fix(nbns);
  G = fix(E / 2);
  f = [1:E, E-1:-1:1]' / nbns;
  u = upfirdn(x, f, E, 1);
  y = u(G+1:G+rows(x)*E, :);
end

% Zero-insertion by E, then conv2 with the triangle, column by column.
function y = upsample_conv2(x, nbns)
  E = fix(nbns);
  G = fix(E / 2);
  m = rows(x);
  f = [1:E, E-1:-1:1]' / nbns;
  u = zeros(m * E, columns(x));
  u(1:E:end, :) = x;
  v = conv2(u, f);
  y = v(G+1:G+m*E, :);
end

% The interpolation formula written out with broadcasting: the weights of
% every gap between neighbouring (zero-padded) samples, as an E x gaps x
% columns array, then the first G and last E-G rows dropped.
function y = upsample_broadcast(x, nbns)
  E = fix(nbns);
  G = fix(E / 2);
  [m, n] = size(x);
  h = 1 / nbns;
  k = (0:E-1)';
  xp = [zeros(1, n); x; zeros(1, n)];
  before = reshape(xp(1:end-1, :), 1, m + 1, n);
  after = reshape(xp(2:end, :), 1, m + 1, n);
  if n == 1
    a = ((E - 1 - k) .* before + (k + 1) .* after) * h;
  else
    a = ((E - 1 - k) * h) .* before + ((k + 1) * h) .* after;
  end
  a = reshape(a, E * (m + 1), n);
  y = a(G+1:G+m*E, :);
end

% --- spike-sum alternatives (same values as trainfold_mex up to rounding) --

% Bins of the spikes that reach the window, the window's start and size.
function [bins, first, rows_out] = reaching_bins(spinds, c, twin)
  first = fix(twin(1));
  last = fix(twin(2));
  rows_out = last - first + 1;
  bins = fix(spinds);
  bins = bins(bins >= first - c + 1 & bins <= last);
end

% A sparse (window bins x taps) count matrix times the filter bank.
function y = spike_sparse(spinds, h_currents, twin)
  c = rows(h_currents);
  [bins, first, rows_out] = reaching_bins(spinds, c, twin);
  r = bins - first + 1 + (0:c-1);   % spikes x taps: output row of each tap
  q = repmat(1:c, numel(bins), 1);
  keep = r >= 1 & r <= rows_out;
  y = full(sparse(r(keep), q(keep), 1, rows_out, c) * h_currents);
end

% accumarray of every tap addition, all filters at once.
function y = spike_accumarray(spinds, h_currents, twin)
  [c, K] = size(h_currents);
  [bins, first, rows_out] = reaching_bins(spinds, c, twin);
  r = bins - first + 1 + (0:c-1);
  q = repmat(1:c, numel(bins), 1);
  keep = r >= 1 & r <= rows_out;
  r = r(keep);
  q = q(keep);
  y = zeros(rows_out, K);
  for k = 1:K
    y(:, k) = accumarray(r, h_currents(q, k), [rows_out, 1]);
  end
end

% The spike count per bin convolved with each filter by FFT, window kept.
function y = spike_fft(spinds, h_currents, twin)
  c = rows(h_currents);
  [bins, first, rows_out] = reaching_bins(spinds, c, twin);
  len = rows_out + c - 1;   % bins first-c+1 .. last
  s = accumarray(bins - (first - c + 1) + 1, 1, [len, 1]);
  n = 2 ^ nextpow2(len + c - 1);
  v = real(ifft(fft(s, n) .* fft(h_currents, n)));
  y = v(c:c+rows_out-1, :);
end

% The spike count per bin convolved with each filter by conv2 (direct).
function y = spike_conv2(spinds, h_currents, twin)
  [c, K] = size(h_currents);
  [bins, first, rows_out] = reaching_bins(spinds, c, twin);
  len = rows_out + c - 1;
  s = accumarray(bins - (first - c + 1) + 1, 1, [len, 1]);
  y = zeros(rows_out, K);
  for k = 1:K
    y(:, k) = conv2(s, h_currents(:, k), 'valid');
  end
end

% --- the run -----------------------------------------------------------------

args = argv();
if numel(args) < 2
  error('usage: host_benchmark.m <octave_modules> <benchmark_modules> [python3]');
end
addpath(args{1});
addpath(args{2});
python = '';
if numel(args) >= 3
  python = args{3};
end
script_dir = fileparts(mfilename('fullpath'));
have_signal = false;
try
  pkg load signal
  have_signal = exist('upfirdn') > 0;
catch
end

rand('state', 1);
U = {'U1', 100000, 1, 20; 'U2', 20000, 16, 50; 'U3', 1000, 1, 10};
S = {'S1', 2000, 1e6, 500, 1, [0 999999]; ...
     'S2', 50000, 1e6, 200, 10, [0 999999]; ...
     'S3', 100, 1000, 50, 2, [0 999]};

budget = 8;  % seconds of timing per workload
hugetlb = getenv('GLIBC_TUNABLES');
if isempty(hugetlb)
  hugetlb = '(not set: 4 KiB pages)';
end
printf('GLIBC_TUNABLES=%s\n', hugetlb);
printf('| workload | module ms | floor ms | module / floor | contender | contender / module | max abs diff |\n');
printf('|---|---:|---:|---:|---|---:|---:|\n');

% numpy/scipy medians, one line per "workload contender seconds".
py_results = struct('workload', {}, 'name', {}, 'seconds', {});
if ~isempty(python)
  [status, out] = system(sprintf('"%s" "%s/host_benchmark_numpy.py"', ...
                                 python, script_dir));
  if status == 0
    lines = strsplit(strtrim(out), "\n");
    for i = 1:numel(lines)
      parts = strsplit(strtrim(lines{i}));
      if numel(parts) == 3
        py_results(end+1) = struct('workload', parts{1}, 'name', parts{2}, ...
                                   'seconds', str2double(parts{3}));
      end
    end
  else
    printf('(numpy/scipy companion not run: %s)\n', strtrim(out));
  end
end

% Times calls{1} (the module) against calls{2} (the floor), then against
% calls{3:end}; prints the table rows.
function bench_workload(name, labels, calls, diffs, py_results, budget)
  floor_medians = time_interleaved(calls(1:2), budget / 3);
  medians = time_interleaved(calls([1, 3:end]), budget);
  module = floor_medians(1);
  floor_time = floor_medians(2);
  medians = [medians(1), floor_time, medians(2:end)];
  first = true;
  for c = 3:numel(labels)
    if first
      printf('| %s | %.3f | %.3f | %.2f | %s | %.2f | %.1e |\n', name, ...
             1e3 * module, 1e3 * floor_time, module / floor_time, ...
             labels{c}, medians(c) / medians(1), diffs(c));
      first = false;
    else
      printf('| | | | | %s | %.2f | %.1e |\n', labels{c}, ...
             medians(c) / medians(1), diffs(c));
    end
  end
  for i = 1:numel(py_results)
    if strcmp(py_results(i).workload, name)
      printf('| | | | | %s | %.2f | |\n', py_results(i).name, ...
             py_results(i).seconds / medians(1));
    end
  end
end

for w = 1:rows(U)
  [name, m, n, nbns] = U{w, :};
  x = rand(m, n) * 2 - 1;
  labels = {'tentfill2', 'create-only', 'octave:broadcast', 'octave:conv2'};
  calls = {@() tentfill2(x, nbns), @() tentfill2_create_only(x, nbns), ...
           @() upsample_broadcast(x, nbns), @() upsample_conv2(x, nbns)};
  if have_signal
    labels{end+1} = 'octave:upfirdn';
    calls{end+1} = @() upsample_upfirdn(x, nbns);
  end
  reference = tentfill2(x, nbns);
  diffs = zeros(1, numel(calls));
  for c = 3:numel(calls)
    diffs(c) = max(abs(calls{c}()(:) - reference(:)));
  end
  clear reference;
  bench_workload(name, labels, calls, diffs, py_results, budget);
end

for w = 1:rows(S)
  [name, spikes, spread, c, K, twin] = S{w, :};
  spinds = sort(rand(spikes, 1) * spread);
  h_currents = rand(c, K) * 2 - 1;
  labels = {'trainfold_mex', 'create-only', 'octave:sparse', ...
            'octave:accumarray', 'octave:fft', 'octave:conv2'};
  calls = {@() trainfold_mex(spinds, h_currents, twin), ...
           @() trainfold_create_only(spinds, h_currents, twin), ...
           @() spike_sparse(spinds, h_currents, twin), ...
           @() spike_accumarray(spinds, h_currents, twin), ...
           @() spike_fft(spinds, h_currents, twin), ...
           @() spike_conv2(spinds, h_currents, twin)};
  reference = trainfold_mex(spinds, h_currents, twin);
  diffs = zeros(1, numel(calls));
  for c = 3:numel(calls)
    diffs(c) = max(abs(calls{c}()(:) - reference(:)));
  end
  clear reference;
  bench_workload(name, labels, calls, diffs, py_results, budget);
end
