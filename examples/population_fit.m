function population_fit (folder, mode)
%POPULATION_FIT Worked fit: Poisson GLMs of a population, no design matrix.
%   POPULATION_FIT() simulates 20 neurons over one hour of 1 ms bins (fixed
%   seed), each driven by a coarse stimulus (10 ms bins upsampled with
%   TENTFILL2), its own spike history and coupling from the other neurons,
%   with filters built from a raised-cosine basis; then fits every neuron by
%   maximum likelihood with fminunc and the exact gradient. The drive comes
%   from TRAINFOLD_MEX and TENTFILL2 with one combined filter per source
%   neuron, the gradient from TRAINFOLD_ADJOINT and TENTFILL2_ADJOINT, so no
%   design matrix is formed. Prints each neuron's recovered errors and
%   writes two figures into FOLDER (default 'population_figures'): true
%   against fitted filters, and a raster with the fitted rate.
%
%   POPULATION_FIT(FOLDER, 'check') runs a small population and raises an
%   error unless the fit recovers the filters within fixed bounds and both
%   figures are written.
%
%   The model of neuron i:
%     log rate_i = b_i + tentfill2(s_i, nbns)
%                  + sum_j trainfold_mex(spikes_j + 1, B * w_ij, [0 T-1])
%   with s_i(c) = sum_l k_i(l) x(c - 2 - l). Spikes enter at time + 1 so
%   that a spike acts only on later bins; the stimulus is delayed by two
%   coarse bins because TENTFILL2's ramp toward a sample starts half a
%   coarse bin before the sample's own block of fine bins.

  if nargin < 1 || isempty (folder)
    folder = 'population_figures';
  end
  check = nargin >= 2 && strcmp (mode, 'check');
  if check
    nneurons = 3; nbins = 600000; seed = 3;
  else
    nneurons = 20; nbins = 3600000; seed = 0;
  end
  [pop, truth] = simulate (nneurons, nbins, seed);

  fitted = zeros (size (truth));
  evaluations = zeros (1, nneurons);
  started = tic;
  for i = 1:nneurons
    [fitted(:, i), evaluations(i)] = fit_neuron (pop, i);
  end
  seconds = toc (started);

  names = {'bias', 'stimulus', 'history', 'coupling'};
  errors = zeros (nneurons, 4);
  for i = 1:nneurons
    errors(i, :) = filter_errors (pop, truth(:, i), fitted(:, i), i);
  end
  printf ('population fit: %d neurons, %d bins of 1 ms, stimulus %d coarse bins x nbns %d, %d raised cosines over %d taps\n', ...
          nneurons, pop.nbins, numel (pop.stimulus), pop.nbns, columns (pop.basis), rows (pop.basis));
  printf ('fit time %.1f s, %d evaluations (%d parameters per neuron)\n', ...
          seconds, sum (evaluations), rows (truth));
  printf ('neuron  spikes  evals   %9s  %9s  %9s  %9s\n', names{:});
  for i = 1:nneurons
    printf ('%6d  %6d  %5d   %9.4f  %9.4f  %9.4f  %9.4f\n', i - 1, ...
            numel (pop.spikes{i}), evaluations(i), errors(i, :));
  end
  medians = median (errors, 1);
  printf ('median                  %9.4f  %9.4f  %9.4f  %9.4f\n', medians);
  printf ('(bias: absolute error; filters: relative L2 error over taps, coupling over all sources together)\n');

  % Headless printing in octave-cli goes through gnuplot (see print_png); its
  % advice to prefer another toolkit and print's note about Ghostscript are
  % noise here.
  warnings = warning ();
  cleanup = onCleanup (@() warning (warnings));
  warning ('off', 'Octave:gnuplot-graphics');
  warning ('off', 'print:nogs');
  pngs = figures (pop, truth, fitted, folder);
  for k = 1:numel (pngs)
    printf ('wrote %s\n', pngs{k});
  end
  if check
    bounds = [0.1 0.2 0.4 0.6];
    failed = names(! (medians < bounds));
    for k = 1:numel (pngs)
      info = dir (pngs{k});
      if isempty (info) || info.bytes < 10000
        failed{end + 1} = pngs{k};
      end
    end
    if ! isempty (failed)
      error ('population_fit: check failed: %s', strjoin (failed, ', '));
    end
    printf ('check passed\n');
  end
end

function B = raised_cosine_basis (ntaps, nbasis)
  % Bumps evenly spaced in log(t + 4): the first peaks at t = 0, the last
  % ends at t = ntaps - 1.
  offset = 4;
  t = (0:ntaps - 1)';
  lo = log (offset); hi = log (ntaps - 1 + offset);
  spacing = (hi - lo) / (nbasis + 1);
  peaks = lo + spacing * (0:nbasis - 1);
  phase = (log (t + offset) - peaks) * (pi / (2 * spacing));
  B = (cos (max (min (phase, pi), -pi)) + 1) / 2;
