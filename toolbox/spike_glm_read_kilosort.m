function [spike_times, ids] = spike_glm_read_kilosort(folder, groups)
%SPIKE_GLM_READ_KILOSORT Spike times of the clusters of a Kilosort folder.
%   [SPIKE_TIMES, IDS] = SPIKE_GLM_READ_KILOSORT(FOLDER) reads the clusters
%   labelled 'good' of a Kilosort (or phy-curated) output folder:
%     spike_times.npy     the sample number of every spike (any integer
%                         type, shape (n,) or (n, 1))
%     params.py           its line sample_rate = <number> (parsed, not run)
%     spike_clusters.npy  the cluster of every spike (spike_templates.npy
%                         when there is none, as before any curation)
%     cluster_group.tsv   the curation's labels (columns cluster_id, group),
%                         else cluster_KSLabel.tsv, the sorter's own
%                         (columns cluster_id, KSLabel)
%   SPIKE_TIMES is a cell column, one ascending double column per cluster,
%   in seconds from the acquisition start (sample 0): sample / sample_rate,
%   exactly rounded. IDS is a column of the cluster ids, ascending. A
%   labelled cluster without spikes gets an empty column.
%
%   [...] = SPIKE_GLM_READ_KILOSORT(FOLDER, GROUPS) reads the clusters whose
%   label is one of GROUPS (a char or a cell of char, e.g. {'good', 'mua'});
%   GROUPS [] or {} reads every cluster, labelled or not, and needs no
%   label file.
%
%   The times go to SPIKE_GLM_FIT as they are; the recording starts at
%   sample 0 (t_start 0) and lasts n_samples / sample_rate seconds
%   (n_samples: the samples of the raw data file):
%     [spikes, ids] = spike_glm_read_kilosort('kilosort_output');
%     fit = spike_glm_fit(spikes, 3600, struct('history_taps', 100));
%
%   Errors (identifiers):
%     spike_glm:fileNotFound   the folder, params.py, spike_times.npy, both
%                              spike_clusters.npy and spike_templates.npy,
%                              or (with GROUPS) both label files are missing
%     spike_glm:badNpy         a .npy file is malformed, or not of integers
%                              of shape (n,) or (n, 1)
%     spike_glm:npyRange       a sample number beyond 2^53
%     spike_glm:lengthMismatch spikes and clusters of different counts
%     spike_glm:missingColumn  a label file without its two columns
%     spike_glm:badTsv         a row of a label file without a whole-number
%                              cluster id or label, or a cluster labelled
%                              twice
%     spike_glm:badParams      params.py without a finite positive number
%                              as sample_rate
%     spike_glm:badArgument    GROUPS not a char, a cell of char or empty
%
%   See also SPIKE_GLM_FIT, SPIKE_GLM_SCORE.

if nargin < 2
  groups = {'good'};
end
if nargin < 1 || ~ischar(folder)
  error('spike_glm:badArgument', ...
        'spike_glm_read_kilosort: folder must be a folder name (char)');
end
if isempty(groups)
  selected = {};
  pick = false;
elseif ischar(groups)
  selected = {groups};
  pick = true;
elseif iscellstr(groups)
  selected = groups(:)';
  pick = true;
else
  error('spike_glm:badArgument', ['spike_glm_read_kilosort: groups must be ' ...
        'a label, a cell of labels, or {} for every cluster']);
end
if ~exist(folder, 'dir')
  error('spike_glm:fileNotFound', 'spike_glm_read_kilosort: no folder %s', folder);
end

rate = sample_rate(fullfile(folder, 'params.py'));
samples = integer_column(fullfile(folder, 'spike_times.npy'));
cluster_file = fullfile(folder, 'spike_clusters.npy');
if ~exist(cluster_file, 'file')
  cluster_file = fullfile(folder, 'spike_templates.npy');
  if ~exist(cluster_file, 'file')
    error('spike_glm:fileNotFound', ['spike_glm_read_kilosort: %s has neither ' ...
          'spike_clusters.npy nor spike_templates.npy'], folder);
  end
