function t = new_tally()
%NEW_TALLY Empty count of passed and failed checks.
t = struct('passed', 0, 'failed', 0);
end
