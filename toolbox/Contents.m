% Binned signals and spike trains: compiled modules (MEX files).
%
% Upsampling
%   tentfill2     - Upsample binned signals by linear interpolation between
%                   bin centres.
%   tentfill2_adjoint - The adjoint of tentfill2 with respect to its samples.
%
% Spike trains
%   trainfold_mex - Windowed sums of filters placed at spike times.
%   trainfold_adjoint - The adjoint of trainfold_mex with respect to its
%                   filters.
%   trainfold_pop - Windowed sums of a population's filters placed at its
%                   spikes.
%   trainfold_pop_adjoint - The adjoint of trainfold_pop with respect to its
%                   filters.
%
% The functions are compiled modules (.mex in Octave, .mexa64/.mexmaci64/
% .mexw64 in MATLAB); the .m files of the same names hold their help text.
% Results are bit-exact: every operation is one IEEE double operation in a
% fixed order, with no fused multiply-add.
