// H_Sign against the test server (testbed/authserver). Each script argument is one action, run
// in order on one control (a new one after "new"):
//   events=PATH                       the server's event log (Windows path), read for results
//   sign|RANDOM|EXPECT|E[|MIN-MAX]    H_Sign(RANDOM) gives EXPECT and leaves GetLastError at E;
//                                     EXPECT "result" means the 256 characters the server
//                                     logged for this connection, otherwise an error code;
//                                     with MIN-MAX the call takes MIN to MAX seconds
//   new                               go on with a new control
//   step:NAME                         the scenario runner does step NAME first
var control = newControl();
var eventsPath = null;
var calls = 0;
var files = new ActiveXObject("Scripting.FileSystemObject");

// The server's "result" lines, newest last.
function serverResults() {
    var results = [];
    if (eventsPath === null || !files.FileExists(eventsPath)) return results;
    var stream = files.OpenTextFile(eventsPath, 1);
    var text = stream.AtEndOfStream ? "" : stream.ReadAll();
    stream.Close();
    var lines = text.split("\n");
    for (var i = 0; i < lines.length; i++) {
        var m = /^\d+ result (.*)$/.exec(lines[i]);
        if (m) results.push(m[1]);
    }
    return results;
}

function sign(action) {
    var parts = action.split("|");
    if (parts.length < 4) throw new Error("bad action '" + action + "'");
    var random = parts[1], expected = parts[2], lastError = parseInt(parts[3], 10);
    var name = "call " + (++calls) + " H_Sign(\"" + random + "\")";
    var resultsBefore = serverResults().length;
    var started = new Date().getTime();
    var result = control.H_Sign(random);
    var seconds = (new Date().getTime() - started) / 1000;
    if (expected == "result") {
        var results = serverResults();
        check(name + " made the server compute a result", results.length == resultsBefore + 1,
              (results.length - resultsBefore) + " new results");
        checkEqual(name + " returns the server's 256 characters", result,
                   results.length ? results[results.length - 1] : "(none)");
        checkEqual(name + " result length", String(result).length, 256);
    } else {
        checkEqual(name, result, expected);
    }
    checkEqual(name + ", then GetLastError", control.GetLastError(), lastError);
    if (parts.length > 4) {
        var range = parts[4].split("-");
        var low = parseFloat(range[0]), high = parseFloat(range[1]);
        check(name + " took " + low + " to " + high + " s", seconds >= low && seconds <= high,
              "took " + seconds + " s");
    }
}

for (var i = 0; i < WScript.Arguments.length; i++) {
    var action = arg(i);
    test("action " + (i + 1), function () {
        if (action == "new") control = newControl();
        else if (action.indexOf("events=") == 0) eventsPath = action.substring(7);
        else if (action.indexOf("step:") == 0) handOver(action.substring(5));
        else if (action.indexOf("sign|") == 0) sign(action);
        else throw new Error("unknown action '" + action + "'");
    });
}
