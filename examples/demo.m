% Fills a cube with spheres of two sizes, evaluates the packing over a range
% of thresholds, and draws both. Run from the repository root after building:
%   octave-cli examples/demo.m
% The pictures land in build/demo/.

here = fileparts(mfilename('fullpath'));
root = fileparts(here);
addpath(fullfile(root, 'build', 'toolbox'));
outdir = fullfile(root, 'build', 'demo');
if ~exist(outdir, 'dir')
  mkdir(outdir);
end

% 220 spheres of diameter 1 and 80 of diameter 1.8, at a volume fraction of 0.3.
D = [ones(220, 1); repmat(1.8, 80, 1)];
phi = 0.3;
L = (sum(pi / 6 * D .^ 3) / phi) ^ (1 / 3);
s = 0.02;

tic;
P = spherefill(D, L, s);
fill_time = toc;
printf('spherefill: %d spheres (diameters 1 and 1.8) in a cube of edge %.4f, clearance %g, in %.3f s\n', ...
       rows(P), L, s, fill_time);
printf('volume fraction %.4f (spheres may reach past the faces by up to their radius)\n', ...
       sum(4 / 3 * pi * P(:, 4) .^ 3) / L ^ 3);

thresholds = [0.01 0.02 0.05 0.1 0.15 0.2 0.3 0.5 0.75 1];
sums = zeros(size(thresholds));
tic;
for k = 1:numel(thresholds)
  sums(k) = gapsum(P, thresholds(k));
end
printf('gapsum over %d thresholds in %.3f s\n\n%8s  %22s\n', numel(thresholds), toc, 'T', 'gapsum(P, T)');
printf('%8g  %22.15g\n', [thresholds; sums]);

% Pictures, drawn without a display.
% gnuplot renders the PNG files itself: its warnings about the toolkit and
% about a missing Ghostscript do not apply here.
warning('off', 'all');
graphics_toolkit('gnuplot');
set(0, 'defaultfigurevisible', 'off');

% The packing: every sphere as a sphere, all in one patch, coloured by size
% and shaded by a light from the viewer's upper left.
% A unit sphere as a mesh of triangles (what gnuplot draws in 3-D).
m = 8;
[sx, sy, sz] = sphere(m);
unit.vertices = [sx(:), sy(:), sz(:)];
[a, b] = ndgrid(1:m, 1:m);
corner = sub2ind([m + 1, m + 1], a(:), b(:));
unit.faces = [corner, corner + 1, corner + m + 2; corner, corner + m + 2, corner + m + 1];
nv = rows(unit.vertices);
nf = rows(unit.faces);
normals = (unit.vertices(unit.faces(:, 1), :) + unit.vertices(unit.faces(:, 2), :) ...
           + unit.vertices(unit.faces(:, 3), :)) / 3;
normals = normals ./ sqrt(sum(normals .^ 2, 2));
light = [-0.3 -0.8 0.6];
light = light / norm(light);
shade = 0.35 + 0.65 * max(0, normals * light.');
small = [0.20 0.45 0.85];
large = [0.95 0.50 0.15];
n = rows(P);
vertices = zeros(n * nv, 3);
faces = zeros(n * nf, 3);
colour = zeros(n * nf, 3);
for i = 1:n
  vertices((i - 1) * nv + (1:nv), :) = unit.vertices * P(i, 4) + P(i, 1:3);
  faces((i - 1) * nf + (1:nf), :) = unit.faces + (i - 1) * nv;
  if P(i, 4) > 0.6
    base = large;
  else
    base = small;
  end
  colour((i - 1) * nf + (1:nf), :) = shade * base;
end
figure('position', [0 0 900 800]);
patch('Vertices', vertices, 'Faces', faces, 'FaceVertexCData', colour, ...
      'FaceColor', 'flat', 'EdgeColor', 'none');
axis equal; axis([-1 L + 1 -1 L + 1 -1 L + 1]);
view(35, 25);
xlabel('x'); ylabel('y'); zlabel('z');
title(sprintf('%d spheres in a cube of edge %.2f (blue: diameter 1, orange: 1.8)', n, L));
print(fullfile(outdir, 'packing.png'), '-dpngcairo');

figure('position', [0 0 800 550]);
included = sums > 0;
semilogy(thresholds(included), sums(included), 'o-', 'linewidth', 2);
grid on;
xlabel('threshold T on the relative gap');
ylabel('gapsum(P, T), log scale');
title('Sum of cubed half-gaps of the close pairs');
print(fullfile(outdir, 'gapsum.png'), '-dpngcairo');
printf('\npictures: %s, %s\n', fullfile(outdir, 'packing.png'), fullfile(outdir, 'gapsum.png'));
