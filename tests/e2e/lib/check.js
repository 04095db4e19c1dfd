// Assertions for page-script tests run by cscript under Wine.
//
// cscript exits 0 even when a script dies, so a test reports through its output: one line per
// check and, last, the summary "N passed, M failed" that the scenario runner requires. The
// runner appends the call of done() to every test script; an early exception leaves the summary
// out and the runner counts that as a failure.
var checks = { passed: 0, failed: 0 };

function pass(name) {
    checks.passed++;
    WScript.Echo("ok   " + name);
}

function fail(name, why) {
    checks.failed++;
    WScript.Echo("FAIL " + name + (why ? ": " + why : ""));
}

function show(value) {
    if (typeof value == "string") return "\"" + value + "\"";
    if (value === null) return "null";
    return String(value);
}

function check(name, condition, why) {
    if (condition) pass(name);
    else fail(name, why);
}

function checkEqual(name, actual, expected) {
    if (actual === expected) pass(name);
    else fail(name, "got " + show(actual) + ", expected " + show(expected));
}

function checkMatch(name, actual, pattern) {
    if (typeof actual == "string" && pattern.test(actual)) pass(name);
    else fail(name, "got " + show(actual) + ", expected to match " + pattern);
}

// Runs a group of checks; an exception counts as one failure and the script goes on.
function test(name, body) {
    try {
        body();
    } catch (e) {
        fail(name, "exception " + (e.number !== undefined ? (e.number >>> 0).toString(16) + " " : "") +
                   (e.message || e.description || String(e)));
    }
}

// The control under test, created the way a page creates it.
function newControl() {
    return new ActiveXObject("QARDEX.twQARDEX");
}

// Script arguments given by the scenario (WScript.Arguments is a collection, not an array).
function arg(index) {
    return index < WScript.Arguments.length ? WScript.Arguments(index) : undefined;
}

// Asks the scenario runner to do `step` (a function of the scenario script) and waits for it.
function handOver(step) {
    var files = new ActiveXObject("Scripting.FileSystemObject");
    var shell = new ActiveXObject("WScript.Shell");
    var done = scenarioSyncDir + "\\" + step + ".done";
    if (files.FileExists(done)) files.DeleteFile(done);  // left by an earlier round of this step
    files.CreateTextFile(scenarioSyncDir + "\\" + step + ".request", true).Close();
    var result = shell.Run("\"" + scenarioWaitTool + "\" \"" + done + "\" 30000", 0, true);
    if (result != 0) throw new Error("the scenario runner did not finish step " + step);
}

function done() {
    WScript.Echo(checks.passed + " passed, " + checks.failed + " failed");
    WScript.Quit(checks.failed == 0 ? 0 : 1);
}
