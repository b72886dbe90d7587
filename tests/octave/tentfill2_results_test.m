## tentfill2 against the Octave reference ref_tentfill2, bit for bit (NaN as
## NaN, -0 apart from +0): random shapes, bin counts and magnitudes that make
## the last bits matter, both arithmetic forms. ref_tentfill2 and same_bits
## come from the folder of this file (on the path, or the current folder).

%!# The one-column and many-column forms share the head and tail ramps.
%!test
%! x = [0.1; 0.7; -2.3];
%! one = tentfill2 (x, 7);
%! two = tentfill2 ([x x], 7);
%! ramp_rows = [1:4, 19:21];
%! [ok, why] = same_bits (two(ramp_rows, 1), one(ramp_rows));
%! assert (ok, "ramps: %s", why);
%! [ok, why] = same_bits (two(:, 1), two(:, 2));
%! assert (ok, "columns: %s", why);
%! [ok, why] = same_bits (one, ref_tentfill2 (x, 7));
%! assert (ok, "one column: %s", why);
%! [ok, why] = same_bits (two, ref_tentfill2 ([x x], 7));
%! assert (ok, "two columns: %s", why);

%!# A 1-row, many-column x: each column a head ramp, then a tail ramp.
%!test
%! [ok, why] = same_bits (tentfill2 ([3 -1 0.1], 3), ref_tentfill2 ([3 -1 0.1], 3));
%! assert (ok, "%s", why);

%!# More than two dimensions: the columns are all trailing dimensions.
%!test
%! x3 = reshape (1:12, 2, 3, 2) / 7;
%! [ok, why] = same_bits (tentfill2 (x3, 2), ref_tentfill2 (reshape (x3, 2, 6), 2));
%! assert (ok, "%s", why);

%!# Small integer samples and power-of-two bin counts, one and three columns.
%!test
%! rand ("state", 11);
%! for nbns = [1 2 4 8]
%!   x = round (20 * rand (5, 3)) - 10;
%!   for cols = {1, 1:3}
%!     [ok, why] = same_bits (tentfill2 (x(:, cols{1}), nbns),
%!                            ref_tentfill2 (x(:, cols{1}), nbns));
%!     assert (ok, "nbns %d, %d columns: %s", nbns, numel (cols{1}), why);
%!   endfor
%! endfor

%!# Random inputs: shapes, bin counts (whole, fractional, negative, small)
%!# and magnitudes.
%!test
%! randn ("state", 7);
%! rand ("state", 7);
%! bin_counts = [1 2 3 4 5 7 8 10 16 49 2.5 3.7 1.999 0.5 -0.5 -0.999 6.02];
%! for trial = 1:150
%!   m = floor (8 * rand ());
%!   n = floor (5 * rand ());
%!   if (rand () < 0.3)
%!     n = 1;
%!   endif
%!   nbns = bin_counts(1 + floor (numel (bin_counts) * rand ()));
%!   x = randn (m, n) .* 10 .^ round (6 * rand (m, n) - 3);
%!   [ok, why] = same_bits (tentfill2 (x, nbns), ref_tentfill2 (x, nbns));
%!   assert (ok, "trial %d (%dx%d, nbns %g): %s", trial, m, n, nbns, why);
%! endfor
