function y = ref_rate_exp(eta)
%REF_RATE_EXP rate_exp written out in Octave arithmetic, one operation per
%   rounding, in the order of the kernel's contract (rate/portable_exp.h):
%   the special cases first, then the reduction by ln 2 in two parts, the
%   rational approximation and the scaling by 2^kd with pow2 (one rounding,
%   as ldexp). Elementwise operations on whole arrays are the same IEEE
%   operations as one element at a time.
dims = size(eta);
y = zeros(dims(1), prod(dims(2:end)));  % more dimensions count as columns
x = eta(:);
out = zeros(size(x));
is_nan = isnan(x);
over = x > 709.782712893383973096;
under = x < -745.13321910194110842;
out(is_nan) = x(is_nan) + x(is_nan);
out(over) = Inf;
out(under) = 0;
main = ! (is_nan | over | under);
v = x(main);
shift = 6755399441055744;  % 0x1.8p52
t = v * 1.44269504088896338700e+00 + shift;
kd = t - shift;
hi = v - kd * 6.93147180369123816490e-01;
lo = kd * 1.90821492927058770002e-10;
r = hi - lo;
s = r .* r;
c = r - s .* (1.66666666666666019037e-01 + s .* (-2.77777777770155933842e-03 ...
      + s .* (6.61375632143793436117e-05 + s .* (-1.65339022054652515390e-06 ...
      + s .* 4.13813679705723846039e-08))));
yy = 1.0 - ((lo - (r .* c) ./ (2.0 - c)) - hi);
out(main) = pow2(yy, kd);
y(:) = out;
end
