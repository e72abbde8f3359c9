% Help for both plug-ins comes from the files beside them.

%!test
%! for name = {'spherefill', 'gapsum'}
%!   text = evalc(['help ' name{1}]);
%!   assert(~isempty(strfind(text, [upper(name{1}) '(']) ), ['no usage in help ' name{1}]);
%!   assert(~isempty(strfind(which(name{1}), '.mex')), ['help file shadows the ' name{1} ' plug-in']);
%! end

%!test
%! % Without the compiled plug-ins, the help files say how to build them.
%! here = fileparts(which('help_test.m'));
%! toolbox = fullfile(here, '..', '..', 'toolbox');
%! built = fileparts(which('spherefill'));
%! rmpath(built);
%! addpath(toolbox);
%! unwind_protect
%!   clear spherefill gapsum
%!   try
%!     spherefill(1, 1, 0);
%!     error('test:noError', 'no error raised');
%!   catch err
%!     assert(err.identifier, 'spherefill:notBuilt');
%!   end
%!   try
%!     gapsum(zeros(2, 4), 1);
%!     error('test:noError', 'no error raised');
%!   catch err
%!     assert(err.identifier, 'gapsum:notBuilt');
%!   end
%! unwind_protect_cleanup
%!   rmpath(toolbox);
%!   addpath(built);
%!   clear spherefill gapsum
%! end_unwind_protect
