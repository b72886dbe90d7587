## The help files answer "help" for the modules: "help tentfill2" and "help
## trainfold_mex" print their pages (the module itself has no help text), and
## "help <folder>" of the folder that holds the help files prints Contents.m.

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
%! help_dir = fileparts (file_in_loadpath ("tentfill2.m"));
%! assert (fileparts (file_in_loadpath ("trainfold_mex.m")), help_dir);
%! assert (exist (fullfile (help_dir, "Contents.m"), "file"), 2);
%! text = evalc ("help (help_dir)");
%! assert (! isempty (strfind (text, "tentfill2     - Upsample")), text);
%! assert (! isempty (strfind (text, "trainfold_mex - Windowed")), text);
