// Runs a list of calls on one control and records each answer for the scenario file to compare
// with the local service's. Arguments: the record file (Windows path), then the calls as
// "Method" or "Method:ARGUMENT". One line per call:
//   Method S:UNITS LASTERROR     a text result as UTF-16 code units in hex
//   Method N:VALUE LASTERROR     a number result
var files = new ActiveXObject("Scripting.FileSystemObject");
var record = files.CreateTextFile(arg(0), true);
var control = newControl();

function hex4(n) {
    return (0x10000 + n).toString(16).substr(1);
}

function answerText(value) {
    if (typeof value == "number") return "N:" + value;
    var hex = "";
    for (var i = 0; i < value.length; i++) hex += hex4(value.charCodeAt(i));
    return "S:" + hex;
}

for (var i = 1; i < WScript.Arguments.length; i++) {
    var call = arg(i);
    test(call, function () {
        var colon = call.indexOf(":");
        var method = colon < 0 ? call : call.substr(0, colon);
        var value = colon < 0 ? control[method]() : control[method](call.substr(colon + 1));
        record.WriteLine(method + " " + answerText(value) + " " + control.GetLastError());
        pass(call);
    });
}
record.Close();
