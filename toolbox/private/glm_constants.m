function c = glm_constants()
%GLM_CONSTANTS The population GLM's constants, one field per line.
%   C = GLM_CONSTANTS() returns a struct:
%     stimulus_delay  coarse bins: the stimulus of coarse bin c acts from c + 1 on
%     max_log_rate    simulation refuses log rates per bin above this
%     block_rows      fine bins computed at a time (stimulus drive, simulation)
%     look_ahead      bins the simulation tests at once before it draws a spike
%     bin_tolerance   bins: a time this close below a bin edge counts past it
%     runaway         a fitted filter or bias above this (log-rate units) runs off
%     start_spikes    spikes of the start bias (and null rate) of a silent neuron
%   The Python package holds the same numbers in spike_bins/_constants.py; a
%   test there compares the two (keep one assignment per line).
c.stimulus_delay = 2;
c.max_log_rate = 10;
c.block_rows = 65536;
c.look_ahead = 16;
c.bin_tolerance = 1e-6;
c.runaway = 20;
c.start_spikes = 0.5;
end

%!test
%! c = glm_constants ();
%! assert (fieldnames (c), {'stimulus_delay'; 'max_log_rate'; 'block_rows'; ...
%!                          'look_ahead'; 'bin_tolerance'; 'runaway'; 'start_spikes'});
