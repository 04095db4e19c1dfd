// A page-style script: creates the control the way a page does and calls
// each of its twelve methods, printing every result.
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
var random = control.GetRandom();
show("GetRandom()", random);
show("GetReaders()", control.GetReaders());
show("GetHCConnectNo()", control.GetHCConnectNo());
show("GetBasic()", control.GetBasic());
show("GetName()", control.GetName());
show("SecureGetBasicWithParam(random)", control.SecureGetBasicWithParam(random));
show("EnCrypt(\"ABC123\")", control.EnCrypt("ABC123"));
show("ServiceStatus()", control.ServiceStatus());
var signature = control.H_Sign(random);
show("H_Sign(random)", signature);
show("GetLastError()", control.GetLastError());
var code = control.GetLastError();
show("ZEL_FormatMessage(\"" + code + "\") length", control.ZEL_FormatMessage("" + code).length);
show("ZEL_FormatMessage(\"7004\") length", control.ZEL_FormatMessage("7004").length);
WScript.Quit(signature.length == 256 ? 0 : 2);
