% Help for both plug-ins comes from the files beside them.

%!test
%! for name = {'spherefill', 'gapsum'}
%!   text = evalc(['help ' name{1}]);
%!   assert(~isempty(strfind(text, [upper(name{1}) '(']) ), ['no usage in help ' name{1}]);
%!   assert(~isempty(strfind(which(name{1}), '.mex')), ['help file shadows the ' name{1} ' plug-in']);
%! end
