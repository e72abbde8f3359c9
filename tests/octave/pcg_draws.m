function [draws, state] = pcg_draws(count, state, skip)
  % The next COUNT draws of the plug-in's PCG generator from STATE (its
  % initial state when omitted or empty), and the state after them. With
  % SKIP true, moves the state on by COUNT draws in a few steps and returns
  % no draws. The 64-bit state is four 16-bit limbs in doubles, low first,
  % so every product and sum is exact; the output's bit operations run on
  % uint64.
  mult = [hex2dec('7F2D') hex2dec('4C95') hex2dec('F42D') hex2dec('5851')];
  inc = [hex2dec('5BDB') hex2dec('94B9') hex2dec('39CB') hex2dec('DA3E')];
  if nargin < 2 || isempty(state)
    state = [hex2dec('EA9B') hex2dec('748F') hex2dec('49E6') hex2dec('853C')];
  end
  if nargin == 3 && skip
    % The state n steps on is A_n * state + C_n, with (A, C) composed by
    % squaring: n steps of x -> a x + c.
    draws = [];
    acc_mult = [1 0 0 0]; acc_plus = [0 0 0 0];
    cur_mult = mult; cur_plus = inc;
    n = count;
    while n > 0
      if mod(n, 2) == 1
        acc_mult = mul64(acc_mult, cur_mult);
        acc_plus = add64(mul64(acc_plus, cur_mult), cur_plus);
      end
      cur_plus = mul64(add64(cur_mult, [1 0 0 0]), cur_plus);
      cur_mult = mul64(cur_mult, cur_mult);
      n = floor(n / 2);
    end
    state = add64(mul64(acc_mult, state), acc_plus);
    return;
  end
  mask32 = uint64(4294967295);
  draws = zeros(count, 1);
  for k = 1:count
    old = bitor(bitor(uint64(state(1)), bitshift(uint64(state(2)), 16)), ...
                bitor(bitshift(uint64(state(3)), 32), bitshift(uint64(state(4)), 48)));
    state = add64(mul64(state, mult), inc);
    x = bitand(bitshift(bitxor(bitshift(old, -18), old), -27), mask32);
    rot = double(bitshift(old, -59));
    out = bitor(bitshift(x, -rot), bitand(bitshift(x, 32 - rot), mask32));
    draws(k) = double(bitshift(out, -17));
  end
end

function p = mul64(a, b)
  p = zeros(1, 4);
  for i = 1:4
    for j = 1:5-i
      p(i + j - 1) += a(i) * b(j);
    end
  end
  p = carry(p);
end

function p = add64(a, b)
  p = carry(a + b);
end

function p = carry(p)
  % Limbs back into 0..65535, dropping what passes 2^64.
  for k = 1:4
    c = floor(p(k) / 65536);
    p(k) -= c * 65536;
    if k < 4
      p(k + 1) += c;
    end
  end
end
