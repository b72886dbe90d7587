% Tests of the population GLM's private helpers (toolbox/private, next to
% the modules in <module dir>/private), reached through handles made in
% their folder: the L-BFGS refuses points where the objective or its
% gradient is not finite; glm_constants keeps the shape other tools read.

%!function h = private_handle (name)
%!  folder = fullfile (fileparts (which ("spike_glm_fit")), "private");
%!  here = cd (folder);
%!  unwind_protect
%!    h = str2func (name);
%!  unwind_protect_cleanup
%!    cd (here);
%!  end_unwind_protect
%!endfunction

%!function h = lbfgs ()
%!  h = private_handle ("glm_lbfgs");
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

%!test
%! ## glm_constants.m: after its help, one "c.<name> = <number>;" per line
%! ## and nothing else (a test of the Python package parses these lines),
%! ## and the numbers parsed are those the function returns.
%! file = fullfile (fileparts (which ("spike_glm_fit")), "private", "glm_constants.m");
%! lines = strsplit (strtrim (fileread (file)), "\n");
%! assert (lines{1}, "function c = glm_constants()");
%! body = lines(! strncmp (lines, "%", 1));
%! body = body(2:end);
%! c = feval (private_handle ("glm_constants"));
%! names = fieldnames (c);
%! assert (numel (body), numel (names));
%! for k = 1:numel (body)
%!   t = regexp (body{k}, '^c\.([a-z_]+) = ([-+0-9.e]+);$', "tokens", "once");
%!   assert (numel (t) == 2, "line: %s", body{k});
%!   assert (t{1}, names{k});
%!   assert (str2double (t{2}), c.(names{k}));
%! endfor
