function P = spherefill(D, L, s)
% SPHEREFILL  Fill a cube with spheres by random sequential addition.
%   P = SPHEREFILL(D, L, s) places the spheres of diameters D(:, 1), one after
%   another, at random centres in the cube [0, L]^3. Each sphere keeps drawing
%   centres until its surface is more than s away from every sphere placed
%   before it.
%
%   Inputs (full real double arrays):
%     D  diameters, an M x K array; the first column is used
%     L  cube edge (first element used)
%     s  clearance between surfaces (first element used; may be negative)
%   Output:
%     P  M x 4K table, one row per sphere: x, y, z, radius (radii, not
%        diameters); columns after the fourth are zero.
%
%   The random sequence starts afresh when the plug-in is loaded and goes on
%   across calls; `clear spherefill` starts it again. It is PCG32 (XSH-RR)
%   from a constant state, 15 bits a draw, and repeats after 2^64 draws.
%   On Windows the sequence is the C runtime's own rand, so packings differ
%   from other platforms': it repeats after 2^32 draws and puts the three
%   draws of an attempt on planes; it is one sequence per thread, which
%   starts afresh only in a new thread or process (not on `clear
%   spherefill`) and which any other code calling rand in that thread
%   advances too. Centres lie on a lattice L/32767 apart on each axis, in the
%   cube; spheres may reach past its faces by up to their radius.
%
%   Example:
%     D = ones(500, 1);
%     P = spherefill(D, 10, 0.05);
%
%   Errors: spherefill:tooFull (a sphere found no place in 10000000 attempts),
%   spherefill:nonFiniteEdge, spherefill:nonFiniteSize, and input errors
%   spherefill:notEnoughInputs, :tooManyOutputs, :notRealDouble, :emptyInput,
%   :noColumns, :tooLarge; spherefill:outOfMemory when the host has no memory
%   for finding neighbours (at most 68 bytes per sphere: the grid, and in
%   fills that end dense the map of dead blocks, which rejects most attempts
%   of a dense fill for the price of their draws).
%
%   Ctrl-C stops a call within milliseconds (in MATLAB with the error
%   spherefill:interrupted). The random sequence has then advanced by the
%   draws made before the interrupt; `clear spherefill` starts it afresh
%   (but on Windows, see above).
%
%   See also GAPSUM.

  % Reached only when the compiled plug-in is missing from the path.
  error('spherefill:notBuilt', ['the spherefill plug-in is not built: run ', ...
        'build_plugins() from the toolbox folder, or `cmake --build build`.']);
end
