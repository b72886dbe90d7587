"""Poisson GLMs of spike-train populations, fitted without a design matrix.

PopulationGLM fits one GLM per neuron of a recorded population (spike times
in seconds, optional stimulus channels, no penalty, ridge or group-lasso
penalties, scores and simulation), serially or on a dask.distributed
cluster (``fit(client=...)``, one task per batch of neurons or the recording split
over time); PopulationGLMCV chooses the penalty weight by cross-validation.

The model of neuron i over fine bins t = 0 .. T-1:

    eta_i(t) = bias_i + tentfill2(u_i, m)(t)
               + sum_j trainfold(bins_j + 1, B w_ji, (0, T-1))(t)

with the coarse stimulus drive u_i, delayed by STIMULUS_DELAY coarse bins,
and B the history basis (raised_cosine_basis). Two shifts keep the model
causal: spikes enter at time + 1, so a spike in bin t acts from bin t + 1
on; the stimulus is delayed by two coarse bins, because tentfill2's ramp
toward a sample starts half a coarse bin before that sample's own block of
fine bins. The drive is one trainfold_pop pass over all neurons' merged
spikes and the gradient one trainfold_pop_adjoint call, so memory stays at
a few T x 1 arrays however many neurons and basis functions there are.
draw_spikes draws a population's spikes from such a model.

Deprecated (each warns and names its replacement): Population, log_rate,
negloglik, initial_theta, start_hessian, fit_neuron, fit_population,
filter_errors, true_parameters and simulate, an older implementation of the
same model on spike bins.
"""
from spike_bins._basis import raised_cosine_basis
from spike_bins._constants import MAX_LOG_RATE, STIMULUS_DELAY
from spike_bins._cv import PopulationGLMCV
from spike_bins._estimator import PopulationGLM
from spike_bins._fitting import ConvergenceWarning, NotFittedError, RunawayWarning
from spike_bins._legacy import (Population, filter_errors, fit_neuron, fit_population,
                                initial_theta, log_rate, negloglik, simulate,
                                start_hessian, true_parameters)
from spike_bins._simulation import draw_spikes

__all__ = ["PopulationGLM", "PopulationGLMCV", "ConvergenceWarning", "NotFittedError", "RunawayWarning",
           "raised_cosine_basis", "draw_spikes", "STIMULUS_DELAY", "MAX_LOG_RATE",
           "Population", "log_rate", "negloglik", "initial_theta", "start_hessian",
           "fit_neuron", "fit_population", "filter_errors", "true_parameters",
           "simulate"]
