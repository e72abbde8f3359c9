function S = reference_gapsum(P, T)
  % The gap-cube sum written plainly: pairs (i, j), j < i, in order.
  S = 0;
  for i = 1:size(P, 1)
    for j = 1:i-1
      dx = P(i, 1) - P(j, 1); dy = P(i, 2) - P(j, 2); dz = P(i, 3) - P(j, 3);
      dist = sqrt((dx * dx + dy * dy) + dz * dz);
      gap = (dist - P(i, 4)) - P(j, 4);
      rel = gap / (P(j, 4) + P(i, 4));
      if T > rel
        h = gap * 0.5;
        S = (h * h) * h + S;
      end
    end
  end
end
