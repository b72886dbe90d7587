function run_tests(module_dir, varargin)
%RUN_TESTS Run Octave's test on files of %! blocks against MODULE_DIR, exit.
%   RUN_TESTS(MODULE_DIR, FILE1, FILE2, ...) puts MODULE_DIR first on the
%   path, runs test(FILE) on each file (a path, or a name looked up on the
%   path, so 'tentfill2' takes the help file next to the module), prints
%   each file's count, and exits Octave with status 0 only when every file
%   had tests and all of them passed. The folder of this file holds the
%   references and same_bits that the result tests call; the caller puts it
%   on the path (it is where RUN_TESTS itself comes from).
status = 1;
try
  addpath(module_dir);
  failed_files = 0;
  total = 0;
  for i = 1:numel(varargin)
    [passed, count] = test(varargin{i}, 'quiet', stdout);
    printf('%s: %d of %d tests passed\n', varargin{i}, passed, count);
    total = total + count;
    if count == 0 || passed < count
      failed_files = failed_files + 1;
    end
  end
  printf('%d tests in %d files, %d files with failures\n', total, ...
         numel(varargin), failed_files);
  if failed_files == 0 && numel(varargin) > 0
    status = 0;
  end
catch err
  printf('tests stopped on an unexpected error: %s\n', err.message);
end
exit(status);
end