end

function pop = make_population (stimulus, spikes, nbins, nbns, basis, stim_lags)
  pop.stimulus = stimulus(:);
  pop.nbins = nbins;
  pop.nbns = nbns;
  pop.basis = basis;
  pop.stim_lags = stim_lags;
  pop.nneurons = numel (spikes);
  pop.delayed = [0; 0; pop.stimulus(1:end - 2)];
  pop.spikes = spikes;
  pop.shifted = cell (size (spikes));
  pop.bins = cell (size (spikes));
  pop.counts = cell (size (spikes));
  for j = 1:pop.nneurons
    s = spikes{j}(:);
    pop.spikes{j} = s;
    pop.shifted{j} = s + 1;      % a spike in bin t acts from bin t + 1 on
    [u, ~, at] = unique (s);
    pop.bins{j} = u + 1;         % row of bin u
    pop.counts{j} = accumarray (at, 1);
  end
  pop.nparams = 1 + stim_lags + pop.nneurons * columns (basis);
end

function [b, k, w] = split_theta (pop, theta)
  b = theta(1);
  k = theta(2:1 + pop.stim_lags);
  w = reshape (theta(2 + pop.stim_lags:end), columns (pop.basis), pop.nneurons);
end

function s = stimulus_coarse (delayed, k)
  s = zeros (size (delayed));
  for lag = 1:numel (k)
    s(lag:end) += k(lag) * delayed(1:end - lag + 1);
  end
end

function eta = log_rate (pop, theta)
  [b, k, w] = split_theta (pop, theta);
  eta = tentfill2 (stimulus_coarse (pop.delayed, k), pop.nbns) + b;
  window = [0, pop.nbins - 1];
  for j = 1:pop.nneurons
    if any (w(:, j))
      eta += trainfold_mex (pop.shifted{j}, pop.basis * w(:, j), window);
    end
  end
end

function [value, grad] = negloglik (theta, pop, neuron)
  eta = log_rate (pop, theta);
  bins = pop.bins{neuron};
  counts = pop.counts{neuron};
  value = -sum (counts .* eta(bins));
  resid = exp (eta);
  value += sum (resid);
  if nargout > 1
    resid(bins) -= counts;
    grad = zeros (pop.nparams, 1);
    grad(1) = sum (resid);
    coarse = tentfill2_adjoint (resid, pop.nbns);
    m = numel (coarse);
    for lag = 1:pop.stim_lags
      grad(1 + lag) = sum (coarse(lag:end) .* pop.delayed(1:m - lag + 1));
    end
    nb = columns (pop.basis);
    window = [0, pop.nbins - 1];
    for j = 1:pop.nneurons
      at = 1 + pop.stim_lags + (j - 1) * nb;
      taps = trainfold_adjoint (pop.shifted{j}, resid, window, rows (pop.basis));
      grad(at + 1:at + nb) = pop.basis' * taps;
    end
  end
end

function [theta, nfev] = fit_neuron (pop, neuron)
  % fminunc runs on u = R * theta, R' * R the Hessian at the constant-rate
  % start (start_hessian), where the problem is close to a unit quadratic.
  theta0 = zeros (pop.nparams, 1);
  theta0(1) = log (max (numel (pop.spikes{neuron}), 1) / pop.nbins);
  R = chol (start_hessian (pop, neuron));
  options = optimset ('GradObj', 'on', 'TolFun', 1e-9, 'TolX', 1e-6, ...
                      'MaxIter', 1000, 'MaxFunEvals', 2000);
  [u, ~, ~, output] = fminunc (@(u) preconditioned (u, pop, neuron, R), ...
                               R * theta0, options);
  theta = R \ u;
  nfev = output.funcCount;
end

