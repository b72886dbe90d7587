function [W, converged, iterations, runaway] = glm_fit_neurons(model, data, gram, o, W, silent, null_rate, width)
%GLM_FIT_NEURONS The solvers of spike_glm_fit, neuron by neuron or in
%   lockstep.
%   [W, CONVERGED, ITERATIONS, RUNAWAY] = GLM_FIT_NEURONS(MODEL, DATA,
%   GRAM, O, W, SILENT, NULL_RATE, WIDTH) fits every neuron i not SILENT
%   from the start W(:, i) (the start Hessian at the rate NULL_RATE(i);
%   O: spike_glm_fit's options, checked), with the solver of O.penalty on
%   the free parameters (those of sources below O.min_spikes held at 0),
%   and tests each fit for a runaway (RUNAWAY{i}: the text naming its
%   sources, '' if none). With O.verbose, the progress lines of each
%   solver and one line per neuron as it ends.
%
%   Lockstep: with coupling and the penalty 'none' or 'ridge', the fitted
%   neurons go in batches of WIDTH (spike_glm_fit: lockstep_targets of
%   GLM_CONSTANTS). The solvers of a batch (GLM_LBFGS_STEP) each ask for a
%   point; GLM_BATCH_OBJECTIVE evaluates all of them in one pass over the
%   spikes and each solver takes its value and goes on, round after round
%   until all are done.
%   Each target's value and gradient are the bits of its own GLM_OBJECTIVE,
%   so the fits are those of one neuron at a time (WIDTH 1: GLM_LBFGS on
%   GLM_OBJECTIVE, one neuron after the other, as the group lasso and
%   fits without coupling always go), for any WIDTH. Neurons of a batch end
%   in the order their solvers do, which orders their verbose lines.
N = data.N;
converged = true(N, 1);
iterations = zeros(N, 1);
runaway = cell(N, 1);
ridge = 0;
if strcmp(o.penalty, 'ridge')
  ridge = o.alpha;
end
lasso = strcmp(o.penalty, 'group_lasso') && o.alpha > 0;
timer = struct('started', tic, 'done', 0);
fitted = find(~silent)';
if width > 1 && model.coupling && ~lasso
  timer.done = sum(silent);
  for a = 1:width:numel(fitted)
    batch = fitted(a:min(a + width - 1, end));
    K = numel(batch);
    states = cell(K, 1);
    for q = 1:K
      i = batch(q);
      u = target(model, data, gram, o, i, null_rate, ridge);
      solver = glm_lbfgs_step(W(u.free, i), chol(u.H0), o.tol, o.max_iter, u.report);
      states{q} = struct('u', u, 'solver', solver, 'base', W(:, i), ...
                         'point', W(:, i), 'done', false, 'runaway', '');
      states{q}.point(u.free) = solver.ask;
    end
    step = @(s, f, g, before) advance(s, f, g, model, data, gram, o, ...
                                      setfield(timer, 'done', timer.done + before));
    states = glm_batch_objective(model, data, batch, ...
                                 cellfun(@(s) s.u.fitset, states, 'UniformOutput', false), ...
                                 ridge, states, step);
    for q = 1:K
      i = batch(q);
      W(:, i) = states{q}.point;
      iterations(i) = states{q}.solver.iters;
      converged(i) = states{q}.solver.converged;
      runaway{i} = states{q}.runaway;
    end
    timer.done = timer.done + K;
  end
  return;
end
for i = fitted
  u = target(model, data, gram, o, i, null_rate, ridge);
  full = @(theta) glm_objective(theta, model, data, i, u.fitset, ridge);
  fun = @(x) on_free(x, u.free, W(:, i), full);
  x = W(u.free, i);
  if lasso && ~isempty(u.groups)
    [x, iterations(i), converged(i)] = glm_group_lasso(fun, x, u.H0, ...
        u.groups, o.alpha, o.tol, o.max_iter, u.report);
  else
    [x, iterations(i), converged(i)] = glm_lbfgs(fun, x, ...
        chol(u.H0), o.tol, o.max_iter, u.report);
  end
  W(u.free, i) = x;
  timer.done = i;
  runaway{i} = ended(model, data, gram, o, W(:, i), u, iterations(i), ...
                     converged(i), timer);
end
end

function s = advance(s, f, g, model, data, gram, o, timer)
% One step of a solver of a batch: its value F and gradient G (on all
% parameters) at s.point; once it is done, its fit in s.point, its
% runaway test and verbose line (TIMER.done: the neurons done before it).
s.solver = glm_lbfgs_step(s.solver, f, g(s.u.free), []);
s.point = s.base;
if s.solver.done
  s.done = true;
  s.point(s.u.free) = s.solver.x;
  timer.done = timer.done + 1;
  s.runaway = ended(model, data, gram, o, s.point, s.u, s.solver.iters, ...
                    s.solver.converged, timer);
else
  s.point(s.u.free) = s.solver.ask;
end
end

function u = target(model, data, gram, o, i, null_rate, ridge)
% What the solver of neuron I needs: its fit set, the free parameters, the
% start Hessian on them, the coupling groups, the progress report.
N = data.N;
u.i = i;
u.fitset = glm_fitset(data, i, data.mask, data.nF);
u.src = glm_sources(model, N, i);
u.fixed = u.src ~= i & gram.n(u.src)' < o.min_spikes;
u.free = [true(1 + model.nstim, 1); reshape(repmat(~u.fixed, model.nb, 1), [], 1)];
H0 = glm_start_hessian(gram, model, u.src, null_rate(i), ridge);
u.H0 = H0(u.free, u.free);
u.report = [];
if o.verbose
  u.report = @(k, f, r) progress('  neuron %d: iteration %d, objective %.10g, optimality residual %.3g (tol %g)\n', ...
                                 i, k, f, r, o.tol);
end
% Coupling groups (sources other than i) for the group lasso, as indices
% into the free parameters.
at = cumsum(u.free);
u.groups = {};
for k = find(u.src ~= i & ~u.fixed)
  u.groups{end + 1} = at(1 + model.nstim + (k - 1) * model.nb + (1:model.nb));
end
end

function text = ended(model, data, gram, o, theta, u, iters, converged, timer)
% The runaway test of a fitted neuron (its text, '' if none) and its
% verbose line.
% Unpenalised weights are tested on the data for a likelihood without a
% finite maximum: all of them without a penalty, the self-history under
% the group lasso, none under ridge.
i = u.i;
tested = zeros(1, 0);
if strcmp(o.penalty, 'none') || o.alpha == 0
  tested = u.src(~u.fixed);
elseif strcmp(o.penalty, 'group_lasso')
  tested = i;
end
[runs, bias_runs] = glm_runaway(model, data, theta, i, tested, data.mask);
text = '';
if ~isempty(runs) || bias_runs
  text = runaway_text(i, runs, bias_runs);
end
if o.verbose
  state = 'converged';
  if ~isempty(text)
    state = 'NOT converged (weights run off)';
  elseif ~converged
    state = 'NOT converged';
  end
  N = data.N;
  elapsed = toc(timer.started);
  progress('neuron %d of %d: %d spikes, %d iterations, %s (%.1f s so far, about %.1f s left)\n', ...
           i, N, gram.n(i), iters, state, elapsed, elapsed / timer.done * (N - timer.done));
end
end

function [f, g] = on_free(x, free, theta, full)
% The objective on the free parameters; the others keep their values.
theta(free) = x;
if nargout > 1
  [f, g] = full(theta);
  g = g(free);
else
  f = full(theta);
end
end

function text = runaway_text(i, sources, bias)
text = sprintf('target %d', i);
if ~isempty(sources)
  text = sprintf('%s on source(s) %s', text, strjoin(arrayfun(@(j) sprintf('%d', j), ...
                 sources, 'UniformOutput', false), ', '));
  if bias
    text = [text ' and its bias'];
  end
elseif bias
  text = [text ': its bias'];
end
end

function progress(varargin)
fprintf(varargin{:});
if exist('OCTAVE_VERSION', 'builtin')
  fflush(stdout);
end
end
