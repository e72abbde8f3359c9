function build_plugins(outdir)
% BUILD_PLUGINS  Build the spherefill and gapsum plug-ins from source.
%   BUILD_PLUGINS() builds both plug-ins with the host's own mex command into
%   the folder that holds this script; BUILD_PLUGINS(OUTDIR) builds them into
%   OUTDIR. Runs in MATLAB (with a supported C++17 compiler set up through
%   `mex -setup C++`) and in GNU Octave (with mkoctfile, from liboctave-dev).
%
%   Every file is compiled with strict IEEE arithmetic: no fused multiply-add
%   and no fast-math, so the results are the same bits on every machine.

  here = fileparts(mfilename('fullpath'));
  root = fileparts(here);
  if nargin < 1
    outdir = here;
  end
  if ~exist(outdir, 'dir')
    mkdir(outdir);
  end

  % Each plug-in: its name, its source folder and its source files. The
  % files for AVX2 and AVX-512 compile to the plain loop alone where the
  % compiler or processor has no such paths; the choice among them is made
  % at run time on the user's CPU.
  plugins = {
    'spherefill', 'spherefill', {'spherefill_mex.cpp', 'fill_spheres.cpp', 'dead_blocks.cpp', ...
                                 'fill_spheres_avx2.cpp', 'fill_spheres_avx512.cpp', ...
                                 'pcg15.cpp', 'pcg15_avx512.cpp', 'dead_blocks_avx512.cpp'}
    'gapsum',     'gapsum',     {'gapsum_mex.cpp', 'sum_gap_cubes.cpp', ...
                                 'sum_gap_cubes_avx2.cpp', 'sum_gap_cubes_avx512.cpp'}
  };
  includes = {['-I' fullfile(root, 'common')], ['-I' fullfile(root, 'cpu')], ['-I' fullfile(root, 'grid')], ...
              ['-I' fullfile(root, 'host')]};
  shared = {fullfile(root, 'cpu', 'simd_path.cpp'), fullfile(root, 'grid', 'grid_geometry.cpp'), ...
            fullfile(root, 'grid', 'cell_grid.cpp'), fullfile(root, 'grid', 'sorted_cells.cpp')};

  isOctave = exist('OCTAVE_VERSION', 'builtin') ~= 0;
  for k = 1:size(plugins, 1)
    name = plugins{k, 1};
    srcdir = fullfile(root, plugins{k, 2});
    sources = [cellfun(@(f) fullfile(srcdir, f), plugins{k, 3}, 'UniformOutput', false), shared];
    args = [includes, {['-I' srcdir]}, sources];
    % Each host's Ctrl-C: Octave's signal flag, MATLAB's libut.
    if isOctave
      octinclude = ['-I' strtrim(mkoctfile('-p', 'OCTINCLUDEDIR'))];
      build_in_octave(name, outdir, [args, {octinclude, fullfile(root, 'host', 'interrupt_octave.cpp')}]);
    else
      build_in_matlab(name, outdir, [args, {fullfile(root, 'host', 'interrupt_matlab.cpp'), '-lut'}]);
    end
    fprintf('built %s\n', fullfile(outdir, name));
  end
end

function build_in_octave(name, outdir, args)
  % mkoctfile takes its compiler flags from the environment.
  flags = [' -std=c++17 ' strjoin(gcc_strict_flags(), ' ') ' -fvisibility=hidden'];
  if ~isempty(strfind(mkoctfile('-p', 'CXX'), 'g++'))
    flags = [flags ' -fno-gnu-unique'];  % lets `clear NAME` really unload it
  end
  % 32-bit x86 computes in x87 registers unless told to use SSE2.
  if ~isempty(regexp(mkoctfile('-p', 'CANONICAL_HOST_TYPE'), '^i[3-6]86', 'once'))
    flags = [flags ' -msse2 -mfpmath=sse'];
  end
  saved = getenv('CXXFLAGS');
  setenv('CXXFLAGS', [strtrim(mkoctfile('-p', 'CXXFLAGS')) flags]);
  cleanup = onCleanup(@() restore_env('CXXFLAGS', saved));
  mex('-o', fullfile(outdir, [name '.mex']), args{:});
end

function build_in_matlab(name, outdir, args)
  % -compatibleArrayDims: the 32-bit dimension interface the gateways are written for.
  % On Windows the compiler is Visual C++ (COMPFLAGS) or MinGW-w64 (CXXFLAGS).
  compiler = mex.getCompilerConfigurations('C++', 'Selected');
  if ispc && (isempty(compiler) || isempty(strfind(lower(compiler(1).ShortName), 'mingw')))
    flags = {'COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise'};
  else
    gcc = [{'-std=c++17'}, gcc_strict_flags()];
    if any(strcmp(computer('arch'), {'glnx86', 'win32'}))
      gcc = [gcc, {'-msse2', '-mfpmath=sse'}];  % not the x87 registers
    end
    flags = {['CXXFLAGS=$CXXFLAGS ' strjoin(gcc, ' ') ' -fvisibility=hidden']};
  end
  mex('-compatibleArrayDims', flags{:}, '-outdir', outdir, '-output', name, args{:});
end

function flags = gcc_strict_flags()
  % GCC and Clang: round every operation by itself, with no fused
  % multiply-add and no fast-math.
  flags = {'-ffp-contract=off', '-fno-fast-math'};
end

function restore_env(variable, value)
  if isempty(value)
    unsetenv(variable);
  else
    setenv(variable, value);
  end
end
