## The help files answer "help" for every module of the module list: "help
## <module>" prints its page (the module itself has no help text), and
## "help <folder>" of the folder that holds the help files prints Contents.m,
## which lists every module.

%!test
%! pages = {"tentfill2", "TENTFILL2 Upsample binned signals", "See also TRAINFOLD_MEX"
%!          "trainfold_mex", "TRAINFOLD_MEX Windowed sums of filters", "See also TENTFILL2"};
%! for i = 1:rows (pages)
%!   [name, first_line, see_also] = pages{i, :};
%!   text = evalc (["help " name]);
%!   assert (! isempty (strfind (text, first_line)), "help %s: %s", name, text);
%!   assert (! isempty (strfind (text, see_also)), "help %s: %s", name, text);
%! endfor

%!test
%! modules = module_table ();
%! for k = 1:numel (modules)
%!   module = modules(k);
%!   text = evalc (["help " module.name]);
%!   assert (! isempty (regexp (text, ["(^|\\s)" upper(module.name) " \\S"], "once")),
%!           "help %s: %s", module.name, text);
%!   assert (! isempty (strfind (text, "See also")), "help %s: %s", module.name, text);
%! endfor

%!test
%! help_dir = fileparts (file_in_loadpath ("tentfill2.m"));
%! assert (exist (fullfile (help_dir, "Contents.m"), "file"), 2);
%! text = evalc ("help (help_dir)");
%! modules = module_table ();
%! for k = 1:numel (modules)
%!   module = modules(k);
%!   assert (fileparts (file_in_loadpath ([module.name ".m"])), help_dir);
%!   assert (! isempty (regexp (text, ["\\n\\s+" module.name "\\s+- \\S"], "once")),
%!           "Contents.m lists no %s: %s", module.name, text);
%! endfor
