function [P, state] = reference_fill(D, L, s, state)
  % Random sequential addition written plainly, one scalar operation at a
  % time, drawing from the plug-in's generator at STATE (its initial state
  % when omitted).
  if nargin < 4
    state = [];
  end
  M = size(D, 1);
  P = zeros(M, 4 * size(D, 2));
  for i = 1:M
    r = D(i) * 0.5;
    accepted = false;
    while ~accepted
      [abc, state] = pcg_draws(3, state);
      c = L * (abc / 32767);
      accepted = true;
      for j = 1:i-1
        dx = c(1) - P(j, 1); dy = c(2) - P(j, 2); dz = c(3) - P(j, 3);
        dist = sqrt((dx * dx + dy * dy) + dz * dz);
        limit = (r + P(j, 4)) + s;
        if ~(dist > limit)
          accepted = false;
          break;
        end
      end
    end
    P(i, 1:4) = [c.', r];
  end
end
