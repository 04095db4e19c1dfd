// ServiceStatus under the scenario's network set-up. Each script argument is one action, run in
// order on one control (a new one after "new"):
//   R/E[@MIN-MAX]  ServiceStatus gives R and leaves GetLastError at E; with @MIN-MAX the call
//                  takes MIN to MAX seconds
//   scan/R/E       GetHCConnectNo gives R and leaves E (an earlier error for later calls to keep)
//   new            go on with a new control
//   step:NAME      the scenario runner does step NAME (a network change) first
var control = newControl();
var calls = 0;

function serviceStatus(action) {
    var m = /^(-?\d+)\/(-?\d+)(?:@(\d+)-(\d+))?$/.exec(action);
    if (!m) throw new Error("bad action '" + action + "'");
    var name = "call " + (++calls) + " ServiceStatus";
    var started = new Date().getTime();
    var result = control.ServiceStatus();
    var seconds = (new Date().getTime() - started) / 1000;
    checkEqual(name, result, parseInt(m[1], 10));
    checkEqual(name + ", then GetLastError", control.GetLastError(), parseInt(m[2], 10));
    if (m[3] !== undefined && m[3] !== "") {
        var low = parseInt(m[3], 10), high = parseInt(m[4], 10);
        check(name + " took " + low + " to " + high + " s", seconds >= low && seconds <= high,
              "took " + seconds + " s");
    }
}

function scan(action) {
    var m = /^scan\/(-?\d+)\/(-?\d+)$/.exec(action);
    if (!m) throw new Error("bad action '" + action + "'");
    checkEqual("GetHCConnectNo", control.GetHCConnectNo(), parseInt(m[1], 10));
    checkEqual("GetLastError after GetHCConnectNo", control.GetLastError(), parseInt(m[2], 10));
}

for (var i = 0; i < WScript.Arguments.length; i++) {
    var action = arg(i);
    test("action " + (i + 1) + " (" + action + ")", function () {
        if (action == "new") control = newControl();
        else if (action.indexOf("step:") == 0) handOver(action.substring(5));
        else if (action.indexOf("scan/") == 0) scan(action);
        else serviceStatus(action);
    });
}
