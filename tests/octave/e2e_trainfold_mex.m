function t = e2e_trainfold_mex(t)
%E2E_TRAINFOLD_MEX trainfold_mex results, bit for bit, against the references.

t = expect_true(t, 'trainfold_mex resolves to the module', ...
                exist('trainfold_mex') == 3 && ...
                ~isempty(regexp(which('trainfold_mex'), '\.mex$', 'once')), ...
                which('trainfold_mex'));

p = 1;
q = 10;
r = 100;
filter = [1; 2; 4];
order_filter = [0.1; 1/3; 0.7];
% Worked examples: {name, spinds, h_currents, twin, expected}.
examples = {
  'spikes 8, 10.5, 13.2, 14 in bins 10..13', [8; 10.5; 13.2; 14], ...
      [p; q; r], [10 13], [r + p; q; r; p]
  'spike at L adds its last tap to row 1', 8, [p; q; r], [10 13], [r; 0; 0; 0]
  'spike just below L is skipped', 7.999, [p; q; r], [10 13], zeros(4, 1)
  'spike at T1 + 0.5 adds tap 0 to the last row', 13.5, [p; q; r], ...
      [10 13], [0; 0; 0; p]
  'spike at T1 + 1 ends the scan', [13; 14; 14], [p; q; r], [10 13], ...
      [0; 0; 0; p]
  'two spikes in one bin', [11; 11.9], [p; q; r], [10 13], [0; 2; 20; 200]
  'no spikes', zeros(0, 1), [p; q; r], [10 13], zeros(4, 1)
  'no spikes, 0x0', [], [p; q; r], [10 13], zeros(4, 1)
  'rows with no column hold no spikes', zeros(3, 0), [p; q; r], [0 3], ...
      zeros(4, 1)
  'filters without taps', [1; 2; 3], zeros(0, 2), [0 3], zeros(4, 2)
  'no filters', [1; 2; 3], zeros(3, 0), [0 3], zeros(4, 0)
  'window [5 5]: one row', [4; 5], [p; q; r], [5 5], q + p
  'window [5 4]: no rows', [4; 5], [p; q; r], [5 4], zeros(0, 1)
  'window with fractions', 2, [p; q], [2.7 9.2], [p; q; 0; 0; 0; 0; 0; 0]
  'three filters, three columns', [0; 1], [1 2 3; 4 5 6], [0 2], ...
      [1 2 3; 5 7 9; 4 5 6]
  'out of order: 50 ends the scan', [2; 50; 3; 4], filter, [1 10], ...
      [0; 1; 2; 4; 0; 0; 0; 0; 0; 0]
  'NaN ends the scan', [1; NaN; 2], filter, [1 5], [1; 2; 4; 0; 0]
  'NaN before the first reachable spike', [NaN; 2], filter, [1 5], zeros(5, 1)
  'spike at -0.5 lies in bin 0', -0.5, filter, [1 5], [2; 4; 0; 0; 0]
  'spike at -1.0 lies in bin -1', -1.0, filter, [1 5], [4; 0; 0; 0; 0]
  'spike at -1.5 is skipped', -1.5, filter, [1 5], zeros(5, 1)
  'far-away spikes after the skip add nothing', [3; -1e12; -Inf; 4], ...
      filter, [1 5], [0; 0; 1; 3; 6]
  'sums in list order (5, 3, 5, 3, 5)', [5; 3; 5; 3; 5], order_filter, ...
      [5 5], 1.7
  'sums in list order (3, 3, 5, 5, 5)', [3; 3; 5; 5; 5], order_filter, ...
      [5 5], 1.7000000000000002
  'window at the bottom of the 32-bit range', [-2^31; -2^31 + 1.5], ...
      [p; q], [-2^31 -2^31 + 3], [p; q; p; q]
  'window at the top of the 32-bit range', 2^31 - 2, [p; q; r], ...
      [2^31 - 3 2^31 - 1], [0; p; q]
  'widest window with no filters', [], zeros(3, 0), [1 2^31 - 1], ...
      zeros(2^31 - 1, 0)
};
for i = 1:size(examples, 1)
  [name, spinds, h_currents, twin, expected] = examples{i, :};
  t = expect_bits(t, ['trainfold_mex ' name], ...
                  trainfold_mex(spinds, h_currents, twin), expected);
end

% The same three times as a column are summed (as a row they are refused,
% see the refusals suite).
t = expect_bits(t, 'trainfold_mex three times as a column', ...
                trainfold_mex([1; 2; 3], [1; 1], [1 4]), [1; 2; 2; 1]);

% Random ascending, non-negative trains: the step-by-step reference and the
% plain windowed convolution agree with the module bit for bit.
rand('state', 3);
randn('state', 3);
for trial = 1:120
  b = floor(12 * rand());
  spinds = sort(floor(40 * rand(b, 1)) + (rand(b, 1) < 0.5) .* rand(b, 1));
  c = floor(7 * rand());
  K = floor(4 * rand());
  h_currents = randn(c, K) .* 10 .^ round(4 * rand(c, K) - 2);
  T0 = floor(45 * rand()) - 3 + (rand() < 0.3) * 0.6;
  twin = [T0, T0 + floor(20 * rand()) - 1 + (rand() < 0.3) * 0.4];
  name = sprintf('trainfold_mex random %d (b %d, %dx%d, twin %s)', trial, ...
                 b, c, K, mat2str(twin));
  y = trainfold_mex(spinds, h_currents, twin);
  t = expect_bits(t, [name ' step by step'], y, ...
                  ref_trainfold(spinds, h_currents, twin));
  t = expect_bits(t, [name ' convolution'], y, ...
                  ref_trainfold_direct(spinds, h_currents, twin));
end

% Random trains in any order, with NaN, negative and infinite times.
odd_times = [NaN -Inf Inf -3.5 -0.25 1e12 -1e12];
for trial = 1:120
  b = floor(10 * rand());
  spinds = 60 * rand(b, 1) - 10;
  for j = 1:b
    if rand() < 0.15
      spinds(j) = odd_times(1 + floor(numel(odd_times) * rand()));
    end
  end
  c = floor(6 * rand());
  K = 1 + floor(3 * rand());
  h_currents = randn(c, K);
  T0 = floor(50 * rand()) - 10;
  twin = [T0, T0 + floor(25 * rand()) - 1];
  t = expect_bits(t, sprintf('trainfold_mex unordered %d (%s, twin %s)', ...
                             trial, mat2str(spinds', 4), mat2str(twin)), ...
                  trainfold_mex(spinds, h_currents, twin), ...
                  ref_trainfold(spinds, h_currents, twin));
end

% Reals of complex arguments; twin elements past the second are ignored.
spinds = [0.5; 2; 3.25];
h_currents = [0.3 -1; 2 0.7; 5 1e-3];
expected = trainfold_mex(spinds, h_currents, [1 5]);
t = expect_bits(t, 'trainfold_mex complex spinds', ...
                trainfold_mex(complex(spinds, 1), h_currents, [1 5]), expected);
t = expect_bits(t, 'trainfold_mex complex h_currents', ...
                trainfold_mex(spinds, complex(h_currents, 2), [1 5]), expected);
t = expect_bits(t, 'trainfold_mex complex twin', ...
                trainfold_mex(spinds, h_currents, complex([1 5], 9)), expected);
t = expect_bits(t, 'trainfold_mex twin with three values', ...
                trainfold_mex(spinds, h_currents, [1 5 -100]), expected);
t = expect_bits(t, 'trainfold_mex twin as a column', ...
                trainfold_mex(spinds, h_currents, [1; 5]), expected);
end
