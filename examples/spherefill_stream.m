function spherefill_stream(k, stretch)
% SPHEREFILL_STREAM  Start spherefill at stretch K of its random sequence.
%   SPHEREFILL_STREAM(K, STRETCH) reloads the spherefill plug-in, which starts
%   its random sequence afresh, then advances the sequence by (K - 1) * STRETCH
%   draws. Parallel workers that call it with their own K and a common STRETCH
%   then make different packings, reproducibly, as long as no worker uses more
%   than STRETCH draws (three per attempt to place a sphere).
%
%   It uses only spherefill itself: spheres of diameter 0 with a negative
%   clearance can never be rejected, so each takes exactly three draws.
%   STRETCH must be a multiple of 3.
%
%   Example, one packing per worker:
%     parfor w = 1:8
%       spherefill_stream(w, 3e6);
%       P{w} = spherefill(D, L, s);
%     end

  if ~(isscalar(stretch) && stretch >= 0 && mod(stretch, 3) == 0)
    error('spherefill_stream:stretch', 'STRETCH must be a non-negative multiple of 3.');
  end
  if ~(isscalar(k) && k >= 1 && k == fix(k))
    error('spherefill_stream:k', 'K must be a positive whole number.');
  end
  clear spherefill
  spheres = (k - 1) * stretch / 3;
  block = 300;  % spheres per call: each call tests all pairs, so keep calls small
  while spheres > 0
    n = min(block, spheres);
    spherefill(zeros(n, 1), 1, -1);
    spheres = spheres - n;
  end
end
