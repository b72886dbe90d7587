function [data, model] = glm_setup(spike_times, duration, o, caller, mask, mask_name, fitting)
%GLM_SETUP Checked, binned inputs of a population GLM.
%   [DATA, MODEL] = GLM_SETUP(SPIKE_TIMES, DURATION, O, CALLER, MASK,
%   MASK_NAME) checks every input first (errors 'spike_glm:<name>' name the
%   argument and are prefixed with CALLER), then bins the spike times (cell
%   vector, seconds) into T = floor(DURATION/O.bin_size + bin_tolerance)
%   fine bins from O.t_start: time s is in bin floor((s - t_start) /
%   bin_size + bin_tolerance) (GLM_CONSTANTS), refused outside 0 .. T-1.
%   MASK (T logical or 0/1 values, or [] (default) for every bin) is the
%   option MASK_NAME of the caller: the bins an objective or a score sums over.
%   FITTING (default true): the filters must fit in the recording (a
%   fitted model may run on a recording shorter than its filters).
%   DATA: N, T, mask (T x 1 logical, or [] when it keeps every bin), nF
%   (bins it keeps), nspikes (N x 1), shifted{j} (bins + 1, ascending: the
%   spike times trainfold takes so that a spike acts from the next bin on),
%   merged and ids (every neuron's shifted times merged into one ascending
%   column, and the neuron of each: trainfold_pop's spikes and sources),
%   rows{j} and counts{j} (the 1-based rows of the bins with spikes and
%   their counts), and the blocks of GLM_BLOCKS. MODEL: basis (H x nb), H, nb, coupling, m (fine bins
%   per stimulus sample, 0 without stimulus), L, C, X (M x L*C: column
%   (ch-1)*L + l + 1 holds channel ch delayed by stimulus_delay + l
%   samples), nstim = L*C.
c = glm_constants();
if nargin < 5
  mask = [];
  mask_name = '';
end
if nargin < 7
  fitting = true;
end
check_scalar(duration, 'duration', caller, true);
check_scalar(o.bin_size, 'opts.bin_size', caller, true);
check_scalar(o.t_start, 'opts.t_start', caller, false);
T = floor(duration / o.bin_size + c.bin_tolerance);
if T < 1
  fail('duration', caller, 'duration %g s holds no bin of %g s', duration, o.bin_size);
end
if T > 2^31 - 1
  fail('duration', caller, 'duration / bin_size gives %g bins, more than 2^31 - 1', T);
end
if ~iscell(spike_times)
  fail('spikeTimes', caller, 'spike_times must be a cell array of spike-time columns (s)');
end
if isempty(spike_times)
  fail('spikeTimes', caller, 'spike_times must hold at least one neuron');
end
if ~isvector(spike_times)
  fail('spikeTimes', caller, ['spike_times must be a cell vector (one ' ...
       'spike-time vector per neuron), got a %s cell'], dims(spike_times));
end
N = numel(spike_times);

% Basis: the raised cosines, or the user's matrix (its rows set the taps).
% Its size is checked against the recording before it is built.
if ischar(o.basis)
  if ~strcmp(o.basis, 'raised_cosine')
    fail('basis', caller, 'opts.basis must be ''raised_cosine'' or a matrix (taps x n_basis)');
  end
  H = check_count(o.history_taps, 'opts.history_taps', 'historyTaps', caller);
  nb = check_count(o.n_basis, 'opts.n_basis', 'nBasis', caller);
  if H > T && fitting
    fail('historyTaps', caller, ...
         'opts.history_taps (%d) is longer than the recording (%d bins)', H, T);
  end
  if H < 2
    fail('historyTaps', caller, ['opts.history_taps must be at least 2 ' ...
         'with the raised-cosine basis, got %d'], H);
  end
  if nb > H
    fail('nBasis', caller, 'opts.n_basis (%d) must not exceed opts.history_taps (%d)', nb, H);
  end
else
  B = o.basis;
  if ~isnumeric(B) || ~isreal(B) || ndims(B) ~= 2 || isempty(B) || any(~isfinite(B(:)))
    fail('basis', caller, 'opts.basis must be a finite real matrix of history_taps rows x n_basis columns');
  end
  [H, nb] = size(B);
  if ~isempty(o.history_taps) && ~(isnumeric(o.history_taps) && ...
      isscalar(o.history_taps) && o.history_taps == H)
    fail('basis', caller, 'opts.basis has %d rows but opts.history_taps is %s (bad basis shape)', ...
         H, num2str(o.history_taps));
  end
  if H > T && fitting
    fail('historyTaps', caller, ...
         'opts.history_taps (%d) is longer than the recording (%d bins)', H, T);
  end
end
if ~(islogical(o.coupling) || isnumeric(o.coupling)) || ~isscalar(o.coupling) || ...
   ~(o.coupling == 0 || o.coupling == 1)
  fail('coupling', caller, 'opts.coupling must be true or false');
end

% Stimulus: M samples x C channels, m fine bins per sample.
S = o.stimulus;
L = check_count(o.stimulus_lags, 'opts.stimulus_lags', 'stimulusLags', caller);
if ~isempty(S)
  if ~isnumeric(S) || ~isreal(S) || ndims(S) ~= 2 || any(~isfinite(S(:)))
    fail('stimulus', caller, 'opts.stimulus must be a finite real matrix (samples x channels)');
  end
  if isempty(o.stimulus_rate)
    fail('stimulusRate', caller, 'opts.stimulus_rate (Hz) is needed with opts.stimulus');
  end
  check_scalar(o.stimulus_rate, 'opts.stimulus_rate', caller, true);
  m = round(1 / (o.stimulus_rate * o.bin_size));
  if m < 1 || abs(m * o.stimulus_rate * o.bin_size - 1) > 1e-9
    fail('stimulusRate', caller, ['opts.stimulus_rate %g Hz: the stimulus period ' ...
         'must be a whole number of fine bins of %g s'], o.stimulus_rate, o.bin_size);
  end
  [M, C] = size(S);
  if M * m ~= T
    fail('stimulus', caller, ['opts.stimulus has %d samples; the recording of %d bins ' ...
         'needs %g samples of %d bins'], M, T, T / m, m);
  end
end

% The bins summed over.
nF = T;
if ~isempty(mask)
  if ~(islogical(mask) || isnumeric(mask)) || numel(mask) ~= T || ...
     any(mask(:) ~= 0 & mask(:) ~= 1)
    fail(camel(mask_name), caller, 'opts.%s must be a logical mask of %d bins', mask_name, T);
  end
  mask = logical(mask(:));
  nF = sum(mask);
  if nF == 0
    fail(camel(mask_name), caller, 'opts.%s selects no bin', mask_name);
  end
  if nF == T
    mask = [];
  end
end

% Spike times: checked and binned.
data.N = N;
data.T = T;
data.mask = mask;
data.nF = nF;
data.nspikes = zeros(N, 1);
data.shifted = cell(N, 1);
data.rows = cell(N, 1);
data.counts = cell(N, 1);
for j = 1:N
  s = spike_times{j};
  if ~isempty(s) && (~isnumeric(s) || ~isreal(s) || ~isvector(s))
    fail('spikeTimes', caller, 'spike_times{%d} must be a real vector of spike times (s)', j);
  end
  if isa(s, 'single')
    fail('spikeTimes', caller, ['spike_times{%d} is single precision: convert ' ...
         'it to double (single resolves only about 1 ms at 10^4 s)'], j);
  end
  s = double(s(:));
  bad = find(~isfinite(s), 1);
  if ~isempty(bad)
    fail('spikeTimes', caller, 'spike_times{%d}(%d) is %g; spike times must be finite', ...
         j, bad, s(bad));
  end
  b = floor((s - o.t_start) / o.bin_size + c.bin_tolerance);
  bad = find(b < 0 | b > T - 1, 1);
  if ~isempty(bad)
    fail('spikeTimes', caller, ['spike_times{%d}(%d) = %.9g s lies outside the ' ...
         'recording [%.9g, %.9g) s'], j, bad, s(bad), o.t_start, o.t_start + T * o.bin_size);
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

if ischar(o.basis)
  model.basis = glm_basis(H, nb);
else
  model.basis = double(B);
end
model.H = H;
model.nb = nb;
model.coupling = logical(o.coupling);
model.m = 0;
model.L = L;
model.C = 0;
model.X = zeros(0, 0);
if ~isempty(S)
  X = zeros(M, L * C);
  for ch = 1:C
    for l = 0:L - 1
      d = c.stimulus_delay + l;
      if d < M
        X(d + 1:M, (ch - 1) * L + l + 1) = S(1:M - d, ch);
      end
    end
  end
  model.m = m;
  model.C = C;
  model.X = X;
end
model.nstim = model.L * model.C;
data = glm_blocks(model, data);
end

function fail(name, caller, varargin)
error(['spike_glm:' name], '%s: %s', caller, sprintf(varargin{:}));
end

function check_scalar(x, name, caller, positive)
id = camel(strrep(name, 'opts.', ''));
if isa(x, 'single')
  fail(id, caller, '%s is single precision: convert it to double', name);
end
if ~isnumeric(x) || ~isreal(x) || ~isscalar(x) || ~isfinite(x) || (positive && x <= 0)
  if positive
    fail(id, caller, '%s must be a positive finite number', name);
  end
  fail(id, caller, '%s must be a finite real number', name);
end
end

function n = check_count(x, name, id, caller)
if ~isnumeric(x) || ~isscalar(x) || ~isreal(x) || ~(x >= 1) || x ~= fix(x) || x > 2^31 - 1
  fail(id, caller, '%s must be a whole number >= 1', name);
end
n = double(x);
end

function id = camel(name)
% bin_size -> binSize
id = name;
at = find(id(1:end - 1) == '_');
id(at + 1) = upper(id(at + 1));
id(at) = [];
end

function text = dims(x)
text = sprintf('%dx', size(x));
text = text(1:end - 1);
end