end
clusters = integer_column(cluster_file);
if numel(clusters) ~= numel(samples)
  [~, name, ext] = fileparts(cluster_file);
  error('spike_glm:lengthMismatch', ['spike_glm_read_kilosort: %s has %d ' ...
        'entries but spike_times.npy has %d'], [name ext], numel(clusters), ...
        numel(samples));
end
[labelled, labels] = read_labels(folder, pick);

if pick
  ids = sort(labelled(ismember(labels, selected)));
else
  ids = unique([clusters; labelled]);
end
ids = ids(:);

% Spikes ordered by cluster, then time; each cluster one run of rows.
sorted = sortrows([clusters, samples / rate]);
n = size(sorted, 1);
if n > 0
  first = find([true; diff(sorted(:, 1)) ~= 0]);
  last = [first(2:end) - 1; n];
  [found, run] = ismember(ids, sorted(first, 1));
else
  found = false(size(ids));
  run = zeros(size(ids));
end
spike_times = cell(numel(ids), 1);
for k = 1:numel(ids)
  if found(k)
    spike_times{k} = sorted(first(run(k)):last(run(k)), 2);
  else
    spike_times{k} = zeros(0, 1);
  end
end
end

function rate = sample_rate(path)
% The last unindented "sample_rate = <number>" line of params.py (the one
% that counts when the file runs), a number literal as Python writes it.
if ~exist(path, 'file')
  error('spike_glm:fileNotFound', 'spike_glm_read_kilosort: no params.py at %s', path);
end
lines = text_lines(path);
rate = [];
for k = 1:numel(lines)
  parts = regexp(lines{k}, '^(\S[^=]*)=(.*)$', 'tokens', 'once');
  if isempty(parts) || ~strcmp(strtrim(parts{1}), 'sample_rate')
    continue
  end
  text = strtrim(regexprep(parts{2}, '#.*$', ''));
  literal = ['^[+-]?(\d(_?\d)*(\.(\d(_?\d)*)?)?|\.\d(_?\d)*)' ...
             '([eE][+-]?\d(_?\d)*)?$'];
  if isempty(regexp(text, literal, 'once'))
    error('spike_glm:badParams', ['spike_glm_read_kilosort: sample_rate in %s ' ...
          'is not a number: %s'], path, text);
  end
  rate = str2double(strrep(text, '_', ''));
end
if isempty(rate)
  error('spike_glm:badParams', 'spike_glm_read_kilosort: %s sets no sample_rate', path);
end
if ~(isfinite(rate) && rate > 0)
  error('spike_glm:badParams', ['spike_glm_read_kilosort: sample_rate in %s ' ...
        'must be finite and positive, got %g'], path, rate);
end
end

function lines = text_lines(path)
% The lines of a text file, without an editor's byte-order mark (read as
% its three UTF-8 bytes, or as one character where fileread decodes UTF-8).
text = fileread(path);
if strncmp(text, char([239 187 191]), 3)
  text = text(4:end);
elseif ~isempty(text) && double(text(1)) == 65279
  text = text(2:end);
end
lines = regexp(text, '\r?\n', 'split');
end

function v = integer_column(path)
% A .npy of integers of shape (n,) or (n, 1), as an n x 1 double column.
if ~exist(path, 'file')
  error('spike_glm:fileNotFound', 'spike_glm_read_kilosort: no file %s', path);
end
[v, info] = glm_read_npy(path);
[~, name, ext] = fileparts(path);
if info.kind == 'f'
  error('spike_glm:badNpy', 'spike_glm_read_kilosort: %s must hold integers', ...
        [name ext]);
