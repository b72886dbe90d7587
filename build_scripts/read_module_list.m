function rows = read_module_list(file)
%READ_MODULE_LIST The rows of the module list (build_scripts/modules.txt).
%   ROWS = READ_MODULE_LIST(FILE) returns a struct array, one element per
%   module row in file order, with the fields line (the row's line number,
%   from 1) and fields (a cell array of its fields, as text).
%
%   The rules, the same in every reader of the list (module_list.py,
%   module_list.awk, cmake/module_list.cmake and this file): a line whose
%   first non-blank character is # is a note; a line of blanks only is
%   skipped; any other line is a module row, fields separated by runs of
%   blanks (spaces, tabs), leading and trailing blanks and one carriage
%   return at the end of the line ignored; a row with fewer than 8 fields
%   is an error (identifier spike_bins:moduleList) that names the file and
%   the line.
%
%   Used by build_mex.m and by the tests' module_table.m.
text = fileread(file);
lines = strsplit(text, sprintf('\n'), 'CollapseDelimiters', false);
rows = struct('line', {}, 'fields', {});
for number = 1:numel(lines)
  line = regexprep(lines{number}, '\r$', '');
  line = regexprep(line, '^[ \t]+|[ \t]+$', '');
  if isempty(line) || line(1) == '#'
    continue;
  end
  fields = regexp(line, '[ \t]+', 'split');
  if numel(fields) < 8
    error('spike_bins:moduleList', ['%s:%d: a module row needs 8 or more ' ...
          'fields (<module> <kernel> <reference> <arguments> <example> ' ...
          '<result> <gateway source> <kernel source>...), this one has %d'], ...
          file, number, numel(fields));
  end
  rows(end + 1) = struct('line', number, 'fields', {fields}); %#ok<AGROW>
end
end

