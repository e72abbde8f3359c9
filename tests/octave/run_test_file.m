function run_test_file(file)
  % Runs the %!test blocks of FILE and ends Octave with a failing exit code
  % unless every block passed (Octave's own runners never fail the process).
  [passed, total] = test(file, 'quiet', stdout);
  printf('%s: %d passed, %d failed\n', file, passed, total - passed);
  exit(double(total == 0 || passed < total));
end
