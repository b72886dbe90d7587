function s = spike_glm_score(fit, spike_times, duration, opts)
%SPIKE_GLM_SCORE Held-out scores of a fitted population GLM, per neuron.
%   S = SPIKE_GLM_SCORE(FIT, SPIKE_TIMES, DURATION, OPTS) scores the model
%   in FIT (from SPIKE_GLM_FIT) on the recording SPIKE_TIMES of DURATION
%   seconds, over the bins of OPTS.bins (all bins by default), with
%   y_i(t) the counts and mu_i(t) the model's rate (SPIKE_GLM_RATE):
%     log_likelihood  N x 1: sum_t [y log mu - mu - log(y!)] (natural log)
%     bits_per_spike  N x 1: (log_likelihood - LL_null) / (n_i * log(2)),
%                     LL_null that of a homogeneous Poisson process at
%                     fit.null_rate (fitted on the training bins), n_i the
%                     spikes scored; NaN for a neuron with no spike scored
%     pseudo_r2       N x 1: McFadden's 1 - log_likelihood / LL_same, with
%                     LL_same the homogeneous Poisson process at
%                     max(n_i, 0.5) / (bins scored), fitted on the scored data
%     n_spikes        N x 1: n_i
%
%   Options (fields of OPTS):
%     bins      T x 1 logical mask of the bins scored ([]: all); for
%               cross-validation the complement of the fit's opts.fit_bins
%     stimulus  M x C stimulus (needed when the fit had one)
%     t_start   time of bin 0 (s), default 0
%
%   Example (fit on the first half, score on the second):
%     T = 600000; train = (1:T)' <= T / 2;
%     fit = spike_glm_fit(spikes, 600, struct('fit_bins', train));
%     s = spike_glm_score(fit, spikes, 600, struct('bins', ~train));
%
%   See also SPIKE_GLM_FIT, SPIKE_GLM_RATE.

if nargin < 4
  opts = [];
end
[data, model] = glm_refit_setup(fit, spike_times, duration, opts, ...
    struct('stimulus', [], 't_start', 0, 'bins', []), 'spike_glm_score', 'bins');
mask = data.mask;
if isempty(mask)
  mask = true(data.T, 1);
end
nbins = data.nF;
N = data.N;
c = glm_constants();
floor_spikes = c.start_spikes;
s.log_likelihood = zeros(N, 1);
s.bits_per_spike = zeros(N, 1);
s.pseudo_r2 = zeros(N, 1);
s.n_spikes = zeros(N, 1);
for i = 1:N
  eta = glm_drive(model, data, fit.weights(:, i), i);
  rows = data.rows{i};
  y = data.counts{i};
  keep = mask(rows);
  rows = rows(keep);
  y = y(keep);
  n = sum(y);
  logfact = sum(gammaln(y + 1));
  ll = sum(y .* eta(rows)) - sum(exp(eta(mask))) - logfact;
  null = poisson_ll(fit.null_rate(i), n, nbins, logfact);
  same = poisson_ll(max(n, floor_spikes) / nbins, n, nbins, logfact);
  s.log_likelihood(i) = ll;
  s.n_spikes(i) = n;
  if n > 0
    s.bits_per_spike(i) = (ll - null) / (n * log(2));
  else
    s.bits_per_spike(i) = NaN;
  end
  s.pseudo_r2(i) = 1 - ll / same;
end
end

function ll = poisson_ll(r, n, nbins, logfact)
% Homogeneous Poisson log-likelihood: n spikes over nbins bins at rate r.
ll = n * log(r) - nbins * r - logfact;
end

% Tests (run with "test spike_glm_score").

%!test
%! warning ("off", "spike_glm:notConverged", "local");
%! warning ("off", "spike_glm:silentNeuron", "local");
%! warning ("off", "spike_glm:runaway", "local");
%! ## At the null model every score is 0; scores against the Poisson
%! ## log-likelihood written out; NaN bits per spike without spikes scored.
%! spikes = {[0.0005; 0.0015; 0.0017; 0.0061], [0.0091]};
%! fit = spike_glm_fit (spikes, 0.01, struct ("history_taps", 2, ...
%!                      "n_basis", 1, "coupling", false, "max_iter", 1));
%! fit.weights = [log(fit.null_rate)'; 0 0];   % the null model
%! s = spike_glm_score (fit, spikes, 0.01);
%! y = [1 2 0 0 0 0 1 0 0 0]';
%! mu = 0.4;
%! assert (s.log_likelihood(1), sum (y * log (mu) - mu - gammaln (y + 1)), 1e-12);
%! assert ([s.bits_per_spike, s.pseudo_r2], zeros (2, 2), 1e-12);
%! assert (s.n_spikes, [4; 1]);
%! first = (1:10)' <= 5;
%! s = spike_glm_score (fit, spikes, 0.01, struct ("bins", first));
%! assert (isnan (s.bits_per_spike(2)) && s.n_spikes(2) == 0);
%! ll = sum (y(first) * log (mu) - mu - gammaln (y(first) + 1));
%! same = 3 * log (3 / 5) - 3 - log (2);
%! assert (s.bits_per_spike(1), 0, 1e-12);
%! assert (s.pseudo_r2(1), 1 - ll / same, 1e-12);

%!test
%! ## Refusals name the argument, with identifiers.
%! warning ("off", "spike_glm:silentNeuron", "local");
%! fit = spike_glm_fit ({[], []}, 0.01, struct ("history_taps", 2, "n_basis", 1));
%! cases = {
%!   {[0.001]}, struct(), "spikeTimes", "spike_times holds 1 neurons, the fit 2"
%!   {[0.001], []}, struct("bins", true(5, 1)), "bins", "opts.bins must be a logical mask of 10 bins"
%!   {[0.001], []}, struct("bins", false(10, 1)), "bins", "opts.bins selects no bin"
%!   {[0.001], []}, struct("stimulus", ones(1, 1)), "stimulus", "opts.stimulus has 1 channels, the fit 0"
%!   {[0.001], [0.02]}, struct(), "spikeTimes", "spike_times{2}(1) = 0.02 s lies outside"
%! };
%! for c = 1:rows (cases)
%!   [spikes, o, id, expected] = cases{c, :};
%!   try
%!     spike_glm_score (fit, spikes, 0.01, o);
%!     error ("no error for case %d", c);
%!   catch err
%!     assert (strncmp (err.message, ["spike_glm_score: " expected], 17 + numel (expected)), ...
%!             "case %d: %s", c, err.message);
%!     assert (strcmp (err.identifier, ["spike_glm:" id]), "case %d: %s", c, err.identifier);
%!   end_try_catch
%! endfor
