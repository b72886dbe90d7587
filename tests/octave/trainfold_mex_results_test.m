## trainfold_mex against the Octave reference ref_trainfold, bit for bit:
## random ascending trains, and trains in any order with NaN, negative and
## infinite times. ref_trainfold and same_bits come from the folder of this
## file (on the path, or the current folder).

%!# Random ascending, non-negative trains with fractional windows.
%!test
%! rand ("state", 3);
%! randn ("state", 3);
%! for trial = 1:120
%!   b = floor (12 * rand ());
%!   spinds = sort (floor (40 * rand (b, 1)) + (rand (b, 1) < 0.5) .* rand (b, 1));
%!   c = floor (7 * rand ());
%!   K = floor (4 * rand ());
%!   h_currents = randn (c, K) .* 10 .^ round (4 * rand (c, K) - 2);
%!   T0 = floor (45 * rand ()) - 3 + (rand () < 0.3) * 0.6;
%!   twin = [T0, T0 + floor(20 * rand ()) - 1 + (rand () < 0.3) * 0.4];
%!   [ok, why] = same_bits (trainfold_mex (spinds, h_currents, twin),
%!                          ref_trainfold (spinds, h_currents, twin));
%!   assert (ok, "trial %d (b %d, %dx%d, twin %s): %s", trial, b, c, K,
%!           mat2str (twin), why);
%! endfor

%!# Random trains in any order, with NaN, negative and infinite times.
%!test
%! rand ("state", 5);
%! randn ("state", 5);
%! odd_times = [NaN -Inf Inf -3.5 -0.25 1e12 -1e12];
%! for trial = 1:120
%!   b = floor (10 * rand ());
%!   spinds = 60 * rand (b, 1) - 10;
%!   odd = rand (b, 1) < 0.15;
%!   spinds(odd) = odd_times(1 + floor (numel (odd_times) * rand (nnz (odd), 1)));
%!   c = floor (6 * rand ());
%!   K = 1 + floor (3 * rand ());
%!   h_currents = randn (c, K);
%!   T0 = floor (50 * rand ()) - 10;
%!   twin = [T0, T0 + floor(25 * rand ()) - 1];
%!   [ok, why] = same_bits (trainfold_mex (spinds, h_currents, twin),
%!                          ref_trainfold (spinds, h_currents, twin));
%!   assert (ok, "trial %d (%s, twin %s): %s", trial, mat2str (spinds', 4),
%!           mat2str (twin), why);
%! endfor
