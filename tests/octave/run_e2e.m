function run_e2e(module_dir, varargin)
%RUN_E2E Run end-to-end suites on the modules in MODULE_DIR, then exit.
%   RUN_E2E(MODULE_DIR, SUITE1, SUITE2, ...) puts MODULE_DIR first on the
%   path, runs each named suite function (each takes and returns a tally made
%   by NEW_TALLY), prints "N passed, M failed" and exits Octave with status 0
%   only when every check passed and no suite stopped on an unexpected error.
%   The exit status is the result: whatever Octave prints while shutting
%   down does not change it.
status = 1;
try
  addpath(module_dir);
  t = new_tally();
  for i = 1:numel(varargin)
    suite = varargin{i};
    before = t.failed;
    t = feval(suite, t);
    printf('%s: %d checks so far, %d new failures\n', suite, t.passed + ...
           t.failed, t.failed - before);
  end
  printf('%d passed, %d failed\n', t.passed, t.failed);
  if t.failed == 0 && t.passed > 0
    status = 0;
  end
catch err
  printf('suite stopped on an unexpected error: %s\n', err.message);
  for k = 1:numel(err.stack)
    printf('  at %s line %d\n', err.stack(k).name, err.stack(k).line);
  end
end
exit(status);
end
