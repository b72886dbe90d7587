function t = e2e_help(t)
%E2E_HELP The help files next to the modules answer "help"; calls run the
%   modules.
module_dir = fileparts(which('tentfill2'));
pages = {
  'tentfill2', 'TENTFILL2 Upsample binned signals', 'See also TRAINFOLD_MEX'
  'trainfold_mex', 'TRAINFOLD_MEX Windowed sums of filters', ...
      'See also TENTFILL2'
};
for i = 1:size(pages, 1)
  [name, first_line, see_also] = pages{i, :};
  text = evalc(['help ' name]);
  t = expect_true(t, ['help ' name ' prints its help file'], ...
                  ~isempty(strfind(text, first_line)) && ...
                  ~isempty(strfind(text, see_also)), text);
  t = expect_true(t, ['help ' name ' comes from the module folder'], ...
                  exist(fullfile(module_dir, [name '.m']), 'file') == 2 && ...
                  ~isempty(regexp(which(name), '\.mex$', 'once')), which(name));
end
% Octave prints a folder's Contents.m for "help <folder>".
text = evalc('help(module_dir)');
t = expect_true(t, 'help <module folder> prints Contents.m', ...
                ~isempty(strfind(text, 'tentfill2     - Upsample')) && ...
                ~isempty(strfind(text, 'trainfold_mex - Windowed')), text);
end
