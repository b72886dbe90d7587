function module_files = build_mex(output_dir)
%BUILD_MEX Compile the modules with mex, keeping results exact.
%   BUILD_MEX(OUTPUT_DIR) compiles the modules listed in
%   build_scripts/modules.txt (tentfill2, trainfold_mex and their adjoints),
%   each from its gateway and kernel sources, into OUTPUT_DIR (created if
%   missing) and copies the help files (one per module, Contents.m), the
%   population GLM functions spike_glm_* and their private/ folder next to
%   them, so that addpath(OUTPUT_DIR) is all a user needs. BUILD_MEX() builds
%   into the folder out/mex of the project. Returns the paths of the modules.
%
%   Runs in MATLAB and in GNU Octave. The exact-math flags for GCC and Clang
%   are the line of build_scripts/exact_math_flags.txt (-ffp-contract=off
%   -fno-fast-math), the same file the CMake build reads:
%     MATLAB  mex -R2017b (separate-complex API, 64-bit dimensions: the
%             gateways read complex arguments' real parts with mxGetPr),
%             module extension mexext(). GCC and Clang get
%             CXXFLAGS="$CXXFLAGS -std=c++17 <exact-math flags>"; Microsoft
%             Visual C++ gets COMPFLAGS="$COMPFLAGS /std:c++17 /fp:precise".
%     Octave  mkoctfile --mex, modules named .mex. mkoctfile takes the
%             compiler flags from the CXXFLAGS environment variable, so it
%             is set to Octave's own CXXFLAGS plus the same flags for the
%             build and restored afterwards.
%   The results are defined to the bit: -ffp-contract=off keeps the
%   compiler from fusing a product and a sum into one rounding (which Clang
%   and some GCC targets do by default), -fno-fast-math keeps every other
%   value-changing optimisation off.
%
%   Example (from the project folder)
%     addpath build_scripts
%     build_mex(fullfile(tempdir, 'spike_bin_mex'));
%     addpath(fullfile(tempdir, 'spike_bin_mex'));
%     tentfill2([1; 2], 4)'

root = fileparts(fileparts(mfilename('fullpath')));
if nargin < 1 || isempty(output_dir)
  output_dir = fullfile(root, 'out', 'mex');
end
if ~exist(output_dir, 'dir')
  mkdir(output_dir);
end

modules = module_sources(fullfile(root, 'build_scripts', 'modules.txt'), ...
                         root);
exact_flags = ['-std=c++17 ' strtrim(fileread(fullfile(root, ...
                             'build_scripts', 'exact_math_flags.txt')))];
include_flag = ['-I' root];

module_files = cell(size(modules, 1), 1);
if exist('OCTAVE_VERSION', 'builtin') ~= 0
  % Octave: flags through the environment; modules are <name>.mex.
  base_flags = strtrim(mkoctfile('-p', 'CXXFLAGS'));
  saved_flags = getenv('CXXFLAGS');
  setenv('CXXFLAGS', [base_flags ' ' exact_flags ' -fvisibility=hidden']);
  try
    for i = 1:size(modules, 1)
      [name, sources] = modules{i, :};
      module_files{i} = fullfile(output_dir, [name '.mex']);
      mkoctfile('--mex', '-o', module_files{i}, include_flag, sources{:});
    end
  catch err
    restore_environment('CXXFLAGS', saved_flags);
    rethrow(err);
  end
  restore_environment('CXXFLAGS', saved_flags);
else
  % MATLAB: flags as mex variable assignments, by the selected compiler.
  compiler = mex.getCompilerConfigurations('C++', 'Selected');
  if ~isempty(compiler) && ~isempty(strfind(compiler(1).Manufacturer, ...
                                            'Microsoft'))
    flags = 'COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise';
  else
    flags = ['CXXFLAGS=$CXXFLAGS ' exact_flags];
  end
  for i = 1:size(modules, 1)
    [name, sources] = modules{i, :};
    module_files{i} = fullfile(output_dir, [name '.' mexext]);
    mex('-R2017b', '-outdir', output_dir, '-output', name, include_flag, ...
        flags, sources{:});
  end
end

help_files = [strcat(modules(:, 1), '.m'); {'Contents.m'}];
for i = 1:numel(help_files)
  copyfile(fullfile(root, 'toolbox', help_files{i}), output_dir);
end
% The population GLM functions (M code) and their private helpers.
glm_files = dir(fullfile(root, 'toolbox', 'spike_glm_*.m'));
for i = 1:numel(glm_files)
  copyfile(fullfile(root, 'toolbox', glm_files(i).name), output_dir);
end
if ~exist(fullfile(output_dir, 'private'), 'dir')
  mkdir(fullfile(output_dir, 'private'));
end
copyfile(fullfile(root, 'toolbox', 'private', '*.m'), ...
         fullfile(output_dir, 'private'));
end

function modules = module_sources(file, root)
% The rows of build_scripts/modules.txt (read by read_module_list.m, beside
% this file) as rows {name, {source paths}}: the gateway source and the
% kernel sources, fields 7 and on, paths relative to the project folder.
rows = read_module_list(file);
modules = cell(numel(rows), 2);
for i = 1:numel(rows)
  sources = rows(i).fields(7:end);
  for j = 1:numel(sources)
    sources{j} = fullfile(root, strrep(sources{j}, '/', filesep));
  end
  modules(i, :) = {rows(i).fields{1}, sources};
end
end

function restore_environment(name, value)
% Puts an environment variable back as it was: an unset one comes back unset,
% not set to an empty string.
if isempty(value)
  unsetenv(name);
else
  setenv(name, value);
end
end
