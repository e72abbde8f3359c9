% End-to-end tests of the gapsum plug-in in the host.

%!function b = bits(x)
%!  b = typecast(x(:), 'uint64');
%!endfunction

%!test
%! % The worked pairs, with exact bits.
%! pair = [0 0 0 1; 3 0 0 1];
%! assert(bits(gapsum(pair, 1)), bits(0.125));
%! assert(bits(gapsum(pair, 0.5)), bits(0));
%! assert(bits(gapsum([0 0 0 1; 1 0 0 1], 0)), bits(-0.125));
%! assert(bits(gapsum(zeros(0, 4), 1)), bits(0));
%! assert(bits(gapsum([1 2 3 4], 1)), bits(0));

%!test
%! % A random table against the plain reference, bit for bit.
%! rand('seed', 3);
%! P = [5 * rand(60, 3), 0.1 + rand(60, 1)];
%! for T = [-0.5 0 0.2 Inf]
%!   assert(bits(gapsum(P, T)), bits(reference_gapsum(P, T)));
%! end

%!test
%! % A table as spherefill returns it passes unchanged; extra columns, extra
%! % thresholds and extra inputs are ignored; inputs are never written.
%! P = spherefill([1 1; 2 2; 1 1], 8, 0);
%! P0 = P; T = [0.4 -1]; T0 = T;
%! S = gapsum(P, T, 'ignored');
%! assert(bits(S), bits(reference_gapsum(P(:, 1:4), 0.4)));
%! assert(bits(P), bits(P0)); assert(bits(T), bits(T0));

%!error id=gapsum:notEnoughInputs gapsum(zeros(2, 4))
%!error id=gapsum:tooManyOutputs [a, b] = gapsum(zeros(2, 4), 1);
%!error id=gapsum:notRealDouble gapsum(single(zeros(2, 4)), 1)
%!error id=gapsum:notRealDouble gapsum(sparse(zeros(2, 4)), 1)
%!error id=gapsum:notRealDouble gapsum(zeros(2, 4) + 1i, 1)
%!error id=gapsum:notRealDouble gapsum(zeros(2, 4), int8(1))
%!error id=gapsum:notRealDouble gapsum(zeros(2, 4), {1})
%!error id=gapsum:emptyInput gapsum(zeros(2, 4), [])
%!error <it has 3> gapsum(zeros(2, 3), 1)
%!error id=gapsum:tooFewColumns gapsum(zeros(0, 3), 1)
