% Tests of the population GLM's L-BFGS (toolbox/private/glm_lbfgs.m, next
% to the modules in <module dir>/private): a point where the objective or
% its gradient is not finite is a rejected step. The private function is
% reached through a handle made in its folder.

%!function h = lbfgs ()
%!  folder = fullfile (fileparts (which ("spike_glm_fit")), "private");
%!  here = cd (folder);
%!  unwind_protect
%!    h = @glm_lbfgs;
%!  unwind_protect_cleanup
%!    cd (here);
%!  end_unwind_protect
%!endfunction

%!function [f, g] = walled (x, wall, kind)
%!  ## (x - 3)^2 below WALL; past it the value or the gradient is lost.
%!  f = (x - 3) ^ 2;
%!  g = 2 * (x - 3);
%!  if x >= wall
%!    switch kind
%!      case "gradient"
%!        g = NaN;
%!      case "value"
%!        f = Inf;
%!      case "both"
%!        f = NaN; g = Inf;
%!    endswitch
%!  endif
%!endfunction

%!test
%! ## The minimum at 3 lies past the wall at 1.5: every step that crosses it
%! ## is refused, the solver stops short at a finite point, not converged.
%! h = lbfgs ();
%! for kind = {"gradient", "value", "both"}
%!   [x, iters, converged, f, g] = h (@(x) walled (x, 1.5, kind{1}), 0, 1, 1e-8, 50, []);
%!   assert (all (isfinite ([x, f, g])), "%s: not finite", kind{1});
%!   assert (x < 1.5 && x > 1, "%s: x = %g", kind{1}, x);
%!   assert (! converged, "%s: converged", kind{1});
%! endfor

%!test
%! ## Not finite at the start: returns at once, not converged.
%! h = lbfgs ();
%! [x, iters, converged] = h (@(x) walled (x, -1, "gradient"), 0, 1, 1e-8, 50, []);
%! assert ([x, iters, converged], [0, 0, 0]);