end
if ~(numel(info.shape) == 1 || (numel(info.shape) == 2 && info.shape(2) == 1))
  error('spike_glm:badNpy', ['spike_glm_read_kilosort: %s must be of shape ' ...
        '(n,) or (n, 1), got (%s)'], [name ext], num2str(info.shape));
end
v = v(:);
end

function [ids, labels] = read_labels(folder, required)
% Cluster ids and labels of the first label file present (none: empty).
files = {'cluster_group.tsv', 'group'; 'cluster_KSLabel.tsv', 'KSLabel'};
for f = 1:size(files, 1)
  path = fullfile(folder, files{f, 1});
  if exist(path, 'file')
    [ids, labels] = read_tsv(path, files{f, 1}, files{f, 2});
    return
  end
end
if required
  error('spike_glm:fileNotFound', ['spike_glm_read_kilosort: %s has neither ' ...
        'cluster_group.tsv nor cluster_KSLabel.tsv (groups {} reads every ' ...
        'cluster)'], folder);
end
ids = zeros(0, 1);
labels = {};
end

function [ids, labels] = read_tsv(path, name, column)
lines = text_lines(path);
lines = lines(~cellfun(@(s) all(isspace(s)), lines));
if isempty(lines)
  header = {};
else
  header = strtrim(strsplit(lines{1}, sprintf('\t')));
end
need = {'cluster_id', column};
for k = 1:2
  if ~any(strcmp(header, need{k}))
    error('spike_glm:missingColumn', 'spike_glm_read_kilosort: %s has no column %s', ...
          name, need{k});
  end