function H = start_hessian (pop, neuron)
  % rate * X'X for the design X the operators stand for: exact for the
  % constant and the stimulus columns (tentfill2 and its adjoint), and for
  % the spike columns as if spikes of different neurons, and distinct spikes
  % of one neuron, were independent: n_j * B'B + n_j * n_k * s * s' / T with
  % s = B's column sums.
  T = pop.nbins; L = pop.stim_lags; B = pop.basis; nb = columns (B);
  G = zeros (pop.nparams);
  G(1, 1) = T;
  m = numel (pop.delayed);
  shifted = zeros (m, L);
  for lag = 1:L
    shifted(lag:end, lag) = pop.delayed(1:m - lag + 1);
  end
  sums = zeros (L, 1);
  for lag = 1:L
    column = tentfill2 (shifted(:, lag), pop.nbns);
    sums(lag) = sum (column);
    G(2:1 + L, 1 + lag) = shifted' * tentfill2_adjoint (column, pop.nbns);
  end
  G(1, 2:1 + L) = sums'; G(2:1 + L, 1) = sums;
  s = sum (B, 1)';
  n = cellfun (@numel, pop.spikes);
  for j = 1:pop.nneurons
    a = 1 + L + (j - 1) * nb + (1:nb);
    G(1, a) = n(j) * s'; G(a, 1) = n(j) * s;
    G(2:1 + L, a) = sums * (n(j) * s' / T); G(a, 2:1 + L) = G(2:1 + L, a)';
    for k = 1:pop.nneurons
      b = 1 + L + (k - 1) * nb + (1:nb);
      G(a, b) = (n(j) * n(k) / T) * (s * s');
    end
    G(a, a) += n(j) * (B' * B);
  end
  G += 1e-9 * max (T, 1) * eye (pop.nparams);   % silent neurons
  H = (max (n(neuron), 1) / T) * G;
end

function [value, grad] = preconditioned (u, pop, neuron, R)
  [value, grad] = negloglik (R \ u, pop, neuron);
  grad = R' \ grad;
end

function e = filter_errors (pop, truth, fit, neuron)
  [b0, k0, w0] = split_theta (pop, truth);
  [b1, k1, w1] = split_theta (pop, fit);
  f0 = pop.basis * w0; f1 = pop.basis * w1;
  others = setdiff (1:pop.nneurons, neuron);
  rel = @(a, b) norm (b(:) - a(:)) / norm (a(:));
  e = [abs(b1 - b0), rel(k0, k1), rel(f0(:, neuron), f1(:, neuron)), ...
       rel(f0(:, others), f1(:, others))];
end

function [pop, theta] = simulate (nneurons, nbins, seed)
  nbns = 10; ntaps = 100; nbasis = 5; stim_lags = 5; rate_per_bin = 0.006;
  rand ('state', seed); randn ('state', seed);
  basis = raised_cosine_basis (ntaps, nbasis);
  stimulus = randn (floor (nbins / nbns), 1);
  nbins = numel (stimulus) * nbns;
  nparams = 1 + stim_lags + nneurons * nbasis;
  shape = cos (linspace (0, 1.5 * pi, stim_lags)') .* exp (-(0:stim_lags - 1)' / stim_lags);
  history = linspace (-1.5, 0.5, nbasis)'; history(end) = 0;
  theta = zeros (nparams, nneurons);
  for i = 1:nneurons
    linked = rand (1, nneurons) < 0.4;
    linked(mod (i, nneurons) + 1) = true;   % one input at least
    % Past 20 neurons the coupling weakens so that the summed input stays
    % as at 20.
    w = randn (nbasis, nneurons) * (0.3 * min (1, sqrt (20 / nneurons))) .* linked;
    w(:, i) = history + 0.1 * randn (nbasis, 1);
    sign = 2 * (rand () < 0.5) - 1;
    theta(:, i) = [log(rate_per_bin) + 0.2 * randn(); (0.3 + 0.3 * rand ()) * sign * shape; w(:)];
  end
  probe = make_population (stimulus, cell (1, nneurons), nbins, nbns, basis, stim_lags);
  coarse = zeros (numel (stimulus), nneurons);
  filters = zeros (ntaps, nneurons, nneurons);   % tap, target, source
  for i = 1:nneurons
    [~, k, w] = split_theta (probe, theta(:, i));
    coarse(:, i) = stimulus_coarse (probe.delayed, k);
    filters(:, i, :) = reshape (basis * w, ntaps, 1, nneurons);
  end
  bias = theta(1, :);
  % Poisson counts bin by bin given the past; between spikes the log rate is
  % fixed, so the draws jump from one spike to the next.
  block = 65536; look = 16;
  carry = zeros (ntaps, nneurons);
  events = zeros (1024, 3);   % bin, neuron, count; grown by doubling
  nevents = 0;
  for t0 = 0:block:nbins - 1
    n = min (block, nbins - t0);
    first = max (0, floor (t0 / nbns) - 1);
    last = min (numel (stimulus), floor ((t0 + n - 1) / nbns) + 2);
    part = tentfill2 (coarse(first + 1:last, :), nbns);
    base = part(t0 - first * nbns + (1:n), :) + bias;
    extra = zeros (n + ntaps, nneurons);
    extra(1:ntaps, :) = carry;
    u = rand (n, nneurons);
    pos = 0;
    while pos < n
      stop = min (pos + look, n);
      eta = base(pos + 1:stop, :) + extra(pos + 1:stop, :);
      fired = u(pos + 1:stop, :) > exp (-exp (eta));
      row = find (any (fired, 2), 1);
      if isempty (row)
        pos = stop;
        continue;
      end
      t = pos + row;           % row in the block
      for i = find (fired(row, :))
        lambda = exp (eta(row, i));
        term = exp (-lambda); cdf = term; count = 0;
        while u(t, i) > cdf && term > 0
          count += 1; term *= lambda / count; cdf += term;
        end
        count = max (count, 1);
        if nevents == rows (events)
          events(2 * nevents, 3) = 0;
        end
        nevents += 1;
        events(nevents, :) = [t0 + t - 1, i, count];
        extra(t + 1:t + ntaps, :) += count * filters(:, :, i);
      end
      pos = t;
    end
    carry = extra(n + 1:n + ntaps, :);
  end
  events = events(1:nevents, :);
  spikes = cell (1, nneurons);
  for i = 1:nneurons
    mine = events(:, 2) == i;
    spikes{i} = repelem (events(mine, 1), events(mine, 3));
  end
  pop = make_population (stimulus, spikes, nbins, nbns, basis, stim_lags);
end

function pngs = figures (pop, truth, fitted, folder)
  if ! exist (folder, 'dir')
    mkdir (folder);
  end
  shown = min (pop.nneurons, 3);
  f = figure ('visible', 'off');
  taps = (1:rows (pop.basis))';
  for i = 1:shown
    [~, k0, w0] = split_theta (pop, truth(:, i));
    [~, k1, w1] = split_theta (pop, fitted(:, i));
    lags = (2 + (0:pop.stim_lags - 1)') * pop.nbns;
    subplot (shown, 3, 3 * i - 2);
    plot (lags, k0, 'k-o', lags, k1, 'r--s');
    title (sprintf ('neuron %d: stimulus filter', i - 1));
    xlabel (sprintf ('lag (ms, coarse bins of %d ms)', pop.nbns));
    if i == 1
      legend ('true', 'fitted');
    end
    subplot (shown, 3, 3 * i - 1);
    plot (taps, pop.basis * w0(:, i), 'k-', taps, pop.basis * w1(:, i), 'r--');
    title (sprintf ('neuron %d: spike history', i - 1));
    xlabel ('lag after a spike (ms)');
    strength = sum (abs (w0), 1); strength(i) = -1;
    [~, j] = max (strength);
    subplot (shown, 3, 3 * i);
    plot (taps, pop.basis * w0(:, j), 'k-', taps, pop.basis * w1(:, j), 'r--');
    title (sprintf ('neuron %d: coupling from neuron %d', i - 1, j - 1));
    xlabel ('lag after a spike (ms)');
  end
  pngs{1} = fullfile (folder, 'population_filters.png');
  print_png (f, pngs{1}, 1100, 300 * shown);

  start = floor (pop.nbins / 2); stop = start + 2000;
  f = figure ('visible', 'off');
  subplot (3, 1, [1 2]);
  hold on;
  for i = 1:pop.nneurons
    s = pop.spikes{i};
    s = s(s >= start & s < stop)';
    if ! isempty (s)
      plot ([s; s] / 1000, [i - 1.4; i - 0.6] * ones (1, numel (s)), 'k-');
    end
  end
  hold off;
  ylim ([-0.6, pop.nneurons - 0.4]);
  set (gca, 'ytick', 0:max (1, floor (pop.nneurons / 10)):pop.nneurons - 1);
  ylabel ('neuron');
  title ('spikes, 2 s of the recording');
  subplot (3, 1, 3);
  t = (start:stop - 1)';
  rows_shown = t + 1;
  true_rate = exp (log_rate (pop, truth(:, 1))) * 1000;
  fitted_rate = exp (log_rate (pop, fitted(:, 1))) * 1000;
  plot (t / 1000, true_rate(rows_shown), 'k-', t / 1000, fitted_rate(rows_shown), 'r-');
  legend ('true', 'fitted');
  ylabel ('neuron 0 rate (Hz)');
  xlabel ('time (s)');
  pngs{2} = fullfile (folder, 'population_raster.png');
  print_png (f, pngs{2}, 1100, 500);
end

function print_png (fig, file, width_px, height_px)
  % Octave's gnuplot toolkit (the one octave-cli has) writes PNG through
  % gnuplot's cairo terminal at 72 pixels per inch; the other toolkits and
  % MATLAB print PNG themselves at the resolution given.
  if exist ('OCTAVE_VERSION', 'builtin') && ...
     strcmp (get (fig, '__graphics_toolkit__'), 'gnuplot')
    dpi = 72;
    device = '-dpngcairo';
  else
    dpi = 100;
    device = '-dpng';
  end
  set (fig, 'paperunits', 'inches', ...
       'paperposition', [0 0 width_px / dpi height_px / dpi]);
  print (fig, device, sprintf ('-r%d', dpi), file);
  close (fig);
end
