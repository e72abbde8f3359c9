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
%! [~, state] = classic_draws(6000);
%! assert(typecast(third(:), 'uint64'), typecast(reshape(reference_fill(D, 5, 0, state), [], 1), 'uint64'));
%! assert(~isequal(first, third));
%! spherefill_stream(3, 3000);
%! assert(isequal(spherefill(D, 5, 0), third));

%!error <multiple of 3> spherefill_stream(2, 1000)
