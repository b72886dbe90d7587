function [data, model] = glm_setup(spike_times, duration, o, caller)
%GLM_SETUP Checked, binned inputs of a population GLM.
%   [DATA, MODEL] = GLM_SETUP(SPIKE_TIMES, DURATION, O, CALLER) bins the
%   spike times (cell array, seconds) into T = floor(DURATION/O.bin_size +
%   1e-6) fine bins from O.t_start and checks the stimulus and basis options
%   of O; errors name the argument and are prefixed with CALLER.
%   DATA: N, T, nspikes (N x 1), shifted{j} (bins + 1, ascending: the spike
%   times trainfold takes so that a spike acts from the next bin on),
%   merged and ids (every neuron's shifted times merged into one ascending
%   column, and the neuron of each: trainfold_pop's spikes and sources),
%   rows{j} and counts{j} (the 1-based rows of the bins with spikes and
%   their counts). MODEL: basis (H x nb), H, nb, coupling, m (fine bins
%   per stimulus sample, 0 without stimulus), L, C, X (M x L*C: column
%   (ch-1)*L + l + 1 holds channel ch delayed by 2 + l samples), nstim = L*C.
check_scalar(duration, 'duration', caller, false);
check_scalar(o.bin_size, 'opts.bin_size', caller, true);
check_scalar(o.t_start, 'opts.t_start', caller, false);
T = floor(duration / o.bin_size + 1e-6);
if T < 1
  error('%s: duration %g s holds no bin of %g s', caller, duration, o.bin_size);
end
if T > 2^31 - 1
  error('%s: duration / bin_size gives %g bins, more than 2^31 - 1', caller, T);
end
if ~iscell(spike_times)
  error('%s: spike_times must be a cell array of spike-time columns (s)', caller);
end
N = numel(spike_times);
data.N = N;
data.T = T;
data.nspikes = zeros(N, 1);
data.shifted = cell(N, 1);
data.rows = cell(N, 1);
data.counts = cell(N, 1);
for j = 1:N
  s = spike_times{j};
  if ~isempty(s) && (~isnumeric(s) || ~isreal(s) || ~isvector(s))
    error('%s: spike_times{%d} must be a real vector of spike times (s)', caller, j);
  end
  s = double(s(:));
  bad = find(~isfinite(s), 1);
  if ~isempty(bad)
    error('%s: spike_times{%d}(%d) is %g; spike times must be finite', ...
          caller, j, bad, s(bad));
  end
  b = floor((s - o.t_start) / o.bin_size);
  bad = find(b < 0 | b > T - 1, 1);
  if ~isempty(bad)
    error(['%s: spike_times{%d}(%d) = %.9g s lies outside the recording ' ...
           '[%g, %g) s'], caller, j, bad, s(bad), o.t_start, ...
          o.t_start + T * o.bin_size);
  end
  b = sort(b);
  data.nspikes(j) = numel(b);
  data.shifted{j} = b + 1;
  [u, first] = unique(b, 'first');
  data.rows{j} = u + 1;
  data.counts{j} = diff([first; numel(b) + 1]);
end
ids = cell(N, 1);
for j = 1:N
  ids{j} = j * ones(data.nspikes(j), 1);
end
[data.merged, order] = sort(vertcat(zeros(0, 1), data.shifted{:}));
ids = vertcat(zeros(0, 1), ids{:});
data.ids = ids(order);

% Basis: the raised cosines, or the user's matrix (its rows set the taps).
if ischar(o.basis)
  if ~strcmp(o.basis, 'raised_cosine')
    error('%s: opts.basis must be ''raised_cosine'' or a matrix (taps x n_basis)', caller);
  end
  H = check_count(o.history_taps, 'opts.history_taps', caller);
  nb = check_count(o.n_basis, 'opts.n_basis', caller);
  B = glm_basis(H, nb);
else
  B = o.basis;
  if ~isnumeric(B) || ~isreal(B) || ndims(B) ~= 2 || isempty(B) || any(~isfinite(B(:)))
    error('%s: opts.basis must be a finite real matrix of history_taps rows x n_basis columns', caller);
  end
  B = double(B);
  [H, nb] = size(B);
  if ~isempty(o.history_taps) && o.history_taps ~= H
    error('%s: opts.basis has %d rows but opts.history_taps is %d (bad basis shape)', ...
          caller, H, o.history_taps);
  end
end
if H > T
  error('%s: opts.history_taps (%d) is longer than the recording (%d bins)', caller, H, T);
end
model.basis = B;
model.H = H;
model.nb = nb;
model.coupling = logical(o.coupling);
if ~isscalar(o.coupling)
  error('%s: opts.coupling must be true or false', caller);
end

% Stimulus: M samples x C channels, m fine bins per sample.
S = o.stimulus;
model.m = 0;
model.L = check_count(o.stimulus_lags, 'opts.stimulus_lags', caller);
model.C = 0;
model.X = zeros(0, 0);
if ~isempty(S)
  if ~isnumeric(S) || ~isreal(S) || ndims(S) ~= 2 || any(~isfinite(S(:)))
    error('%s: opts.stimulus must be a finite real matrix (samples x channels)', caller);
  end
  if isempty(o.stimulus_rate)
    error('%s: opts.stimulus_rate (Hz) is needed with opts.stimulus', caller);
  end
  check_scalar(o.stimulus_rate, 'opts.stimulus_rate', caller, true);
  L = model.L;
  m = round(1 / (o.stimulus_rate * o.bin_size));
  if m < 1 || abs(m * o.stimulus_rate * o.bin_size - 1) > 1e-9
    error(['%s: opts.stimulus_rate %g Hz: the stimulus period must be a ' ...
           'whole number of fine bins of %g s'], caller, o.stimulus_rate, o.bin_size);
  end
  [M, C] = size(S);
  if M * m ~= T
    error(['%s: opts.stimulus has %d samples; the recording of %d bins ' ...
           'needs %g samples of %d bins'], caller, M, T, T / m, m);
  end
  X = zeros(M, L * C);
  for ch = 1:C
    for l = 0:L - 1
      d = 2 + l;
      if d < M
        X(d + 1:M, (ch - 1) * L + l + 1) = S(1:M - d, ch);
      end
    end
  end
  model.m = m;
  model.L = L;
  model.C = C;
  model.X = X;
end
model.nstim = model.L * model.C;
end

function check_scalar(x, name, caller, positive)
if ~isnumeric(x) || ~isreal(x) || ~isscalar(x) || ~isfinite(x) || (positive && x <= 0)
  if positive
    error('%s: %s must be a positive finite number', caller, name);
  end
  error('%s: %s must be a finite real number', caller, name);
end
end

function n = check_count(x, name, caller)
if ~isnumeric(x) || ~isscalar(x) || ~isreal(x) || x < 1 || x ~= fix(x) || x > 2^31 - 1
  error('%s: %s must be a whole number >= 1', caller, name);
end
n = double(x);
end
