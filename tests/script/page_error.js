// A script error stops the page host's run with exit code 1 and a report that
// names the file and the line (the third line below the comments).
host.Echo("before");
var missing = undefined;
missing.call();
host.Echo("not reached");
