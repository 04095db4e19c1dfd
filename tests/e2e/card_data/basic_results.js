// GetBasic and GetName on the scenario's card, each called while an earlier error code (8009
// from a too-short EnCrypt, which touches no card) is pending, to see whether it is cleared.
// Arguments: the expected GetBasic and GetName texts as UTF-16 code units in hex ("-" for the
// empty text) and the expected GetLastError after each.
var expectedBasic = unitsArg(0);
var expectedName = unitsArg(1);
var expectedError = parseInt(arg(2), 10);

function unitsHex(text) {
    var hex = "";
    for (var i = 0; i < text.length; i++) hex += hex4(text.charCodeAt(i));
    return hex;
}

function hex4(n) {
    return (0x10000 + n).toString(16).substr(1);
}

function unitsArg(index) {
    return arg(index) == "-" ? "" : arg(index);
}

function leaveEarlierError(control) {
    control.EnCrypt("12345");
    if (control.GetLastError() != 8009) throw new Error("EnCrypt(\"12345\") left no 8009 behind");
}

test("GetBasic and GetName", function () {
    var control = newControl();
    leaveEarlierError(control);
    checkEqual("GetBasic", unitsHex(control.GetBasic()), expectedBasic);
    checkEqual("GetLastError after GetBasic", control.GetLastError(), expectedError);
    leaveEarlierError(control);
    checkEqual("GetName", unitsHex(control.GetName()), expectedName);
    checkEqual("GetLastError after GetName", control.GetLastError(), expectedError);
});
