function c = glm_constants()
%GLM_CONSTANTS The fixed numbers of the population GLM, in one place.
%   C = GLM_CONSTANTS() returns a struct:
%     stimulus_delay  stimulus samples between a sample and the first fine
%                     bin it drives (2: the drive stays causal)
%     max_log_rate    SPIKE_GLM_SIMULATE stops when a log rate per bin
%                     passes this (exp(10): about 22000 expected spikes)
%     block_rows      fine bins computed at a time (fits and simulation)
%     look_ahead      bins the simulation tests for a spike at a time
%     bin_tolerance   the binning rule's slack in bins: time s is in bin
%                     floor((s - t_start) / bin_size + bin_tolerance)
%     runaway         a fitted filter value or bias of larger magnitude
%                     (log-rate units) marks a likelihood with no maximum
%     start_spikes    the spike count a neuron without spikes is given for
%                     its bias (and the null rate's floor)
%     lbfgs_memory    L-BFGS correction pairs kept (20: at 80 sources
%                     x 5 basis functions, 14 % fewer iterations than 10)
%     group_stable_steps    group lasso: proximal steps with the same zero
%                           groups before an L-BFGS finish
%     group_finish_iter     group lasso: most L-BFGS iterations of one finish
%     group_step_relax      group lasso: the step's metric scale is divided
%                           by this after a step
%     group_max_backtracks  group lasso: most doublings of the metric scale
%                           in one step
%     group_rounding        group lasso: relative allowance for rounding in
%                           the step test
%     ks_terms        terms of the Kolmogorov series of the KS p-value
%     ks_small        the KS p-value is 1 below this lambda (the truncated
%                     series is inaccurate there, the exact value 1)
%     lockstep_targets  neurons whose fits run in lockstep (one pass over
%                       the spikes per round of their evaluations)
%     lockstep_min_taps spike_glm_fit fits in lockstep when the merged
%                       spikes per bin times history_taps (the filter taps
%                       a target's pass adds per bin) reach this; below it
%                       the batch's arrays cost more than the passes saved
%                       (Octave's own: timed against one neuron at a time)
%   One field per line, "c.<name> = <value>;": a test of the Python
%   package reads this file and compares the numbers with its own.
c.stimulus_delay = 2;
c.max_log_rate = 10;
c.block_rows = 65536;
c.look_ahead = 16;
c.bin_tolerance = 1e-6;
c.runaway = 20;
c.start_spikes = 0.5;
c.lbfgs_memory = 20;
c.group_stable_steps = 3;
c.group_finish_iter = 10;
c.group_step_relax = 1.5;
c.group_max_backtracks = 60;
c.group_rounding = 1e-12;
c.ks_terms = 100;
c.ks_small = 0.04;
c.lockstep_targets = 8;
c.lockstep_min_taps = 32;
