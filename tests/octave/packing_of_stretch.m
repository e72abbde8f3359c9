function out = packing_of_stretch(k, stretch, D, L, s)
  % What one parallel worker does: move to stretch K of the random sequence,
  % then fill. Returns the packing and the id of the process that made it.
  spherefill_stream(k, stretch);
  out = {spherefill(D, L, s), getpid()};
end
