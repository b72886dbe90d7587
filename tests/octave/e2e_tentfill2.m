function t = e2e_tentfill2(t)
%E2E_TENTFILL2 tentfill2 results, bit for bit, against the Octave references.

% The compiled module, not its help file, answers the call.
t = expect_true(t, 'tentfill2 resolves to the module', ...
                exist('tentfill2') == 3 && ...
                ~isempty(regexp(which('tentfill2'), '\.mex$', 'once')), ...
                which('tentfill2'));

% Worked examples: {name, x, nbns, expected}.
inf_nan = [Inf; NaN];
examples = {
  'nbns 4, (a, b)', [1; 2], 4, [0.75; 1; 1.25; 1.5; 1.75; 2; 1.5; 1]
  'nbns 2, (a, b)', [3; 5], 2, [3; 4; 5; 2.5]
  'nbns 2.5, (1, 2, 3)', [1; 2; 3], 2.5, ...
      [0.8; 1.2000000000000002; 1.6; 2.0; 2.4000000000000004; ...
       1.2000000000000002]
  'one column, nbns 3, (0.1, 0.7)', [0.1; 0.7], 3, ...
      [0.06666666666666667; 0.1; 0.29999999999999993; 0.5; ...
       0.6999999999999998; 0.4666666666666666]
  'two columns, nbns 3, (0.1, 0.7) twice', [0.1 0.1; 0.7 0.7], 3, ...
      repmat([0.06666666666666667; 0.1; 0.3; 0.49999999999999994; 0.7; ...
              0.4666666666666666], 1, 2)
  'one sample, nbns 3', 6, 3, [(2 * (1 / 3)) * 6; 6; (2 * (1 / 3)) * 6]
  'nbns 1 keeps the values, -0 becomes +0', [2; -0; 5], 1, [2; 0; 5]
  'Inf before a sample: NaN on its landing row', [1; Inf; 3], 3, ...
      [2/3; 1; Inf; Inf; Inf; Inf; Inf; NaN; 2]
  'nbns 1, (Inf, 2)', [Inf; 2], 1, inf_nan
  'head ramp weight 49 * (1/49) rounds below 1', 1, 49, ...
      [(25:49)' * (1 / 49); (48:-1:25)' * (1 / 49)]
  'nbns 0.5: no rows', [1 2; 3 4], 0.5, zeros(0, 2)
  'nbns -0.999: no rows', [1; 2], -0.999, zeros(0, 1)
  'no columns', zeros(3, 0), 4, zeros(12, 0)
  'no rows while E >= 1', zeros(0, 3), 4, zeros(0, 3)
  'nbns [4 7] uses 4', [1; 2], [4 7], [0.75; 1; 1.25; 1.5; 1.75; 2; 1.5; 1]
  'largest row count with no columns', zeros(1, 0), 2^31 - 1, ...
      zeros(2^31 - 1, 0)
};
for i = 1:size(examples, 1)
  [name, x, nbns, expected] = examples{i, :};
  t = expect_bits(t, ['tentfill2 ' name], tentfill2(x, nbns), expected);
end
y = tentfill2([0.5; 1.25; -3.7619803885035443], 3);
t = expect_bits(t, 'tentfill2 landing row differs in the last bit', y(8), ...
                -3.761980388503544);
t = expect_bits(t, 'tentfill2 49 * (1/49)', max(tentfill2(1, 49)), ...
                0.9999999999999999);

% The one-column and many-column forms share head and tail ramps.
x = [0.1; 0.7; -2.3];
one = tentfill2(x, 7);
two = tentfill2([x x], 7);
ramp_rows = [1:4, 19:21];
t = expect_bits(t, 'tentfill2 ramps equal in both forms', two(ramp_rows, 1), ...
                one(ramp_rows));
t = expect_bits(t, 'tentfill2 columns independent', two(:, 1), two(:, 2));

% A 1-row, many-column x: each column a head ramp followed by a tail ramp.
t = expect_bits(t, 'tentfill2 one row, three columns', ...
                tentfill2([3 -1 0.1], 3), ref_tentfill2([3 -1 0.1], 3));

% Where nothing rounds, the whole-signal view gives the same bits.
rand('state', 11);
for nbns = [1 2 4 8]
  x = round(20 * rand(5, 3)) - 10;
  t = expect_bits(t, sprintf('tentfill2 padded view, nbns %d, 3 columns', ...
                             nbns), tentfill2(x, nbns), ...
                  ref_tentfill2_padded(x, nbns));
  t = expect_bits(t, sprintf('tentfill2 padded view, nbns %d, 1 column', ...
                             nbns), tentfill2(x(:, 1), nbns), ...
                  ref_tentfill2_padded(x(:, 1), nbns));
end

% Random inputs: shapes, bin counts (whole, fractional, negative, small) and
% magnitudes that make the last bits matter.
randn('state', 7);
rand('state', 7);
bin_counts = [1 2 3 4 5 7 8 10 16 49 2.5 3.7 1.999 0.5 -0.5 -0.999 6.02];
for trial = 1:150
  m = floor(8 * rand());
  n = floor(5 * rand());
  if rand() < 0.3
    n = 1;
  end
  nbns = bin_counts(1 + floor(numel(bin_counts) * rand()));
  x = randn(m, n) .* 10 .^ round(6 * rand(m, n) - 3);
  t = expect_bits(t, sprintf('tentfill2 random %d (%dx%d, nbns %g)', ...
                             trial, m, n, nbns), ...
                  tentfill2(x, nbns), ref_tentfill2(x, nbns));
end

% Reals of complex arguments, any further elements of nbns ignored.
x = [1.5 -2; 0.25 3; 7 1e-3];
t = expect_bits(t, 'tentfill2 complex x reads its real part', ...
                tentfill2(complex(x, ones(3, 2)), 3), tentfill2(x, 3));
t = expect_bits(t, 'tentfill2 complex nbns reads its real part', ...
                tentfill2(x, complex(3, 5)), tentfill2(x, 3));
t = expect_bits(t, 'tentfill2 nbns matrix reads its first element', ...
                tentfill2(x, [3 9; 4 5]), tentfill2(x, 3));
% More than two dimensions: the columns are all trailing dimensions.
x3 = reshape(1:12, 2, 3, 2) / 7;
t = expect_bits(t, 'tentfill2 3-D x as 2x6', tentfill2(x3, 2), ...
                ref_tentfill2(reshape(x3, 2, 6), 2));
end
