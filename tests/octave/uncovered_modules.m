function names = uncovered_modules(covered)
%UNCOVERED_MODULES Modules of the module list missing from COVERED.
%   NAMES = UNCOVERED_MODULES(COVERED) returns, as one comma-separated
%   string, the names of module_table() that the cell array COVERED (module
%   names or function handles) does not hold; empty when it holds them all.
for i = 1:numel(covered)
  if is_function_handle(covered{i})
    covered{i} = func2str(covered{i});
  end
end
names = strjoin(setdiff({module_table().name}, covered), ', ');
end
