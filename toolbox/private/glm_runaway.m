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
% True when some t has a b with t - H <= b <= t - 1 (b, t ascending).
if isempty(b) || isempty(t)
  yes = false;
  return;
end
% Merge: at equal values the spike of the target sorts first (b = t does
% not precede t); each target spike sees the latest source spike before it.
v = [t(:); b(:)];
tag = [zeros(numel(t), 1); ones(numel(b), 1)];
[~, order] = sortrows([v, tag]);
v = v(order);
tag = tag(order);
latest = -Inf(size(v));
latest(tag == 1) = v(tag == 1);
latest = cummax(latest);
gap = v(tag == 0) - latest(tag == 0);
yes = any(gap <= H);
end
