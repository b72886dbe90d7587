function folder = stand_in_toc(seconds)
%STAND_IN_TOC A new folder holding a toc that always returns SECONDS, for
%   tests of the time-left estimate (addpath it; no test reads the clock).
folder = tempname();
mkdir(folder);
fid = fopen(fullfile(folder, 'toc.m'), 'w');
fprintf(fid, 'function t = toc (varargin)\n  t = %.17g;\nend\n', seconds);
fclose(fid);
end
