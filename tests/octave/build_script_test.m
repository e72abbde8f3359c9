% The host-side build script builds both plug-ins from source, and they work.

%!test
%! outdir = tempname();
%! here = fileparts(which('build_script_test.m'));
%! addpath(fullfile(here, '..', '..', 'toolbox'));
%! build_plugins(outdir);
%! addpath(outdir);
%! unwind_protect
%!   clear spherefill gapsum
%!   D = [1; 0.5; 2; 1];
%!   P = spherefill(D, 5, 0);
%!   assert(typecast(P(:), 'uint64'), typecast(reshape(reference_fill(D, 5, 0), [], 1), 'uint64'));
%!   assert(typecast(gapsum(P, 1), 'uint64'), typecast(reference_gapsum(P, 1), 'uint64'));
%!   assert(file_in_loadpath('spherefill.mex'), fullfile(outdir, 'spherefill.mex'));
%! unwind_protect_cleanup
%!   clear spherefill gapsum
%!   rmpath(outdir);
%!   confirm_recursive_rmdir(false, 'local');
%!   rmdir(outdir, 's');
%! end_unwind_protect
