% Fills a cube with spheres of two sizes and evaluates the packing.
% Run from the repository root after building:  octave-cli examples/demo.m

here = fileparts(mfilename('fullpath'));
addpath(fullfile(here, '..', 'build', 'toolbox'));

% 600 spheres of diameter 1 and 300 of diameter 1.6, at a volume fraction of 0.3.
D = [ones(600, 1); repmat(1.6, 300, 1)];
phi = 0.3;
L = (sum(pi / 6 * D .^ 3) / phi) ^ (1 / 3);
s = 0.02;

tic;
P = spherefill(D, L, s);
fill_time = toc;
printf('spherefill: %d spheres in a cube of edge %.4f, clearance %g, in %.3f s\n', ...
       rows(P), L, s, fill_time);
printf('volume fraction %.4f (spheres may reach past the faces by up to their radius)\n', ...
       sum(4 / 3 * pi * P(:, 4) .^ 3) / L ^ 3);

thresholds = [0.01 0.02 0.05 0.1 0.2 0.5];
printf('\n%10s  %22s\n', 'T', 'gapsum(P, T)');
for T = thresholds
  printf('%10g  %22.15g\n', T, gapsum(P, T));
end
