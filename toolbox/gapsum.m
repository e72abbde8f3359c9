function S = gapsum(P, T)
% GAPSUM  Sum of cubed half-gaps over the close pairs of a sphere table.
%   S = GAPSUM(P, T) visits every pair of rows j < i of P and, with
%     gap = (dist - r_i) - r_j  and  rel = gap / (r_j + r_i),
%   adds (gap/2)^3 whenever T > rel. Overlapping pairs add negative terms.
%
%   Inputs (full real double arrays):
%     P  N x 4 (or wider) table: x, y, z, radius, as SPHEREFILL returns it
%     T  threshold on the relative gap (first element used)
%   Output:
%     S  the sum, a scalar; 0 for fewer than two rows.
%
%   Example:
%     P = spherefill(ones(500, 1), 10, 0);
%     S = gapsum(P, 0.1);
%
%   The terms are added in a fixed order (i ascending, then j ascending),
%   so the sum has the same bits whatever order the pairs are found in.
%   From 1000 rows on (300 where the CPU has no AVX-512), the close pairs
%   are found through the rows sorted by cell, a copy that needs at most 64
%   bytes per sphere (and 32 kB) beside P.
%
%   Errors: gapsum:notEnoughInputs, :tooManyOutputs, :notRealDouble,
%   :emptyInput, :tooFewColumns, :tooLarge; gapsum:outOfMemory when the host
%   has no memory for that copy.
%   Ctrl-C stops a call within milliseconds (in MATLAB with the error
%   gapsum:interrupted).
%
%   See also SPHEREFILL.

  % Reached only when the compiled plug-in is missing from the path.
  error('gapsum:notBuilt', ['the gapsum plug-in is not built: run ', ...
        'build_plugins() from the toolbox folder, or `cmake --build build`.']);
end