end
ci = find(strcmp(header, 'cluster_id'), 1);
li = find(strcmp(header, column), 1);
ids = zeros(numel(lines) - 1, 1);
labels = cell(numel(lines) - 1, 1);
for r = 2:numel(lines)
  fields = strsplit(lines{r}, sprintf('\t'));
  if numel(fields) < max(ci, li)
    error('spike_glm:badTsv', 'spike_glm_read_kilosort: %s row %d has no %s value', ...
          name, r, column);
  end
  id = strtrim(fields{ci});
  if isempty(regexp(id, '^[+-]?\d+$', 'once'))
    error('spike_glm:badTsv', ['spike_glm_read_kilosort: %s row %d: cluster_id ' ...
          '''%s'' is not a whole number'], name, r, id);
  end
  ids(r - 1) = str2double(id);
  labels{r - 1} = strtrim(fields{li});
end
[unique_ids, first] = unique(ids);
if numel(unique_ids) < numel(ids)
  twice = ids(setdiff(1:numel(ids), first));
  error('spike_glm:badTsv', 'spike_glm_read_kilosort: %s labels cluster %d twice', ...
        name, twice(1));
end
end

%!function write_npy (path, major, descr, fortran, shape, data)
%!  ## A .npy file as numpy writes it: magic, version, header length, a
%!  ## header padded with spaces to a multiple of 64 bytes, then the data
%!  ## (already in the file's element order) in little-endian bytes.
%!  dims = sprintf ("%d, ", shape);
%!  if (numel (shape) > 1)
%!    dims = dims(1:end-2);
%!  elseif (isempty (shape))
%!    dims = "";
%!  else
%!    dims = dims(1:end-1);
%!  endif
%!  order = {"False", "True"}{fortran + 1};
%!  header = sprintf ("{'descr': '%s', 'fortran_order': %s, 'shape': (%s), }", ...
%!                    descr, order, dims);
%!  lead = 8 + 2 * (major > 1) + 2;
%!  header = [header, repmat(" ", 1, mod (-(lead + numel (header) + 1), 64)), "\n"];
%!  arch = {"ieee-le", "ieee-be"}{1 + (descr(1) == ">")};
%!  fid = fopen (path, "w", "ieee-le");
%!  fwrite (fid, [147, double("NUMPY"), major, 0], "uint8");
%!  fwrite (fid, numel (header), {"uint16", "uint32"}{1 + (major > 1)});
%!  fwrite (fid, header, "char");
%!  precision = struct ("i1", "int8", "u1", "uint8", "i2", "int16", "u2", "uint16",
%!                      "i4", "int32", "u4", "uint32", "f4", "single", "f8", "double");
%!  kind = descr(2:end);
%!  if (any (strcmp (kind, {"i8", "u8"})))
%!    high = floor (data(:) / 2^32);
%!    low = data(:) - high * 2^32;
%!    high(high < 0) += 2^32;
%!    halves = [low, high]';
%!    if (strcmp (arch, "ieee-be"))
%!      halves = halves([2, 1], :);
%!    endif
%!    fwrite (fid, halves, "uint32", 0, arch);
%!  elseif (isfield (precision, kind))
%!    fwrite (fid, data, precision.(kind), 0, arch);
%!  else
%!    fwrite (fid, data, "uint8");
%!  endif
%!  fclose (fid);
%!endfunction

%!function [a, info] = read_npy (path)
%!  ## The private reader, called from its own folder.
%!  here = pwd ();
%!  cd (fullfile (fileparts (which ("spike_glm_read_kilosort")), "private"));
%!  unwind_protect
%!    [a, info] = glm_read_npy (path);
%!  unwind_protect_cleanup
%!    cd (here);
%!  end_unwind_protect
%!endfunction

%!function write_text (path, text)
%!  fid = fopen (path, "w");
%!  fwrite (fid, text, "char");
%!  fclose (fid);
%!endfunction

%!function folder = write_kilosort (samples, clusters, rate, tsv)
%!  ## A Kilosort folder: spike_times.npy as uint64 (n, 1), spike_clusters.npy
%!  ## as int32 (n,), params.py, and the label files of tsv {name, text; ...}.
%!  folder = tempname ();
%!  mkdir (folder);
%!  write_npy (fullfile (folder, "spike_times.npy"), 1, "<u8", false,
%!             [numel(samples), 1], samples);
%!  write_npy (fullfile (folder, "spike_clusters.npy"), 1, "<i4", false,
%!             numel (clusters), clusters);
%!  write_text (fullfile (folder, "params.py"),
%!              sprintf (["dat_path = 'C:\\Users\\lab\\rec.bin'\n", ...
%!                        "n_channels_dat = 385\nsample_rate = %s\n", ...
%!                        "hp_filtered = False\n"], rate));
%!  for k = 1:rows (tsv)
%!    write_text (fullfile (folder, tsv{k, 1}), tsv{k, 2});
%!  endfor
%!endfunction

## Every format version, dtype and order the reader takes, read exactly:
## {version, descr, fortran_order, shape, data in file order, expected}.
%!test
%! cases = {
%!   1, "<f8", false, [2, 3], [1 2 3 4 5 6], [1 2 3; 4 5 6]
%!   2, "<f8", true,  [2, 3], [1 4 2 5 3 6], [1 2 3; 4 5 6]
%!   3, "<f4", false, 3, [0.5 -1.25 3], [0.5; -1.25; 3]
%!   1, "|i1", false, 4, [-128 -1 0 127], [-128; -1; 0; 127]
%!   1, "|u1", false, [2, 2], [0 255 1 2], [0 255; 1 2]
%!   2, "<i2", false, [3, 1], [-32768 5 32767], [-32768; 5; 32767]
%!   1, "<u2", false, 2, [0 65535], [0; 65535]
%!   1, "<i4", true,  [2, 2], [-2^31 1 2 2^31-1], [-2^31 2; 1 2^31-1]
%!   3, "<u4", false, 2, [0 2^32-1], [0; 2^32-1]
%!   1, "<i8", false, 5, [-2^53 -2^32-1 -1 0 2^53-1], [-2^53; -2^32-1; -1; 0; 2^53-1]
%!   2, "<u8", false, [3, 1], [0 2^32 2^53-1], [0; 2^32; 2^53-1]
%!   3, "<u8", true,  [2, 2], [1 2 3 2^40+7], [1 3; 2 2^40+7]
%!   1, "<i8", false, [], 7, 7
%!   1, "<f8", false, 0, [], zeros(0, 1)
%!   1, "<i4", false, [0, 3], [], zeros(0, 3)
%!   1, ">f8", false, [1, 2], [0.1 -7], [0.1 -7]
%!   1, ">u2", false, 2, [258 65534], [258; 65534]
%!   2, ">i8", true, [2, 1], [-2^40-3 2^52+1], [-2^40-3; 2^52+1]
%! };
%! path = [tempname() ".npy"];
%! unwind_protect
%!   for k = 1:rows (cases)
%!     [major, descr, fortran, shape, data, want] = cases{k, :};
%!     write_npy (path, major, descr, fortran, shape, data);
%!     [got, info] = read_npy (path);
%!     assert (class (got), "double");
%!     assert (isequal (size (got), size (want)) && isequal (got, want),
%!             "case %d (%s): wrong values", k, descr);
%!     assert (info.fortran_order, fortran);
%!     assert (info.version, [major, 0]);
%!   endfor
%! unwind_protect_cleanup
%!   delete (path);
%! end_unwind_protect

## Files the reader refuses: {version, descr, shape, data, identifier}.
%!test
%! cases = {
%!   1, "<u8", 1, 2^53, "spike_glm:npyRange"
%!   1, "<i8", 1, -2^53 - 2^32, "spike_glm:npyRange"
%!   1, "|f8", 1, 1, "spike_glm:badNpy"
%!   1, "<c16", 1, [1 2], "spike_glm:badNpy"
%!   1, "|O", 1, 1, "spike_glm:badNpy"
%!   1, "<f8", [2 2 2], 1:8, "spike_glm:badNpy"
%!   1, "<f8", 3, [1 2], "spike_glm:badNpy"
%!   1, "<u8", 2, 5, "spike_glm:badNpy"
%!   4, "<f8", 1, 1, "spike_glm:badNpy"
%! };
%! path = [tempname() ".npy"];
%! unwind_protect
%!   for k = 1:rows (cases)
%!     [major, descr, shape, data, id] = cases{k, :};
%!     write_npy (path, major, descr, false, shape, data);
%!     try
%!       read_npy (path);
%!       error ("case %d (%s) was read", k, descr);
%!     catch err
%!       assert (strcmp (err.identifier, id), "case %d (%s): %s", k, descr,
%!               err.message);
%!     end_try_catch
%!   endfor
%!   write_text (path, "cluster_id\tgroup\n");
%!   try
%!     read_npy (path);
%!     error ("a text file was read");
%!   catch err
%!     assert (err.identifier, "spike_glm:badNpy");
%!   end_try_catch
%!   fid = fopen (path, "w");
%!   fwrite (fid, [147, double("NUMPY"), 1, 0, 200, 0]);   # a header cut short
%!   fclose (fid);
%!   try
%!     read_npy (path);
%!     error ("a cut header was read");
%!   catch err
%!     assert (err.identifier, "spike_glm:badNpy");
%!   end_try_catch
%! unwind_protect_cleanup
%!   delete (path);
%! end_unwind_protect
%!error <spike_glm:fileNotFound|no file> read_npy ("/nonexistent/x.npy")

## Kilosort folders: the labels select clusters, times exact on the
## sample clock: {label files, groups, expected ids}.
%!test
%! samples = [90; 30; 31; 600000; 45; 7; 30000; 2^40; 100];
%! clusters = [3; 1; 3; 1; 12; 3; 1; 12; 5];
%! curated = "cluster_id\tgroup\n1\tgood\n3\tmua\n5\tgood\n8\tgood\n12\tnoise\n";
%! sorter = "cluster_id\tKSLabel\n1\tmua\n3\tgood\n5\tgood\n12\tgood\n";
%! cases = {
%!   {"cluster_group.tsv", curated; "cluster_KSLabel.tsv", sorter}, {"good"}, [1; 5; 8]
%!   {"cluster_KSLabel.tsv", sorter}, "good", [3; 5; 12]
%!   {"cluster_KSLabel.tsv", sorter}, {"mua"}, 1
%!   {"cluster_group.tsv", curated}, {"mua", "noise"}, [3; 12]
%!   {"cluster_group.tsv", curated}, {"unsorted"}, zeros(0, 1)
%!   {"cluster_group.tsv", curated}, {}, [1; 3; 5; 8; 12]
%!   cell(0, 2), [], [1; 3; 5; 12]
%!   {"cluster_group.tsv", "cluster_id\tgroup\r\n 3 \tgood \r\n12\tgood\r\n\r\n"}, ...
%!      "good", [3; 12]
%!   {"cluster_group.tsv", "group\tcluster_id\tn\ngood\t5\t1\n"}, "good", 5
%!   {"cluster_group.tsv", ["\xEF\xBB\xBF", "cluster_id\tgroup\n5\tgood\n"]}, "good", 5
%! };
%! for k = 1:rows (cases)
%!   [tsv, groups, want] = cases{k, :};
%!   folder = write_kilosort (samples, clusters, "30000.0", tsv);
%!   unwind_protect
%!     if (k == 1)
%!       [times, ids] = spike_glm_read_kilosort (folder);
%!     else
%!       [times, ids] = spike_glm_read_kilosort (folder, groups);
%!     endif
%!   unwind_protect_cleanup
%!     confirm_recursive_rmdir (false, "local");
%!     rmdir (folder, "s");
%!   end_unwind_protect
%!   assert (isequal (ids, want), "case %d: ids %s", k, mat2str (ids'));
%!   assert (iscell (times) && isequal (size (times), [numel(want), 1]));
%!   for j = 1:numel (want)
%!     expected = sort (samples(clusters == want(j))) / 30000;
%!     assert (isequal (times{j}, reshape (expected, [], 1)), "case %d, cluster %d",
%!             k, want(j));
%!   endfor
%! endfor

## params.py as sorters and people write it: {sample_rate text, value}.
%!test
%! cases = {"30000.0", 30000; "30000", 30000; "3e4  # Hz", 30000; "30_000.", 30000;
%!          "  25000.0", 25000; "19531.25", 19531.25; ".5e5", 50000};
%! for k = 1:rows (cases) + 1
%!   if (k > rows (cases))   # sample_rate first, after a byte-order mark
%!     folder = write_kilosort ([7; 30001], [0; 0], "1", cell (0, 2));
%!     write_text (fullfile (folder, "params.py"), "\xEF\xBB\xBFsample_rate = 3e4\n");
%!     want = 30000;
%!   else
%!     folder = write_kilosort ([7; 30001], [0; 0], cases{k, 1}, cell (0, 2));
%!     want = cases{k, 2};
%!   endif
%!   unwind_protect
%!     [times, ids] = spike_glm_read_kilosort (folder, {});
%!   unwind_protect_cleanup
%!     confirm_recursive_rmdir (false, "local");
%!     rmdir (folder, "s");
%!   end_unwind_protect
%!   assert (ids, 0);
%!   assert (isequal (times{1}, [7; 30001] / want), "case %d", k);
%! endfor

## Broken folders: {file, its new contents ([]: removed; a cell: .npy
## arguments of write_npy), identifier}.
%!test
%! tsv = "cluster_group.tsv";
%! cases = {
%!   "params.py", [], "fileNotFound"
%!   "spike_times.npy", [], "fileNotFound"
%!   "spike_clusters.npy", [], "fileNotFound"
%!   tsv, [], "fileNotFound"
%!   "spike_times.npy", {"<f8", 3, [1 2 3]}, "badNpy"
%!   "spike_times.npy", {"<i8", [3 2], 1:6}, "badNpy"
%!   "spike_times.npy", {"<u8", 3, [1 2 2^53]}, "npyRange"
%!   "spike_clusters.npy", {"<i4", 2, [1 1]}, "lengthMismatch"
%!   "spike_clusters.npy", "cluster_id\n", "badNpy"
%!   tsv, "cluster_id\tKSLabel\n1\tgood\n", "missingColumn"
%!   tsv, "id\tgroup\n1\tgood\n", "missingColumn"
%!   tsv, "", "missingColumn"
%!   tsv, "cluster_id\tgroup\n1\tgood\n1\tmua\n", "badTsv"
%!   tsv, "cluster_id\tgroup\nx\tgood\n", "badTsv"
%!   tsv, "cluster_id\tgroup\n4\n", "badTsv"
%!   "params.py", "dtype = 'int16'\nsample_rates = 3.0\n", "badParams"
%!   "params.py", "sample_rate = __import__('os').getcwd()\n", "badParams"
%!   "params.py", "sample_rate = -30000.0\n", "badParams"
%!   "params.py", "sample_rate = 0\n", "badParams"
%!   "params.py", "sample_rate = 1e999\n", "badParams"
%!   "params.py", "sample_rate = '30000'\n", "badParams"
%! };
%! for k = 1:rows (cases)
%!   [name, contents, id] = cases{k, :};
%!   folder = write_kilosort ([1; 2; 3], [1; 1; 2], "30000.0",
%!                            {tsv, "cluster_id\tgroup\n1\tgood\n"});
%!   path = fullfile (folder, name);
%!   unwind_protect
%!     if (isempty (contents) && ! ischar (contents))
%!       delete (path);
%!     elseif (iscell (contents))
%!       write_npy (path, 1, contents{1}, false, contents{2:3});
%!     else
%!       write_text (path, contents);
%!     endif
%!     try
%!       spike_glm_read_kilosort (folder);
%!       error ("case %d was read", k);
%!     catch err
%!       assert (strcmp (err.identifier, ["spike_glm:" id]), "case %d: %s", k,
%!               err.message);
%!     end_try_catch
%!   unwind_protect_cleanup
%!     confirm_recursive_rmdir (false, "local");
%!     rmdir (folder, "s");
%!   end_unwind_protect
%! endfor

## Clusters from spike_templates.npy when there is no spike_clusters.npy;
## the last sample_rate line counts.
%!test
%! labels = "cluster_id\tKSLabel\n2\tgood\n4\tmua\n";
%! folder = write_kilosort ([5; 1; 9], [2; 2; 4], "30000.0",
%!                          {"cluster_KSLabel.tsv", labels});
%! unwind_protect
%!   movefile (fullfile (folder, "spike_clusters.npy"),
%!             fullfile (folder, "spike_templates.npy"));
%!   fid = fopen (fullfile (folder, "params.py"), "a");
%!   fprintf (fid, "sample_rate = 20000.0\nif False:\n    sample_rate = 1.0\n");
%!   fclose (fid);
%!   [times, ids] = spike_glm_read_kilosort (folder, {"good", "mua"});
%! unwind_protect_cleanup
%!   confirm_recursive_rmdir (false, "local");
%!   rmdir (folder, "s");
%! end_unwind_protect
%! assert (ids, [2; 4]);
%! assert (times, {[1; 5] / 20000; 9 / 20000});

%!error <spike_glm:fileNotFound|no folder> spike_glm_read_kilosort ("/nonexistent/ks")
%!error <groups must be> spike_glm_read_kilosort (tempdir (), 5)
%!error <groups must be> spike_glm_read_kilosort (tempdir (), {1})
%!test
%! try
%!   spike_glm_read_kilosort (tempdir (), {1});
%! catch err
%!   assert (err.identifier, "spike_glm:badArgument");
%! end_try_catch
