// Times GetHCConnectNo for connect_no_bench.sh: a warm-up round, then CALLS calls timed with Date.
// Arguments: CALLS, the file that receives "calls=N total_ms=T".
var calls = parseInt(arg(0), 10);
var control = newControl();
for (var i = 0; i < 20; i++) control.GetHCConnectNo();
var wrong = 0;
var start = new Date().getTime();
for (var i = 0; i < calls; i++) {
    if (control.GetHCConnectNo() != 1) wrong++;
}
var elapsed = new Date().getTime() - start;
checkEqual("every call found the card in the second reader", wrong, 0);
var out = new ActiveXObject("Scripting.FileSystemObject").CreateTextFile(arg(1), true);
out.WriteLine("calls=" + calls + " total_ms=" + elapsed);
out.Close();
