function results = module_results()
%MODULE_RESULTS Results of both modules over a fixed set of inputs.
%   RESULTS = MODULE_RESULTS() calls tentfill2 and trainfold_mex (whichever
%   are first on the path) on the same inputs in every run (seeded
%   generators) and returns the results in a cell array, for comparing two
%   builds of the modules bit for bit with same_bits (the package's and
%   CMake's). Shapes, bin counts and magnitudes vary so that any change in
%   rounding, such as a fused multiply-add, shows in the last bits.
rand('state', 42);
randn('state', 42);
bin_counts = [1 2 3 4 5 7 10 16 49 2.5 3.7 6.02 1e3 + 0.5];
results = cell(1, 400);
for trial = 1:200
  m = 1 + floor(40 * rand());
  n = 1 + floor(4 * rand()) * (rand() < 0.5);  % one column half the time
  nbns = bin_counts(1 + floor(numel(bin_counts) * rand()));
  x = randn(m, n) .* 10 .^ round(8 * rand(m, n) - 4);
  results{trial} = tentfill2(x, nbns);
end
for trial = 201:400
  b = floor(200 * rand());
  spinds = sort(300 * rand(b, 1) - 20);
  h_currents = randn(1 + floor(60 * rand()), 1 + floor(3 * rand())) .* ...
               10 .^ round(6 * rand() - 3);
  T0 = floor(200 * rand()) - 30;
  results{trial} = trainfold_mex(spinds, h_currents, ...
                                 [T0, T0 + floor(150 * rand())]);
end
end
