function modules = module_table()
%MODULE_TABLE The modules of build_scripts/modules.txt, one struct each.
%   MODULES = MODULE_TABLE() returns a struct array with the fields name,
%   kernel, reference (the plain-Octave reference of this folder),
%   arguments (a cell array of the argument names), example (a valid
%   call's arguments, a cell array), result (that call's result as a
%   row) and real_only (true for a module that refuses complex arguments
%   instead of reading their real parts), in the list's order.
%   The cross-module tests run over it, so that a module added to the list
%   is checked by each of them or makes them fail.
%   The list is read next to this file (the Octave package's tests) or from
%   the repository.
here = fileparts(mfilename('fullpath'));
list_file = fullfile(here, 'modules.txt');
if ~exist(list_file, 'file')
  list_file = fullfile(fileparts(fileparts(here)), 'build_scripts', ...
                       'modules.txt');
end
% The one M reader of the list: read_module_list.m, beside this file in the
% Octave package, in build_scripts/ of the repository.
if exist('read_module_list', 'file') ~= 2
  addpath(fullfile(fileparts(fileparts(here)), 'build_scripts'));
end
rows = read_module_list(list_file);
% The modules whose result would be wrong on a complex argument's real
% part (exp of a complex value is not exp of its real part): their gateways
% refuse complex arguments, the others read the real part.
real_only = {'rate_exp'};
modules = struct('name', {}, 'kernel', {}, 'reference', {}, ...
                 'arguments', {}, 'example', {}, 'result', {}, ...
                 'real_only', {});
for i = 1:numel(rows)
  fields = rows(i).fields;
  example = cellfun(@eval, strsplit(fields{5}, '|'), 'UniformOutput', false);
  modules(end + 1) = struct('name', fields{1}, 'kernel', fields{2}, ...
                            'reference', fields{3}, ...
                            'arguments', {strsplit(fields{4}, ',')}, ...
                            'example', {example}, ...
                            'result', str2double(strsplit(fields{6}, ',')), ...
                            'real_only', any(strcmp(fields{1}, real_only)));
end
end
