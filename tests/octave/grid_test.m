% The plug-ins give the same bits through the cell grid, chosen by the cost
% rule, as through all pairs, forced with SPHEREFILL_SEARCH.

%!function b = bits(x)
%!  b = typecast(x(:), 'uint64');
%!endfunction

%!function [P, S] = fill_and_sum(mode, D, L, s, thresholds)
%!  % A freshly loaded plug-in reads the mode and starts the sequence afresh.
%!  setenv('SPHEREFILL_SEARCH', mode);
%!  clear spherefill gapsum
%!  P = spherefill(D, L, s);
%!  S = arrayfun(@(T) gapsum(P, T), thresholds);
%!endfunction

%!test
%! % 20,000 spheres of two sizes, the large ones first.
%! D = [repmat(2, 200, 1); ones(19800, 1)];
%! L = (sum(pi / 6 * D .^ 3) / 0.3) ^ (1 / 3);
%! thresholds = [0.02 0.1 1];
%! unwind_protect
%!   [P, S] = fill_and_sum('auto', D, L, 0.01, thresholds);
%!   [Q, R] = fill_and_sum('pairs', D, L, 0.01, thresholds);
%! unwind_protect_cleanup
%!   unsetenv('SPHEREFILL_SEARCH');
%!   clear spherefill gapsum
%! end_unwind_protect
%! assert(bits(P), bits(Q));
%! assert(bits(S), bits(R));
%! assert(all(S > 0));
