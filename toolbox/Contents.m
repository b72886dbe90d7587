% Binned signals and spike trains: compiled modules (MEX files) and a
% population GLM built on them.
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
%   trainfold_multi - Windowed sums of a population's filters onto many
%                   targets at once, one row per target.
%   trainfold_multi_adjoint - The adjoint of trainfold_multi with respect to
%                   its filters.
%
% Rates
%   rate_exp      - Elementwise exponential, the same bits on every
%                   platform.
%
% Population GLM (plain M code for Octave and MATLAB; run in Octave)
%   spike_glm_fit      - Fit a Poisson GLM to a population of spike trains.
%   spike_glm_rate     - Expected spike counts per bin of a fitted GLM.
%   spike_glm_score    - Held-out scores (bits per spike, pseudo-R2).
%   spike_glm_simulate - Draw spike trains from a fitted GLM.
%   spike_glm_inference - Standard errors, Wald tests of the coupling and
%                        filter bands of a fitted GLM.
%   spike_glm_ks       - Time-rescaling (KS) goodness-of-fit test of a GLM.
%   spike_glm_plot     - Plots of the filters, the coupling and the KS test.
%   spike_glm_read_kilosort - Spike times of a Kilosort output folder.
%
% The upsampling, spike-train and rate functions are compiled modules (.mex in
% Octave, .mexa64/.mexmaci64/.mexw64 in MATLAB); the .m files of the same
% names hold their help text. Their results are bit-exact: every operation
% is one IEEE double operation in a fixed order, with no fused multiply-add.
