function [draws, state] = classic_draws(count, state)
  % The next COUNT draws of the classic 15-bit generator from STATE (1 when
  % fresh): state = state * 214013 + 2531011 mod 2^32, draw = bits 16..30.
  % Done in doubles, where every product stays below 2^53 and is exact.
  if nargin < 2
    state = 1;
  end
  draws = zeros(count, 1);
  for k = 1:count
    state = mod(state * 214013 + 2531011, 2^32);
    draws(k) = mod(floor(state / 65536), 32768);
  end
end
