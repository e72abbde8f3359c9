% End-to-end tests of the spherefill plug-in in the host.

%!function b = bits(x)
%!  b = typecast(x(:), 'uint64');
%!endfunction

%!test
%! % A fresh plug-in starts its own sequence; each call continues it,
%! % and `clear spherefill` starts it again.
%! clear spherefill
%! D = [1; 2; 1.5; 0.5; 1];
%! [expected, state] = reference_fill(D, 6, 0.1);
%! P = spherefill(D, 6, 0.1);
%! assert(bits(P), bits(expected));
%! assert(P(1, 1:3), [2710 318 25987] * 6 / 32767, 1e-15);
%! next = reference_fill(D, 6, 0.1, state);
%! assert(bits(spherefill(D, 6, 0.1)), bits(next));
%! clear spherefill
%! assert(bits(spherefill(D, 6, 0.1)), bits(expected));

%!test
%! % A dense packing, with rejections, equals the plain reference bit for bit.
%! clear spherefill
%! D = repmat([1; 0.6], 40, 1);
%! P = spherefill(D, 7, 0.05);
%! assert(bits(P), bits(reference_fill(D, 7, 0.05)));
%! assert(bits(gapsum(P, 0.3)), bits(reference_gapsum(P, 0.3)));

%!test
%! % The result has M rows and 4K columns; only D's first column is used.
%! P = spherefill([1 7 7; 2 7 7], 100, 0);
%! assert(size(P), [2 12]);
%! assert(P(:, 4), [0.5; 1]);
%! assert(all(P(:, 5:end)(:) == 0));
%! P = spherefill(reshape(1:8, 2, 2, 2), 100, 0);
%! assert(size(P), [2 8]);
%! assert(P(:, 4), [0.5; 1]);
%! assert(size(spherefill(zeros(0, 1), 1, 0)), [0 4]);
%! assert(size(spherefill([3 4 5], 100, 0)), [1 12]);

%!test
%! % Inputs are never written, extra inputs are ignored.
%! D = [1; 2; 3]; L = [50 1]; s = [0.5 9];
%! D0 = D; L0 = L; s0 = s;
%! P = spherefill(D, L, s, {'ignored'});
%! assert(bits(D), bits(D0)); assert(bits(L), bits(L0)); assert(bits(s), bits(s0));
%! assert(all(P(:, 1:3)(:) >= 0 & P(:, 1:3)(:) <= 50));

%!test
%! % Spheres that can never be placed end the call with an error, not a hang.
%! try
%!   spherefill([1; 1], NaN, 0);
%!   error('test:noError', 'no error raised');
%! catch err
%!   assert(err.identifier, 'spherefill:nonFiniteEdge');
%! end
%! try
%!   spherefill(repmat(10, 10, 1), 1, 0);
%!   error('test:noError', 'no error raised');
%! catch err
%!   assert(err.identifier, 'spherefill:tooFull');
%!   assert(strfind(err.message, 'sphere 2 of 10 could not be placed after 10000000 attempts'));
%! end

%!error <expected 3 inputs> spherefill([1; 2], 10)
%!error id=spherefill:notEnoughInputs spherefill()
%!error id=spherefill:tooManyOutputs [a, b] = spherefill(1, 10, 0);
%!error id=spherefill:notRealDouble spherefill(single(1), 10, 0)
%!error id=spherefill:notRealDouble spherefill(int32(1), 10, 0)
%!error id=spherefill:notRealDouble spherefill(true, 10, 0)
%!error id=spherefill:notRealDouble spherefill('a', 10, 0)
%!error id=spherefill:notRealDouble spherefill({1}, 10, 0)
%!error id=spherefill:notRealDouble spherefill(struct('a', 1), 10, 0)
%!error id=spherefill:notRealDouble spherefill(sparse(1), 10, 0)
%!error id=spherefill:notRealDouble spherefill(1, 10 + 1i, 0)
%!error id=spherefill:emptyInput spherefill(1, [], 0)
%!error id=spherefill:emptyInput spherefill(1, 10, zeros(1, 0))
%!error id=spherefill:noColumns spherefill(zeros(3, 0), 10, 0)
%!error id=spherefill:noColumns spherefill(zeros(2, 3, 0), 10, 0)
%!error id=spherefill:nonFiniteSize spherefill([1; Inf], 10, 0)

%!test
%! % A cube proven full skips the attempts up to the cap by jumping the
%! % generator ahead: the error is that of the cap, and the next call draws
%! % exactly where 3 + 3 * 10^7 draws would have left the sequence.
%! unwind_protect
%!   setenv('SPHEREFILL_SEARCH', 'map');
%!   clear spherefill
%!   try
%!     spherefill([1; 10; 10], 1, 0);
%!     error('test:noError', 'no error raised');
%!   catch err
%!     assert(err.identifier, 'spherefill:tooFull');
%!     assert(strfind(err.message, 'sphere 2 of 3 could not be placed after 10000000 attempts'));
%!   end
%!   P = spherefill(0, 1, -1);
%! unwind_protect_cleanup
%!   unsetenv('SPHEREFILL_SEARCH');
%!   clear spherefill
%! end_unwind_protect
%! [~, state] = pcg_draws(3 + 3e7, [], true);
%! assert(P(1, 1:3), pcg_draws(3, state)' / 32767);
