// ZEL_FormatMessage against expected texts, and the error code it must leave alone.
// Arguments: pairs "INPUT=TEXT", both as UTF-16 code units in hex (4 digits a unit); INPUT is
// the sCode passed, TEXT the message expected for it.
function unitsHex(text) {
    var hex = "";
    for (var i = 0; i < text.length; i++) hex += hex4(text.charCodeAt(i));
    return hex;
}

function hex4(n) {
    return (0x10000 + n).toString(16).substr(1);
}

// The text for check names: output is in the ANSI code page, so other characters show as \uXXXX.
function printable(text) {
    return text.replace(/[^\x20-\x7e]/g, function (c) {
        return "\\u" + hex4(c.charCodeAt(0));
    });
}

function textOfUnits(hex) {
    var text = "";
    for (var i = 0; i < hex.length; i += 4) {
        text += String.fromCharCode(parseInt(hex.substr(i, 4), 16));
    }
    return text;
}

test("message texts", function () {
    var control = newControl();
    for (var i = 0; i < WScript.Arguments.length; i++) {
        var pair = arg(i).split("=");
        var code = textOfUnits(pair[0]);
        var name = "ZEL_FormatMessage(\"" + printable(code) + "\")";
        checkEqual(name, unitsHex(control.ZEL_FormatMessage(code)), pair[1]);
    }
});

// The scenario runs without pcscd, so GetHCConnectNo leaves 7001.
test("error code untouched", function () {
    var control = newControl();
    control.ZEL_FormatMessage("8013");
    control.ZEL_FormatMessage("12a");
    checkEqual("a new control's code stays 0", control.GetLastError(), 0);
    checkEqual("GetHCConnectNo without pcscd", control.GetHCConnectNo(), -1);
    var inputs = ["4061", "8300", "", "123456", "-1"];
    for (var i = 0; i < inputs.length; i++) control.ZEL_FormatMessage(inputs[i]);
    checkEqual("GetLastError keeps 7001 across ZEL_FormatMessage", control.GetLastError(), 7001);
});

// JScript's undefined travels as an empty variant; null cannot become a string, so the automation
// layer may refuse it (type mismatch) before the control sees it, which is acceptable.
test("absent code", function () {
    var control = newControl();
    var empty = control.ZEL_FormatMessage("");
    checkEqual("undefined reads as \"\"", control.ZEL_FormatMessage(undefined), empty);
    try {
        checkEqual("null reads as \"\"", control.ZEL_FormatMessage(null), empty);
    } catch (e) {
        checkEqual("null refused as a type mismatch", (e.number >>> 0).toString(16), "80020005");
    }
    checkEqual("the control still answers after null", control.ZEL_FormatMessage("8009"),
               control.ZEL_FormatMessage("08009"));
});
