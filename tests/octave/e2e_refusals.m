function t = e2e_refusals(t)
%E2E_REFUSALS Arguments the modules refuse: each raises its message.
%   Wrong argument counts, arguments of other classes, sparse arrays, and
%   values outside the 32-bit domain of bin counts and windows. A crash here
%   ends the Octave process, which fails the run.

% tentfill2 messages.
tf_args = 'tentfill needs 2 input args: x, nbns';
tf_x_class = 'x must be a full (non-sparse) double array';
tf_nbns_class = 'nbns must be a full (non-sparse) double array';
tf_nbns_empty = ...
    'nbns is empty; it must hold the number of fine bins per coarse bin';
tf_x_dims = 'x has more than 2^31 - 1 rows or columns';
tf_nbns_range = ['nbns must be a number greater than -1 and ' ...
                 'less than 2^31 (not NaN or Inf)'];
tf_rows = ['the result would have more than 2^31 - 1 rows ' ...
           '(size(x, 1) * fix(nbns))'];
% trainfold_mex messages.
tm_args = 'needs 3 input args:  trainfold_mex(spinds, h_currents, twin)';
tm_column = ['trainfold_mex: Spike Times Must Be Passed in As a COLUMN ' ...
             'Vector!!'];
tm_spinds_class = 'spinds must be a full (non-sparse) double array';
tm_h_class = 'h_currents must be a full (non-sparse) double array';
tm_twin_class = 'twin must be a full (non-sparse) double array';
tm_twin_count = ['twin must hold two values, the first and ' ...
                 'last bin of the window'];
tm_dims = ['spinds or h_currents has more than 2^31 - 1 ' ...
           'rows or columns'];
tm_twin_range = ['twin values must be numbers within the ' ...
                 '32-bit integer range (not NaN or Inf)'];
tm_twin_order = ['twin(2) must be at least twin(1) - 1 (the ' ...
                 'window would have a negative number of rows)'];
tm_twin_rows = ['the window twin(1) .. twin(2) has more ' ...
                'than 2^31 - 1 bins'];

