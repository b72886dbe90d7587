function [sources, bias] = glm_runaway(model, data, theta, i, tested, mask)
%GLM_RUNAWAY Sources on which the fit of target I runs off (its
%   likelihood has no finite maximum), and whether its bias does.
%   SOURCES lists source neurons j (ascending) for which either
%     - the data test holds (only for the j in TESTED: the sources whose
%       weights are not penalised): j has spikes whose history windows
%       (the history_taps bins after each) reach the fit bins, and no
%       spike of I in the fit bins falls within any of those windows, so
%       the likelihood keeps rising as h_ji goes to -Inf (exact for a
%       non-negative basis); or
%     - the fitted filter h_ji = basis * w_ji has a value of magnitude
%       above the runaway bound of GLM_CONSTANTS (log-rate units).
%   BIAS is true when |bias| passes that bound. THETA: the fitted
%   parameter vector; MASK: the fit bins (T x 1 logical, or [] for all).
c = glm_constants();
bias = abs(theta(1)) > c.runaway;
src = glm_sources(model, data.N, i);
H = model.H;
T = data.T;
% Neuron I's spike bins in the fit data (0-based).
targets = data.rows{i} - 1;
if ~isempty(mask)
  targets = targets(mask(targets + 1));
  reach = [0; cumsum(double(mask))];
end
sources = zeros(1, 0);
for k = 1:numel(src)
  j = src(k);
  w = theta(1 + model.nstim + (k - 1) * model.nb + (1:model.nb));
  if any(abs(model.basis * w) > c.runaway)
    sources(end + 1) = j; %#ok<AGROW>
    continue;
  end
  if ~any(tested == j)
    continue;
  end
  b = data.shifted{j} - 1;   % 0-based bins of j's spikes
  % Windows [b + 1, min(b + H, T - 1)] that hold a fit bin.
  z = min(b + H, T - 1);
  open = b + 1 <= z;
  if ~isempty(mask)
    open(open) = reach(z(open) + 2) - reach(b(open) + 2) > 0;
  end
  if ~any(open)
    continue;
  end
  if ~followed(b, targets, H)
    sources(end + 1) = j; %#ok<AGROW>
  end
end
end

function yes = followed(b, t, H)
% True when some t has a b with t - H <= b <= t - 1 (b, t whole numbers).
% For each t the count of b up to t - 1 less the count up to t - H - 1,
% both read off one sort of the b and the queries t - 1/2 and t - H - 1/2
% (no query equals a b).
if isempty(b) || isempty(t)
  yes = false;
  return;
end
nb = numel(b);
nt = numel(t);
[~, order] = sort([b(:); t(:) - 0.5; t(:) - H - 0.5]);
count = cumsum(order <= nb);
at = zeros(nb + 2 * nt, 1);
at(order) = count;
yes = any(at(nb + 1:nb + nt) > at(nb + nt + 1:end));
end
