function B = glm_basis(ntaps, nbasis)
%GLM_BASIS NTAPS x NBASIS raised-cosine bumps evenly spaced in log(t + 4),
%   t = 0 .. NTAPS-1 (row k is the lag of k bins): the first bump peaks at
%   t = 0, the last ends at t = NTAPS - 1.
offset = 4;
t = (0:ntaps - 1)';
lo = log(offset);
hi = log(ntaps - 1 + offset);
spacing = (hi - lo) / (nbasis + 1);
peaks = lo + spacing * (0:nbasis - 1);
phase = (repmat(log(t + offset), 1, nbasis) - repmat(peaks, ntaps, 1)) ...
        * (pi / (2 * spacing));
B = (cos(max(min(phase, pi), -pi)) + 1) / 2;
end
