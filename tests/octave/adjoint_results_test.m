## tentfill2_adjoint and trainfold_adjoint against the Octave references,
## bit for bit, on random inputs; and each against its forward module through
## the adjoint identity on random inputs.

%!# tentfill2_adjoint: shapes, bin counts (whole, fractional) and magnitudes.
%!test
%! rand ("state", 17);
%! randn ("state", 17);
%! bin_counts = [1 2 3 4 5 7 10 49 2.5 3.7 1.999 6.02];
%! for trial = 1:100
%!   nbns = bin_counts(1 + floor (numel (bin_counts) * rand ()));
%!   m = floor (12 * rand ());
%!   n = 1 + floor (3 * rand ());
%!   r = randn (m * fix (nbns), n) .* 10 .^ round (6 * rand (m * fix (nbns), n) - 3);
%!   [ok, why] = same_bits (tentfill2_adjoint (r, nbns), ref_tentfill2_adjoint (r, nbns));
%!   assert (ok, "trial %d (%d samples, nbns %g): %s", trial, m, nbns, why);
%! endfor

%!# trainfold_adjoint: windows, tap counts, spike times ascending, unsorted,
%!# negative and NaN.
%!test
%! rand ("state", 23);
%! randn ("state", 23);
%! for trial = 1:100
%!   T0 = floor (20 * rand ()) - 10;
%!   T1 = T0 - 1 + floor (30 * rand ());
%!   c = floor (12 * rand ());
%!   spinds = T0 - c - 3 + (T1 - T0 + c + 6) * rand (floor (15 * rand ()), 1);
%!   if (rand () < 0.5)
%!     spinds = sort (spinds);
%!   endif
%!   if (numel (spinds) > 0 && rand () < 0.2)
%!     spinds(1 + floor (numel (spinds) * rand ())) = NaN;
%!   endif
%!   r = randn (T1 - T0 + 1, 1 + floor (3 * rand ()));
%!   [ok, why] = same_bits (trainfold_adjoint (spinds, r, [T0 T1], c),
%!                          ref_trainfold_adjoint (spinds, r, [T0 T1], c));
%!   assert (ok, "trial %d: %s", trial, why);
%! endfor

%!# The identity <A h, r> = <h, A' r> within rounding (the kernel tests
%!# derive the bound; here a loose relative one).
%!test
%! rand ("state", 5);
%! randn ("state", 5);
%! for trial = 1:50
%!   nbns = 1 + 9 * rand ();
%!   x = randn (1 + floor (20 * rand ()), 2);
%!   r = randn (rows (x) * fix (nbns), 2);
%!   y = tentfill2 (x, nbns);
%!   lhs = sum (sum (y .* r));
%!   rhs = sum (sum (x .* tentfill2_adjoint (r, nbns)));
%!   assert (abs (lhs - rhs) <= 1e-12 * sum (sum (abs (y) .* abs (r))) + 1e-300);
%!   spinds = sort (40 * rand (30, 1) - 5);
%!   h = randn (7, 2);
%!   r = randn (31, 2);
%!   y = trainfold_mex (spinds, h, [0 30]);
%!   lhs = sum (sum (y .* r));
%!   rhs = sum (sum (h .* trainfold_adjoint (spinds, r, [0 30], 7)));
%!   assert (abs (lhs - rhs) <= 1e-12 * sum (sum (abs (h))) * sum (sum (abs (r))));
%! endfor
