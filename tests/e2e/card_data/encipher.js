// EnCrypt and SecureGetBasicWithParam on the scenario's card. The results go to a file for the
// scenario file to decipher, each with the date its key was made from:
//   encrypt INDEX LOCALDATE HEX      the INDEX-th input (from 1)
//   basic UNITS                       GetBasic's text as UTF-16 code units in hex
//   secure UTCDATE HEX                two calls with different sRand values
//   days LOCALDATE UTCDATE            at the end of the run
// Arguments: the record file, then the EnCrypt inputs as "UNITS=DIGITS" (the input as UTF-16
// code units in hex, the number of hex digits expected back).
var files = new ActiveXObject("Scripting.FileSystemObject");
var record = files.CreateTextFile(arg(0), true);

function unitsHex(text) {
    var hex = "";
    for (var i = 0; i < text.length; i++) hex += hex4(text.charCodeAt(i));
    return hex;
}

function hex4(n) {
    return (0x10000 + n).toString(16).substr(1);
}

function textOfUnits(hex) {
    var text = "";
    for (var i = 0; i < hex.length; i += 4) {
        text += String.fromCharCode(parseInt(hex.substr(i, 4), 16));
    }
    return text;
}

function describe(input) {
    var kind = /^[\x00-\x7f]*$/.test(input) ? " ASCII" : " double-byte";
    return input.length + kind + " characters";
}

function digits2(n) {
    return (n < 10 ? "0" : "") + n;
}

function localDay(d) {
    return d.getFullYear() + digits2(d.getMonth() + 1) + digits2(d.getDate());
}

function utcDay(d) {
    return d.getUTCFullYear() + digits2(d.getUTCMonth() + 1) + digits2(d.getUTCDate());
}

function seconds() {
    return Math.floor(new Date().getTime() / 1000);
}

// Calls `call` until it starts and ends on one day (by `dayOf`); midnight may intervene once.
function onOneDay(dayOf, call) {
    for (var attempt = 0; attempt < 3; attempt++) {
        var day = dayOf(new Date());
        var result = call();
        if (dayOf(new Date()) == day) return { day: day, result: result };
    }
    throw new Error("the date kept changing");
}

test("EnCrypt lengths", function () {
    var control = newControl();
    for (var i = 1; i < WScript.Arguments.length; i++) {
        var input = textOfUnits(arg(i).split("=")[0]);
        var digits = arg(i).split("=")[1];
        var got = onOneDay(localDay, function () { return control.EnCrypt(input); });
        checkMatch("EnCrypt of " + describe(input) + " gives " + digits + " hex digits",
                   got.result, new RegExp("^[0-9A-F]{" + digits + "}$"));
        record.WriteLine("encrypt " + i + " " + got.day + " " + got.result);
    }
    checkEqual("GetLastError after EnCrypt successes", control.GetLastError(), 0);
});

test("SecureGetBasicWithParam", function () {
    var control = newControl();
    record.WriteLine("basic " + unitsHex(control.GetBasic()));
    var rands = ["1234567890123456", ""];
    for (var i = 0; i < rands.length; i++) {
        var got = onOneDay(utcDay, function () {
            return control.SecureGetBasicWithParam(rands[i]);
        });
        checkMatch("SecureGetBasicWithParam(\"" + rands[i] + "\") gives whole hex blocks",
                   got.result, /^([0-9A-F]{16})+$/);
        record.WriteLine("secure " + got.day + " " + got.result);
    }
    var now = new Date();
    record.WriteLine("days " + localDay(now) + " " + utcDay(now));
});

// EnCrypt reseeds the generator with the time in seconds, so the fillers repeat within a second.
test("same second", function () {
    var control = newControl();
    for (var attempt = 0; attempt < 5; attempt++) {
        var before = seconds();
        var first = control.EnCrypt("ABCDEFGH");
        var second = control.EnCrypt("ABCDEFGH");
        if (seconds() != before) continue;
        checkEqual("two EnCrypt calls within one second agree", second, first);
        return;
    }
    fail("two EnCrypt calls within one second agree", "no attempt stayed within a second");
});

test("error code", function () {
    var control = newControl();
    checkEqual("EnCrypt of 5 characters", control.EnCrypt("12345"), "8009");
    checkMatch("EnCrypt succeeds after it", control.EnCrypt("123456"), /^[0-9A-F]{32}$/);
    checkEqual("a successful EnCrypt keeps the earlier 8009", control.GetLastError(), 8009);
    checkMatch("SecureGetBasicWithParam succeeds", control.SecureGetBasicWithParam("1"),
               /^[0-9A-F]+$/);
    checkEqual("a successful SecureGetBasicWithParam clears it", control.GetLastError(), 0);
});

record.Close();
