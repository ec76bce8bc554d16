function build(outdir)
%BUILD  Builds the MEX functions cihear_simulate and cihear_to_pcm16 from the C++ sources.
%   BUILD compiles the engine's sources (src/engine, src/io, src/wav, src/sim, src/dsp, src/params, src/signal)
%   and the two MEX functions with the compiler mex is set up for (mex -setup C++; a C++17
%   compiler is needed), and puts the MEX files in this folder, beside their help files:
%   addpath this folder to use them. BUILD(OUTDIR) puts them in OUTDIR instead.
%
%   The flags are those of the program's own build: -O2 -ffp-contract=off, never fast-math,
%   so that the output equals the program's bit for bit. Kernels.cpp and gasdev.cpp also get
%   -fno-math-errno, which only lets their square roots be vectorised.
%
%   Compilers: GCC on Linux is the one the project tests with. Elsewhere (clang on macOS, or
%   any compiler that is not GCC) the fast kernels are compiled once for the baseline
%   instruction set (CIHEAR_NO_TARGET_CLONES) instead of one copy per instruction set picked
%   when loaded; the results are the same, only slower on processors with wider vectors.
%   Windows is not supported: the engine's sample buffers use posix_memalign. In Octave, 'make
%   matlab' in the repository is the usual build; this script works there too (mkoctfile).
  here = fileparts(mfilename('fullpath'));
  root = fileparts(here);
  if nargin < 1
    outdir = here;
  end
  if ispc
    error('cihear:build', 'Windows is not supported: the engine needs posix_memalign');
  end
  version = strtrim(fileread(fullfile(root, 'VERSION')));
  objdir = tempname();
  mkdir(objdir);
  cleanup = onCleanup(@() remove(objdir));

  % The engine stamps its version from a macro holding a string literal. Passing quotes
  % through mex to the compiler depends on the platform's shell, so a small source defines it
  % and includes the engine's file instead.
  sources = {};
  for folder = {'engine', 'io', 'wav', 'sim', 'dsp', 'params', 'signal'}
    files = dir(fullfile(root, 'src', folder{1}, '*.cpp'));
    sources = [sources, fullfile(root, 'src', folder{1}, {files.name})];
  end
  simulate = fullfile(root, 'src', 'engine', 'Simulate.cpp');
  stamped = fullfile(objdir, 'Simulate.cpp');
  file = fopen(stamped, 'w');
  fprintf(file, '#define CIHEAR_VERSION "%s"\n#include "%s"\n', version, simulate);
  fclose(file);
  sources{strcmp(sources, simulate)} = stamped;
  fast = ~cellfun(@isempty, regexp(sources, '[/\\](Kernels|gasdev)\.cpp$'));

  defines = {};
  if ~(isunix() && ~ismac() && is_gcc())
    defines = {'-DCIHEAR_NO_TARGET_CLONES'};
  end
  includes = {['-I' fullfile(root, 'include')], ['-I' fullfile(root, 'src')]};
  options = [includes, defines];
  objects = [compile(sources(~fast), objdir, options, ''), ...
             compile(sources(fast), objdir, options, '-fno-math-errno')];
  for name = {'cihear_simulate', 'cihear_to_pcm16'}
    main = compile({fullfile(here, [name{1} '.cpp'])}, objdir, options, '');
    link(fullfile(outdir, name{1}), [main, objects]);
  end
  if ~strcmp(outdir, here)
    for help = {'cihear_simulate.m', 'cihear_to_pcm16.m', 'Contents.m'}
      copyfile(fullfile(here, help{1}), outdir);
    end
  end
  fprintf('build: cihear_simulate and cihear_to_pcm16 (cihear %s) are in %s\n', version, outdir);
end

function remove(folder)
  if is_octave()
    confirm_recursive_rmdir(false, 'local');
  end
  rmdir(folder, 's');
end

function yes = is_octave()
  yes = exist('OCTAVE_VERSION', 'builtin') ~= 0;
end

function yes = is_gcc()
  if is_octave()
    yes = true;  % mkoctfile uses the compiler Octave was built with, GCC on Debian
  else
    compiler = mex.getCompilerConfigurations('C++', 'Selected');
    yes = ~isempty(compiler) && ~isempty(strfind(lower(compiler.ShortName), 'g++'));
  end
end

% Compiles each source to an object in objdir; returns the objects' paths.
function objects = compile(sources, objdir, options, extra)
  flags = ['-std=c++17 -O2 -ffp-contract=off ' extra];
  objects = cell(1, numel(sources));
  if is_octave()
    saved = getenv('CXXFLAGS');
    setenv('CXXFLAGS', flags);
    restore = onCleanup(@() setenv('CXXFLAGS', saved));
  end
  for k = 1:numel(sources)
    [~, name] = fileparts(sources{k});
    objects{k} = fullfile(objdir, [name '.o']);
    if is_octave()
      mkoctfile('--mex', options{:}, '-c', sources{k}, '-o', objects{k});
    else
      mex('-R2018a', '-c', '-outdir', objdir, options{:}, ['CXXFLAGS=$CXXFLAGS ' flags], ...
          'CXXOPTIMFLAGS=-O2', sources{k});
    end
  end
end

function link(target, objects)
  if is_octave()
    mkoctfile('--mex', '-o', [target '.mex'], objects{:});
  else
    [folder, name] = fileparts(target);
    mex('-R2018a', '-outdir', folder, '-output', name, objects{:});
  end
end
