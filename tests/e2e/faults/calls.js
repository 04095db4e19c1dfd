// Card and server methods under faults: results, error codes, times and the script host's own
// resource use. Each script argument is one action, run in order on one control:
//   call|METHOD|ARG|EXPECT|E|SECONDS  METHOD (H_Sign, GetBasic or GetHCConnectNo; ARG for
//                                     H_Sign only) returns EXPECT and leaves GetLastError at E,
//                                     within SECONDS; "call*N|..." makes N such calls
//   step:NAME                         the scenario runner does step NAME first
//   meet|MINE|OTHER                   says MINE and waits for the other script host's OTHER,
//                                     so that two hosts start their calls together
//   usage=PROCSTAT|FILE               first reading of this process's handles and bytes
//   usage|HANDLES|BYTES               the growth since the first reading stays within these
// At the end the slowest call of each method is printed for the record.
var control = newControl();
var shell = new ActiveXObject("WScript.Shell");
var files = new ActiveXObject("Scripting.FileSystemObject");
var calls = 0;
var slowest = {};
var rightResults = {};
var procstat = null, statFile = null, firstUsage = null;

var methods = {
    H_Sign: function (argument) { return control.H_Sign(argument); },
    GetBasic: function () { return control.GetBasic(); },
    GetHCConnectNo: function () { return control.GetHCConnectNo(); }
};

// "call|..." once, or "call*N|..." N times with one check each for all N calls; the number of
// right results is printed as "right METHOD N" for the runner's count of log entries.
function call(action) {
    var parts = action.split("|");
    var times = /^call\*(\d+)$/.exec(parts[0]);
    var count = times ? parseInt(times[1], 10) : 1;
    if (parts.length != 6 || !methods[parts[1]]) throw new Error("bad action '" + action + "'");
    var method = parts[1], bound = parseFloat(parts[5]), lastError = parseInt(parts[4], 10);
    var name = count == 1 ? "call " + (calls + 1) + " " + method :
                            "calls " + (calls + 1) + "-" + (calls + count) + " " + method;
    var wrong = [], right = 0, worst = 0;
    for (var n = 0; n < count; n++) {
        calls++;
        var started = new Date().getTime();
        var result = String(methods[method](parts[2]));
        var seconds = (new Date().getTime() - started) / 1000;
        var code = control.GetLastError();
        if (result === parts[3]) right++;
        else if (wrong.length < 3) wrong.push("call " + calls + " got " + show(result));
        if (code !== lastError && wrong.length < 3) wrong.push("call " + calls + " left " + code);
        if (seconds > worst) worst = seconds;
    }
    if (count == 1) {
        checkEqual(name, result, parts[3]);
        checkEqual(name + ", then GetLastError", code, lastError);
    } else {
        check(name + " return " + show(parts[3]) + " and leave " + lastError, wrong.length == 0,
              wrong.join("; "));
    }
    check(name + " returned within " + bound + " s", worst <= bound, "took " + worst + " s");
    if (!(slowest[method] >= worst)) slowest[method] = worst;
    rightResults[method] = (rightResults[method] || 0) + right;
}

function meet(names) {
    files.CreateTextFile(scenarioSyncDir + "\\" + names[1] + ".meet", true).Close();
    var other = scenarioSyncDir + "\\" + names[2] + ".meet";
    if (shell.Run("\"" + scenarioWaitTool + "\" \"" + other + "\" 30000", 0, true) != 0) {
        throw new Error("the other script host never said " + names[2]);
    }
}

function usage() {
    if (files.FileExists(statFile)) files.DeleteFile(statFile);
    var status = shell.Run("\"" + procstat + "\" \"" + statFile + "\"", 0, true);
    if (status != 0) throw new Error("procstat.exe ended with status " + status);
    var stream = files.OpenTextFile(statFile);
    var line = stream.ReadAll();
    stream.Close();
    var found = /handles=(\d+) private=(\d+)/.exec(line);
    if (!found) throw new Error("procstat.exe wrote " + line);
    return { handles: parseInt(found[1], 10), bytes: parseInt(found[2], 10) };
}

function checkUsage(action) {
    var parts = action.split("|");
    var now = usage();
    var handles = now.handles - firstUsage.handles, bytes = now.bytes - firstUsage.bytes;
    WScript.Echo("after " + calls + " calls: handles " + firstUsage.handles + " -> " + now.handles +
                 ", bytes " + firstUsage.bytes + " -> " + now.bytes);
    check("handle growth within " + parts[1], handles <= parseInt(parts[1], 10), handles + " more");
    check("byte growth within " + parts[2], bytes <= parseInt(parts[2], 10), bytes + " more");
}

for (var i = 0; i < WScript.Arguments.length; i++) {
    var action = arg(i);
    test("action " + (i + 1), function () {
        if (/^call[|*]/.test(action)) call(action);
        else if (action.indexOf("step:") == 0) handOver(action.substring(5));
        else if (action.indexOf("meet|") == 0) meet(action.split("|"));
        else if (action.indexOf("usage=") == 0) {
            var where = action.substring(6).split("|");
            procstat = where[0];
            statFile = where[1];
            firstUsage = usage();
        } else if (action.indexOf("usage|") == 0) checkUsage(action);
        else throw new Error("unknown action '" + action + "'");
    });
}
for (var method in slowest) {
    WScript.Echo("slowest " + method + ": " + slowest[method] + " s");
    WScript.Echo("right " + method + " " + rightResults[method]);
}