x = [1; 2];
s = [1; 2];
h = [1; 2; 3];
w = [0 4];
huge = 2^31;
% {name, function, arguments, message}
cases = {
  'no arguments', @tentfill2, {}, tf_args
  'one argument', @tentfill2, {x}, tf_args
  'three arguments', @tentfill2, {x, 4, 1}, tf_args
  'nbns empty', @tentfill2, {x, []}, tf_nbns_empty
  'nbns 0x3', @tentfill2, {x, zeros(0, 3)}, tf_nbns_empty
  'nbns NaN', @tentfill2, {x, NaN}, tf_nbns_range
  'nbns Inf', @tentfill2, {x, Inf}, tf_nbns_range
  'nbns -Inf', @tentfill2, {x, -Inf}, tf_nbns_range
  'nbns -1', @tentfill2, {x, -1}, tf_nbns_range
  'nbns -7.5', @tentfill2, {x, -7.5}, tf_nbns_range
  'nbns 2^31', @tentfill2, {x, huge}, tf_nbns_range
  'nbns 1e300', @tentfill2, {x, 1e300}, tf_nbns_range
  'nbns NaN with no rows', @tentfill2, {zeros(0, 1), NaN}, tf_nbns_range
  'm * E = 2^31', @tentfill2, {x, 2^30}, tf_rows
  'm * E beyond 2^31 - 1 with no columns', @tentfill2, ...
      {zeros(3, 0), 2^30}, tf_rows
  'm * E wraps to a small count', @tentfill2, {zeros(4, 1), 2^30 + 1}, tf_rows
  'x with 2^31 columns', @tentfill2, {zeros(0, huge), 1}, tf_x_dims
  'x with 2^31 rows', @tentfill2, {zeros(huge, 0), 1}, tf_x_dims
  'x single', @tentfill2, {single(x), 2}, tf_x_class
  'x int8', @tentfill2, {int8(x), 2}, tf_x_class
  'x uint8', @tentfill2, {uint8(x), 2}, tf_x_class
  'x int16', @tentfill2, {int16(x), 2}, tf_x_class
  'x uint16', @tentfill2, {uint16(x), 2}, tf_x_class
  'x int32', @tentfill2, {int32(x), 2}, tf_x_class
  'x uint32', @tentfill2, {uint32(x), 2}, tf_x_class
  'x int64', @tentfill2, {int64(x), 2}, tf_x_class
  'x uint64', @tentfill2, {uint64(x), 2}, tf_x_class
  'x logical', @tentfill2, {true(2, 1), 2}, tf_x_class
  'x char', @tentfill2, {'ab', 2}, tf_x_class
  'x cell', @tentfill2, {{1; 2}, 2}, tf_x_class
  'x struct', @tentfill2, {struct('a', {1; 2}), 2}, tf_x_class
  'x sparse', @tentfill2, {sparse(x), 2}, tf_x_class
  'x sparse complex', @tentfill2, {sparse(complex(x, 1)), 2}, tf_x_class
  'x function handle', @tentfill2, {@sin, 2}, tf_x_class
  'nbns single', @tentfill2, {x, single(2)}, tf_nbns_class
  'nbns int32', @tentfill2, {x, int32(2)}, tf_nbns_class
  'nbns uint64', @tentfill2, {x, uint64(2)}, tf_nbns_class
  'nbns logical', @tentfill2, {x, true}, tf_nbns_class
  'nbns char', @tentfill2, {x, '4'}, tf_nbns_class
  'nbns cell', @tentfill2, {x, {4}}, tf_nbns_class
  'nbns struct', @tentfill2, {x, struct('n', 4)}, tf_nbns_class
  'nbns sparse', @tentfill2, {x, sparse(4)}, tf_nbns_class
  'nbns empty sparse', @tentfill2, {x, sparse(0, 0)}, tf_nbns_class

  'no arguments', @trainfold_mex, {}, tm_args
  'two arguments', @trainfold_mex, {s, h}, tm_args
  'two arguments, spinds a row', @trainfold_mex, {s', h}, tm_args
  'four arguments', @trainfold_mex, {s, h, w, 1}, tm_args
  'four arguments, spinds a row', @trainfold_mex, {s', h, w, 1}, tm_args
  'spinds 1x3 row', @trainfold_mex, {[1 2 3], h, w}, tm_column
  'spinds 0x2', @trainfold_mex, {zeros(0, 2), h, w}, tm_column
  'spinds 2x2', @trainfold_mex, {ones(2), h, w}, tm_column
  'spinds 1x2x2', @trainfold_mex, {ones(1, 2, 2), h, w}, tm_column
  'spinds int8 row', @trainfold_mex, {int8([1 2]), h, w}, tm_column
  'spinds char row', @trainfold_mex, {'ab', h, w}, tm_column
  'spinds 0 x 2^31', @trainfold_mex, {zeros(0, huge), h, w}, tm_column
  'spinds 2^31 x 0', @trainfold_mex, {zeros(huge, 0), h, w}, tm_dims
  'h_currents 0 x 2^31', @trainfold_mex, {s, zeros(0, huge), w}, tm_dims
  'twin empty', @trainfold_mex, {s, h, []}, tm_twin_count
  'twin one value', @trainfold_mex, {s, h, 5}, tm_twin_count
  'twin NaN first', @trainfold_mex, {s, h, [NaN 4]}, tm_twin_range
  'twin NaN second', @trainfold_mex, {s, h, [0 NaN]}, tm_twin_range
  'twin Inf', @trainfold_mex, {s, h, [0 Inf]}, tm_twin_range
  'twin -Inf', @trainfold_mex, {s, h, [-Inf 4]}, tm_twin_range
  'twin 2^31', @trainfold_mex, {s, h, [0 huge]}, tm_twin_range
  'twin -2^31 - 1', @trainfold_mex, {s, h, [-huge - 1, 0]}, tm_twin_range
  'twin 1e300', @trainfold_mex, {s, h, [1e300 1e300]}, tm_twin_range
  'twin [5 3]', @trainfold_mex, {s, h, [5 3]}, tm_twin_order
  'twin [5 -100]', @trainfold_mex, {s, h, [5 -100]}, tm_twin_order
  'twin [2^31 - 1, -2^31]', @trainfold_mex, ...
      {s, h, [huge - 1, -huge]}, tm_twin_order
  'twin [0, 2^31 - 1]: 2^31 rows', @trainfold_mex, ...
      {s, zeros(3, 0), [0, huge - 1]}, tm_twin_rows
  'twin [-2^31, 2^31 - 1]', @trainfold_mex, ...
      {s, h, [-huge, huge - 1]}, tm_twin_rows
  'spinds single', @trainfold_mex, {single(s), h, w}, tm_spinds_class
  'spinds int8', @trainfold_mex, {int8(s), h, w}, tm_spinds_class
  'spinds uint8', @trainfold_mex, {uint8(s), h, w}, tm_spinds_class
  'spinds int16', @trainfold_mex, {int16(s), h, w}, tm_spinds_class
  'spinds uint16', @trainfold_mex, {uint16(s), h, w}, tm_spinds_class
  'spinds int32', @trainfold_mex, {int32(s), h, w}, tm_spinds_class
  'spinds uint32', @trainfold_mex, {uint32(s), h, w}, tm_spinds_class
  'spinds int64', @trainfold_mex, {int64(s), h, w}, tm_spinds_class
  'spinds uint64', @trainfold_mex, {uint64(s), h, w}, tm_spinds_class
  'spinds logical', @trainfold_mex, {true(2, 1), h, w}, tm_spinds_class
  'spinds char', @trainfold_mex, {'a', h, w}, tm_spinds_class
  'spinds cell', @trainfold_mex, {{1; 2}, h, w}, tm_spinds_class
  'spinds struct', @trainfold_mex, {struct('t', 1), h, w}, tm_spinds_class
  'spinds sparse', @trainfold_mex, {sparse(s), h, w}, tm_spinds_class
  'h_currents single', @trainfold_mex, {s, single(h), w}, tm_h_class
  'h_currents int8', @trainfold_mex, {s, int8(h), w}, tm_h_class
  'h_currents uint64', @trainfold_mex, {s, uint64(h), w}, tm_h_class
  'h_currents logical', @trainfold_mex, {s, true(3, 1), w}, tm_h_class
  'h_currents char', @trainfold_mex, {s, 'abc', w}, tm_h_class
  'h_currents cell', @trainfold_mex, {s, {h}, w}, tm_h_class
  'h_currents struct', @trainfold_mex, {s, struct('h', h), w}, tm_h_class
  'h_currents sparse', @trainfold_mex, {s, sparse(h), w}, tm_h_class
  'twin single', @trainfold_mex, {s, h, single(w)}, tm_twin_class
  'twin int32', @trainfold_mex, {s, h, int32(w)}, tm_twin_class
  'twin uint16', @trainfold_mex, {s, h, uint16(w)}, tm_twin_class
  'twin logical', @trainfold_mex, {s, h, [true true]}, tm_twin_class
  'twin char', @trainfold_mex, {s, h, '04'}, tm_twin_class
  'twin cell', @trainfold_mex, {s, h, {0, 4}}, tm_twin_class
  'twin struct', @trainfold_mex, {s, h, struct('a', {0, 4})}, tm_twin_class
  'twin sparse', @trainfold_mex, {s, h, sparse(w)}, tm_twin_class
};
for i = 1:size(cases, 1)
  [name, fn, args, message] = cases{i, :};
  t = expect_error(t, [func2str(fn) ' ' name], fn, args, message);
end

% A refusal leaves the module usable: the next call works.
t = expect_bits(t, 'tentfill2 after refusals', tentfill2([1; 2], 4), ...
                [0.75; 1; 1.25; 1.5; 1.75; 2; 1.5; 1]);
t = expect_bits(t, 'trainfold_mex after refusals', ...
                trainfold_mex([8; 10.5; 13.2; 14], [1; 10; 100], [10 13]), ...
                [101; 10; 100; 1]);
end
