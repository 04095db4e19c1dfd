// Resource use of many calls of each method in one script host: the handle count and private
// bytes of this process (from procstat.exe, see testbed/procstat) after a warm-up round and
// after every method's loop; each method's growth must stay within the bounds.
// Arguments: calls per method, warm-up calls per method, procstat.exe, its output file, the
// bound on handle growth and the bound on private-byte growth.
var calls = parseInt(arg(0), 10);
var warmUpCalls = parseInt(arg(1), 10);
var procstat = arg(2);
var statFile = arg(3);
var handleBound = parseInt(arg(4), 10);
var byteBound = parseInt(arg(5), 10);

var shell = new ActiveXObject("WScript.Shell");
var files = new ActiveXObject("Scripting.FileSystemObject");
var control = newControl();

// The message codes cover a catalogue text, a system text and the parameter-error text; the
// EnCrypt inputs a single-byte and a double-byte one.
var codes = ["8013", "2", "12a", ""];
var encryptInputs = ["ABCDEFGHIJKL", "\u5f35\u5bb6\u79c0\u5f35\u5bb6\u79c0"];
var methods = [
    ["GetVersion", function () { control.GetVersion(); }],
    ["GetRandom", function () { control.GetRandom(); }],
    ["GetReaders", function () { control.GetReaders(); }],
    ["GetHCConnectNo", function () { control.GetHCConnectNo(); }],
    ["GetLastError", function () { control.GetLastError(); }],
    ["GetBasic", function () { control.GetBasic(); }],
    ["GetName", function () { control.GetName(); }],
    ["ZEL_FormatMessage", function (i) { control.ZEL_FormatMessage(codes[i % 4]); }],
    ["SecureGetBasicWithParam", function () { control.SecureGetBasicWithParam("1234"); }],
    ["EnCrypt", function (i) { control.EnCrypt(encryptInputs[i % 2]); }],
    ["a new control", function () { newControl().GetVersion(); }]
];

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

function report(name, count, milliseconds, before, after) {
    var handles = after.handles - before.handles;
    var bytes = after.bytes - before.bytes;
    WScript.Echo(name + ": " + count + " calls in " + milliseconds + " ms; handles " +
                 before.handles + " -> " + after.handles + " (" + handles + "), private bytes " +
                 before.bytes + " -> " + after.bytes + " (" + bytes + ")");
    check(name + ": handle growth within " + handleBound, handles <= handleBound,
          handles + " more");
    check(name + ": private-byte growth within " + byteBound, bytes <= byteBound,
          bytes + " more");
}

test("leaks", function () {
    var m, i;
    for (m = 0; m < methods.length; m++) {
        for (i = 0; i < warmUpCalls; i++) methods[m][1](i);
    }
    var start = usage(), before = start, total = 0;
    for (m = 0; m < methods.length; m++) {
        var began = new Date().getTime();
        for (i = 0; i < calls; i++) methods[m][1](i);
        var milliseconds = new Date().getTime() - began;
        var after = usage();
        report(methods[m][0], calls, milliseconds, before, after);
        total += milliseconds;
        before = after;
    }
    report("all methods", calls * methods.length, total, start, before);
    checkEqual("the card was there throughout", control.GetHCConnectNo(), 0);
});
