% The plug-ins as users install them: `cmake --install` into one folder, and
% the Octave package through `pkg install`. SPHEREFILL_BUILD_DIR and
% SPHEREFILL_PACKAGE say where the build and the package tarball are.

%!function check_plugins(folder)
%!  assert(strncmp(which('spherefill'), folder, numel(folder)), which('spherefill'));
%!  assert(strncmp(which('gapsum'), folder, numel(folder)), which('gapsum'));
%!  D = [1; 0.5; 2];
%!  P = spherefill(D, 6, 0);
%!  assert(typecast(P(:), 'uint64'), typecast(reshape(reference_fill(D, 6, 0), [], 1), 'uint64'));
%!  assert(typecast(gapsum(P, 1), 'uint64'), typecast(reference_gapsum(P, 1), 'uint64'));
%!  assert(~isempty(strfind(evalc('help gapsum'), 'GAPSUM(P, T)')));
%!endfunction

%!test
%! prefix = tempname();
%! [status, output] = system(sprintf('cmake --install "%s" --prefix "%s"', getenv('SPHEREFILL_BUILD_DIR'), prefix));
%! assert(status, 0, output);
%! folder = fullfile(prefix, 'spherefill');
%! assert(sort({dir(folder)(3:end).name}), {'gapsum.m', 'gapsum.mex', 'spherefill.m', 'spherefill.mex'});
%! addpath(folder);
%! unwind_protect
%!   clear spherefill gapsum
%!   check_plugins(folder);
%! unwind_protect_cleanup
%!   clear spherefill gapsum
%!   rmpath(folder);
%!   confirm_recursive_rmdir(false, 'local');
%!   rmdir(prefix, 's');
%! end_unwind_protect

%!test
%! prefix = tempname();
%! mkdir(prefix);
%! pkg('prefix', prefix, prefix);
%! pkg('local_list', fullfile(prefix, 'octave_packages'));
%! unwind_protect
%!   pkg('install', '-nodeps', getenv('SPHEREFILL_PACKAGE'));
%!   pkg('load', 'spherefill');
%!   clear spherefill gapsum
%!   check_plugins(prefix);
%! unwind_protect_cleanup
%!   pkg('unload', 'spherefill');
%!   clear spherefill gapsum
%!   confirm_recursive_rmdir(false, 'local');
%!   rmdir(prefix, 's');
%! end_unwind_protect
