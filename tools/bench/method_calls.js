// Times one method of the control for scripts/bench and scripts/bench-service: a warm-up round,
// then CALLS calls timed with Date. Arguments: METHOD (GetVersion, GetHCConnectNo, GetBasic or
// H_Sign), CALLS, and the file that receives "calls=N total_ms=T".
var method = arg(0);
var calls = parseInt(arg(1), 10);
var control = newControl();
// Each returns whether the call succeeded.
var call = {
    GetVersion: function () { return control.GetVersion() == "0001"; },
    GetHCConnectNo: function () { return control.GetHCConnectNo() == 1; },
    GetBasic: function () { return String(control.GetBasic()).indexOf(",") > 0; },
    H_Sign: function () { return String(control.H_Sign("bench-page-random")).length == 256; }
}[method];
for (var i = 0; i < 5; i++) call();
var wrong = 0;
var start = new Date().getTime();
for (var i = 0; i < calls; i++) {
    if (!call()) wrong++;
}
var elapsed = new Date().getTime() - start;
checkEqual(method + ": every call succeeded", wrong, 0);
var out = new ActiveXObject("Scripting.FileSystemObject").CreateTextFile(arg(2), true);
out.WriteLine("calls=" + calls + " total_ms=" + elapsed);
out.Close();
