"""Poisson GLMs of spike-train populations, fitted without a design matrix.

The model of neuron i over fine bins t = 0 .. T-1 (counts y_i(t)):

    log rate_i(t) = b_i + tentfill2(s_i, nbns)(t)
                    + sum_j trainfold(spikes_j + 1, B @ w_ij, (0, T-1))(t)

with the coarse stimulus drive s_i(c) = sum_l k_il x(c - delay - l). B is a
raised-cosine basis (ntaps x nbasis); w_ii is the spike-history filter and
w_ij (j != i) the coupling from neuron j. Two shifts keep the model causal:
spikes enter at time + 1, so a spike in bin t acts from bin t + 1 on; the
stimulus is delayed by two coarse bins, because tentfill2's ramp toward a
sample starts half a coarse bin before that sample's own block of fine bins.

The drive is one trainfold_pop pass over all neurons' merged spikes (one
combined filter per source neuron) and the gradient one trainfold_pop_adjoint
call, so memory stays at a few T x 1 arrays however many neurons and basis
functions there are. Parameters of neuron i, in order:
[b_i, k_i (stim_lags), w_i0 (nbasis), ..., w_i(N-1) (nbasis)].

PopulationGLM (and PopulationGLMCV) fit the same model to recorded spike
times in seconds, with stimulus channels, penalties, scores and simulation.
"""
from spike_bins._basis import raised_cosine_basis
from spike_bins._constants import MAX_LOG_RATE, STIMULUS_DELAY
from spike_bins._cv import PopulationGLMCV
from spike_bins._estimator import PopulationGLM
from spike_bins._fitting import ConvergenceWarning
from spike_bins._legacy import (Population, filter_errors, fit_neuron, fit_population,
                                initial_theta, log_rate, negloglik, simulate,
                                start_hessian, true_parameters)
from spike_bins._simulation import draw_spikes

__all__ = ["PopulationGLM", "PopulationGLMCV", "ConvergenceWarning",
           "raised_cosine_basis", "draw_spikes", "STIMULUS_DELAY", "MAX_LOG_RATE",
           "Population", "log_rate", "negloglik", "initial_theta", "start_hessian",
           "fit_neuron", "fit_population", "filter_errors", "true_parameters",
           "simulate"]
