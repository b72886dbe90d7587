function results = module_results()
%MODULE_RESULTS Results of every module over a fixed set of inputs.
%   RESULTS = MODULE_RESULTS() calls each module of the module list
%   (whichever build is first on the path) on the same inputs in every run
%   (seeded generators) and returns the results in a cell array, for
%   comparing two builds of the modules bit for bit with same_bits (the
%   package's and CMake's). Shapes, bin counts and magnitudes vary so that
%   any change in rounding, such as a fused multiply-add, shows in the last
%   bits. Fails when a module of the list has no trials here.
rand('state', 42);
randn('state', 42);
bin_counts = [1 2 3 4 5 7 10 16 49 2.5 3.7 6.02 1e3 + 0.5];
trials = {@tentfill2_trial, @trainfold_mex_trial, ...
          @tentfill2_adjoint_trial, @trainfold_adjoint_trial, ...
          @trainfold_pop_trial, @trainfold_pop_adjoint_trial, ...
          @trainfold_multi_trial, @trainfold_multi_adjoint_trial, ...
          @rate_exp_trial};
missing = uncovered_modules(cellfun(@(f) regexprep(func2str(f), ...
                                    '_trial$', ''), trials, ...
                                    'UniformOutput', false));
if ~isempty(missing)
  error('module_results: no trials of %s', missing);
end
results = cell(1, 200 * numel(trials));
for k = 1:numel(trials)
  for trial = 1:200
    results{200 * (k - 1) + trial} = trials{k}(bin_counts);
  end
end
end

function y = tentfill2_trial(bin_counts)
m = 1 + floor(40 * rand());
n = 1 + floor(4 * rand()) * (rand() < 0.5);  % one column half the time
nbns = bin_counts(1 + floor(numel(bin_counts) * rand()));
x = randn(m, n) .* 10 .^ round(8 * rand(m, n) - 4);
y = tentfill2(x, nbns);
end

function y = trainfold_mex_trial(~)
b = floor(200 * rand());
spinds = sort(300 * rand(b, 1) - 20);
h_currents = randn(1 + floor(60 * rand()), 1 + floor(3 * rand())) .* ...
             10 .^ round(6 * rand() - 3);
T0 = floor(200 * rand()) - 30;
y = trainfold_mex(spinds, h_currents, [T0, T0 + floor(150 * rand())]);
end

function g = tentfill2_adjoint_trial(bin_counts)
nbns = max(1, bin_counts(1 + floor(numel(bin_counts) * rand())));
m = 1 + floor(40 * rand());
n = 1 + floor(4 * rand()) * (rand() < 0.5);
f = m * fix(nbns);
r = randn(f, n) .* 10 .^ round(8 * rand(f, n) - 4);
g = tentfill2_adjoint(r, nbns);
end

function g = trainfold_adjoint_trial(~)
b = floor(200 * rand());
spinds = sort(300 * rand(b, 1) - 20);
T0 = floor(200 * rand()) - 30;
T1 = T0 + floor(150 * rand());
r = randn(T1 - T0 + 1, 1 + floor(3 * rand())) .* 10 .^ round(6 * rand() - 3);
g = trainfold_adjoint(spinds, r, [T0, T1], floor(60 * rand()));
end

function y = trainfold_pop_trial(~)
b = floor(200 * rand());
N = 1 + floor(4 * rand());
spinds = sort(300 * rand(b, 1) - 20);
ids = 1 + floor(N * rand(b, 1));
h_currents = randn(1 + floor(60 * rand()), N * (1 + floor(3 * rand()))) .* ...
             10 .^ round(6 * rand() - 3);
T0 = floor(200 * rand()) - 30;
y = trainfold_pop(spinds, ids, h_currents, [T0, T0 + floor(150 * rand())], N);
end

function g = trainfold_pop_adjoint_trial(~)
b = floor(200 * rand());
N = 1 + floor(4 * rand());
spinds = sort(300 * rand(b, 1) - 20);
ids = 1 + floor(N * rand(b, 1));
T0 = floor(200 * rand()) - 30;
T1 = T0 + floor(150 * rand());
r = randn(T1 - T0 + 1, 1 + floor(3 * rand())) .* 10 .^ round(6 * rand() - 3);
g = trainfold_pop_adjoint(spinds, ids, r, [T0, T1], floor(60 * rand()), N);
end

function y = trainfold_multi_trial(~)
b = floor(200 * rand());
N = 1 + floor(4 * rand());
spinds = sort(300 * rand(b, 1) - 20);
ids = 1 + floor(N * rand(b, 1));
h_currents = randn(1 + floor(6 * rand()), N * (1 + floor(60 * rand()))) .* ...
             10 .^ round(6 * rand() - 3);
T0 = floor(200 * rand()) - 30;
y = trainfold_multi(spinds, ids, h_currents, [T0, T0 + floor(150 * rand())], N);
end

function g = trainfold_multi_adjoint_trial(~)
b = floor(200 * rand());
N = 1 + floor(4 * rand());
spinds = sort(300 * rand(b, 1) - 20);
ids = 1 + floor(N * rand(b, 1));
T0 = floor(200 * rand()) - 30;
T1 = T0 + floor(150 * rand());
r = randn(1 + floor(6 * rand()), T1 - T0 + 1) .* 10 .^ round(6 * rand() - 3);
g = trainfold_multi_adjoint(spinds, ids, r, [T0, T1], floor(60 * rand()), N);
end

function y = rate_exp_trial(~)
% Linear predictors of every magnitude, past both thresholds and into the
% subnormal results, in blocks of every length around the vector width.
m = floor(40 * rand());
n = 1 + floor(3 * rand());
eta = (1500 * rand(m, n) - 760) .* (rand(m, n) < 0.3) + ...
      randn(m, n) .* 10 .^ round(6 * rand(m, n) - 4);
y = rate_exp(eta);
end
