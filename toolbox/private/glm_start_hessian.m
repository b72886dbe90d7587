function Hs = glm_start_hessian(gram, model, src, rate, ridge)
%GLM_START_HESSIAN Hessian of the objective at the constant-rate start,
%   (rate / n_F) * X'X + ridge on every coordinate but the bias, with the
%   spike columns of X'X taken as if spikes of different neurons, and
%   distinct spikes of one neuron, were independent: n_j * B'B +
%   n_j * n_k * s * s' / n_F. SRC lists the source neurons.
nF = gram.nF;
ns = model.nstim;
nb = model.nb;
P = 1 + ns + numel(src) * nb;
G = zeros(P);
G(1, 1) = nF;
G(2:1 + ns, 2:1 + ns) = gram.stim;
G(1, 2:1 + ns) = gram.sums';
G(2:1 + ns, 1) = gram.sums;
n = gram.n(src);
n = n(:);
s = gram.s;
% Whole blocks at once (a loop over source pairs costs N^2 statements):
% kron gives each entry as the product the loop formed, the same bits.
a = 2 + ns:P;
G(1, a) = kron(n', s');
G(a, 1) = G(1, a)';
G(2:1 + ns, a) = gram.sums * (kron(n', s') / nF);
G(a, 2:1 + ns) = G(2:1 + ns, a)';
G(a, a) = kron((n * n') / nF, s * s');
for k = 1:numel(src)
  ia = 1 + ns + (k - 1) * nb + (1:nb);
  G(ia, ia) = G(ia, ia) + n(k) * gram.BB;
end
% Sources without spikes leave their columns at zero: keep it definite.
G = G + 1e-9 * nF * eye(P);
Hs = (rate / nF) * G;
Hs(2:end, 2:end) = Hs(2:end, 2:end) + ridge * eye(P - 1);
end
