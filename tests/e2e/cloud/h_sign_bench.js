// Timing of H_Sign in one cscript process (tools/bench/h_sign_bench.sh), next to the scan and
// the connection alone. Argument: the number of calls of each. Prints "bench NAME MS..." lines.
var count = parseInt(arg(0), 10);
var control = newControl();

function timeCalls(name, call) {
    var times = [];
    for (var i = 0; i < count; i++) {
        var started = new Date().getTime();
        call(i);
        times.push(new Date().getTime() - started);
    }
    WScript.Echo("bench " + name + " " + times.join(" "));
}

test("bench", function () {
    var wrong = [];
    timeCalls("h_sign", function (i) {
        var result = control.H_Sign("bench " + i);
        if (String(result).length != 256) wrong.push(result);
    });
    checkEqual("every H_Sign gave 256 characters", wrong.join(" "), "");
    timeCalls("scan", function () { control.GetHCConnectNo(); });
    timeCalls("connect", function () { control.ServiceStatus(); });
    checkEqual("no call failed", control.GetLastError(), 0);
});
