// A page-style script: creates the control the way a page does and calls
// each of its methods that this build provides, printing every result.
// Run with: wine cscript //nologo demo.js
function show(name, value) {
  WScript.Echo(name + " = " + value);
}

var control;
try {
  control = new ActiveXObject("QARDEX.twQARDEX");
} catch (e) {
  WScript.Echo("cannot create QARDEX.twQARDEX: " + e.message + " (is QARDEX.dll registered?)");
  WScript.Quit(1);
}

show("GetVersion()", control.GetVersion());
show("GetRandom()", control.GetRandom());
show("GetReaders()", control.GetReaders());
var reader = control.GetHCConnectNo();
show("GetHCConnectNo()", reader);
show("GetLastError()", control.GetLastError());
if (reader < 0) {
  WScript.Echo("no HC card found (error " + control.GetLastError() + ")");
}
WScript.Quit(0);
