function [a, info] = glm_read_npy(path)
%GLM_READ_NPY Read a numpy .npy file into a double matrix.
%   [A, INFO] = GLM_READ_NPY(PATH) reads format versions 1.0, 2.0 and 3.0
%   of integers (int8 .. int64, uint8 .. uint64) and floats (float32,
%   float64), little-endian as numpy writes them on every common machine
%   (big-endian too), C or Fortran order, of 0, 1 or 2 dimensions: shape
%   () gives a scalar, (n,) an n x 1 column, (n, m) an n x m matrix. 64-bit
%   integers are read exactly (as two 32-bit halves) and must lie in
%   -2^53 .. 2^53 - 1, where every integer is a double. INFO has the
%   fields version ([major minor]), kind ('i', 'u' or 'f'), bytes (per
%   element), fortran_order and shape (a row, [] for a scalar).
%   Bytes after the data are ignored, as numpy's reader does.
%
%   Errors: spike_glm:fileNotFound (no file), spike_glm:badNpy (not .npy,
%   an unsupported version, dtype or dimension count, a malformed header,
%   too little data), spike_glm:npyRange (a 64-bit integer beyond 2^53).

fid = fopen(path, 'r', 'ieee-le');
if fid < 0
  error('spike_glm:fileNotFound', 'no file %s', path);
end
closer = onCleanup(@() fclose(fid));

magic = fread(fid, [1 6], 'uint8=>double');
if numel(magic) < 6 || ~isequal(magic, [147 double('NUMPY')])
  error('spike_glm:badNpy', '%s is not a .npy file (no \\x93NUMPY magic)', path);
end
version = fread(fid, [1 2], 'uint8=>double');
if numel(version) < 2 || ~any(version(1) == [1 2 3])
  error('spike_glm:badNpy', '%s: unsupported .npy format version', path);
end
if version(1) == 1
  hlen = fread(fid, 1, 'uint16=>double');
else
  hlen = fread(fid, 1, 'uint32=>double');
end
if isempty(hlen)
  error('spike_glm:badNpy', '%s: the .npy header is cut short', path);
end
header = fread(fid, [1 hlen], 'uint8=>char');
if numel(header) < hlen
  error('spike_glm:badNpy', '%s: the .npy header is cut short', path);
end

descr = regexp(header, '''descr''\s*:\s*''([^'']*)''', 'tokens', 'once');
order = regexp(header, '''fortran_order''\s*:\s*(True|False)', 'tokens', 'once');
shape = regexp(header, '''shape''\s*:\s*\(([^)]*)\)', 'tokens', 'once');
if isempty(descr) || isempty(order) || isempty(shape)
  error('spike_glm:badNpy', '%s: malformed .npy header %s', path, strtrim(header));
end
type = regexp(descr{1}, '^([<|>])([iuf])(\d+)$', 'tokens', 'once');
if isempty(type)
  error('spike_glm:badNpy', ['%s: unsupported .npy dtype ''%s'' (integers ' ...
        'and floats only)'], path, descr{1});
end
arch = 'ieee-le';
if type{1} == '>'
  arch = 'ieee-be';
end
kind = type{2};
bytes = str2double(type{3});
precisions = struct('i', {{'int8', 'int16', '', 'int32'}}, ...
                    'u', {{'uint8', 'uint16', '', 'uint32'}}, ...
                    'f', {{'', '', '', 'single'}});
if kind == 'f' && bytes == 8
  precision = 'double';
elseif any(bytes == [1 2 4])
  precision = precisions.(kind){bytes};
elseif bytes == 8
  precision = 'two halves';
else
  precision = '';
end
if isempty(precision) || (type{1} == '|' && bytes ~= 1)
  error('spike_glm:badNpy', '%s: unsupported .npy dtype ''%s''', path, descr{1});
end

dims = regexp(shape{1}, '^\s*(\d+L?\s*,\s*)*(\d+L?\s*)?$', 'match', 'once');
if isempty(dims) && ~isempty(strtrim(shape{1}))
  error('spike_glm:badNpy', '%s: malformed .npy shape (%s)', path, shape{1});
end
dims = str2double(regexp(shape{1}, '\d+', 'match'));
if numel(dims) > 2
  error('spike_glm:badNpy', '%s: %d dimensions (at most 2 are read)', path, ...
        numel(dims));
end
n = prod(dims);

if strcmp(precision, 'two halves')
  % Each 64-bit integer as its two 32-bit halves, joined in double: exact
  % whenever the result is below 2^53 in magnitude.
  halves = fread(fid, [2 n], 'uint32=>double', 0, arch);
  if numel(halves) < 2 * n
    error('spike_glm:badNpy', '%s: %d values promised, fewer stored', path, n);
  end
  if strcmp(arch, 'ieee-be')
    halves = halves([2 1], :);   % the high half comes first
  end
  high = halves(2, :);
  if kind == 'i'
    high = high - 4294967296 * (high >= 2147483648);
  end
  if any(high >= 2097152 | high < -2097152)
    error('spike_glm:npyRange', ['%s: a 64-bit integer beyond 2^53, which a ' ...
          'double cannot hold exactly'], path);
  end
  values = high(:) * 4294967296 + halves(1, :)';
else
  values = fread(fid, n, [precision '=>double'], 0, arch);
  if numel(values) < n
    error('spike_glm:badNpy', '%s: %d values promised, fewer stored', path, n);
  end
end

fortran = strcmp(order{1}, 'True');
switch numel(dims)
  case 0
    a = values(1);
  case 1
    a = reshape(values, dims, 1);
  otherwise
    if fortran
      a = reshape(values, dims);
    else
      a = reshape(values, fliplr(dims)).';
    end
end
info = struct('version', version, 'kind', kind, 'bytes', bytes, ...
              'fortran_order', fortran, 'shape', dims);
end
