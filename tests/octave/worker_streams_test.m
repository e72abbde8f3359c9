% Giving parallel workers their own stretches of the random sequence.

%!test
%! here = fileparts(which('worker_streams_test.m'));
%! addpath(fullfile(here, '..', '..', 'examples'));
%! D = [1; 1.5; 0.5; 1];
%! % Stretch 1 is the start of the sequence.
%! spherefill_stream(1, 3000);
%! first = spherefill(D, 5, 0);
%! assert(typecast(first(:), 'uint64'), typecast(reshape(reference_fill(D, 5, 0), [], 1), 'uint64'));
%! % Stretch 3 starts 6000 draws in, however much was drawn before.
%! spherefill(ones(5, 1), 50, 0);
%! spherefill_stream(3, 3000);
%! third = spherefill(D, 5, 0);
%! [~, state] = pcg_draws(6000, [], true);
%! assert(typecast(third(:), 'uint64'), typecast(reshape(reference_fill(D, 5, 0, state), [], 1), 'uint64'));
%! assert(~isequal(first, third));
%! spherefill_stream(3, 3000);
%! assert(isequal(spherefill(D, 5, 0), third));

%!error <multiple of 3> spherefill_stream(2, 1000)

%!test
%! % Real worker processes: Octave's parallel package forks two, and they
%! % share out six packings. Each must be the one its own stretch gives,
%! % whichever process makes it and whatever that process made before.
%! pkg load parallel
%! here = fileparts(which('worker_streams_test.m'));
%! addpath(fullfile(here, '..', '..', 'examples'));
%! spherefill(ones(3, 1), 50, 0);  % the parent's own draws reach no worker
%! D = [1; 1.5; 0.5; 1; 2; 0.25];
%! stretch = 30000;
%! jobs = 6;
%! out = parcellfun(2, @(k) packing_of_stretch(k, stretch, D, 5, 0), num2cell(1:jobs), ...
%!                  'UniformOutput', false, 'VerboseLevel', 0);
%! [~, state] = pcg_draws(0);
%! for k = 1:jobs
%!   assert(out{k}{2} != getpid());
%!   P = reference_fill(D, 5, 0, state);
%!   assert(typecast(out{k}{1}(:), 'uint64'), typecast(P(:), 'uint64'));
%!   [~, state] = pcg_draws(stretch, state, true);
%! end
%! pids = cellfun(@(o) o{2}, out);
%! printf('%d packings from worker processes %s\n', jobs, mat2str(unique(pids)));
