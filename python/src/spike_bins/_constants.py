"""The population GLM's constants, in one place (the Octave side holds the
same numbers in toolbox/private/glm_constants.m; a test compares them)."""

STIMULUS_DELAY = 2  # coarse bins: the stimulus of coarse bin c acts from c + 1 on
MAX_LOG_RATE = 10.0  # simulation refuses log rates per bin above this
BLOCK_ROWS = 65536  # fine bins computed at a time (stimulus drive, simulation)
LOCKSTEP_TARGETS = 8  # most targets whose evaluations share one pass (both hosts)
LOOK_AHEAD = 16  # bins the simulation tests at once before it draws a spike
MAX_BINS = 2**31 - 1  # most bins of a recording (and of any count argument)
BIN_TOLERANCE = 1e-6  # bins: a time this close below an edge counts past it
RUNAWAY = 20.0  # a fitted filter or bias above this (log-rate units) runs off
START_SPIKES = 0.5  # spikes of the start bias (and null rate) of a silent neuron
LBFGS_MEMORY = 20  # L-BFGS correction pairs kept (both hosts' solver)
# Group lasso (both hosts' solver):
GROUP_STABLE_STEPS = 3  # proximal steps with the same zero groups before a finish
GROUP_FINISH_ITER = 10  # most L-BFGS iterations of one finish
GROUP_STEP_RELAX = 1.5  # the step's metric scale is divided by this after a step
GROUP_MAX_BACKTRACKS = 60  # most doublings of the metric scale in one step
GROUP_ROUNDING = 1e-12  # relative allowance for rounding in the step test
# Time rescaling's KS p-value (both hosts): the Kolmogorov series' terms,
# and the lambda below which the p-value is 1 (there the truncated series is
# inaccurate and the exact value is 1 to double precision).
KS_TERMS = 100
KS_SMALL = 0.04
