// Methods that need no card: version, random numbers, and a new control's error code.

test("GetVersion", function () {
    var control = newControl();
    checkEqual("GetVersion", control.GetVersion(), "0001");
    checkEqual("GetVersion again", control.GetVersion(), "0001");
    checkEqual("GetLastError of a new control", control.GetLastError(), 0);
});

test("GetRandom", function () {
    var control = newControl();
    var malformed = [], groups9999 = [], seen = {}, distinct = 0;
    for (var i = 0; i < 300; i++) {
        var text = control.GetRandom();
        if (!/^\d{16}$/.test(text)) malformed.push(text);
        else if (/^(\d{4})*9999/.test(text)) groups9999.push(text);
        if (!seen[text]) {
            seen[text] = true;
            distinct++;
        }
    }
    checkEqual("GetRandom gives 16 digits every time", malformed.join(" "), "");
    checkEqual("no 4-digit group is 9999", groups9999.join(" "), "");
    check("successive GetRandom calls differ", distinct == 300, distinct + " distinct of 300");
    checkEqual("GetRandom leaves GetLastError alone", control.GetLastError(), 0);
});

// Creating a control seeds the thread's generator with the time in seconds, so two controls
// made within one second give the same first number. Retried if a second boundary intervenes.
test("same-second controls", function () {
    for (var attempt = 0; attempt < 5; attempt++) {
        var before = Math.floor(new Date().getTime() / 1000);
        var first = newControl().GetRandom();
        var second = newControl().GetRandom();
        if (Math.floor(new Date().getTime() / 1000) != before) continue;
        checkEqual("two controls created in one second start alike", second, first);
        return;
    }
    fail("two controls created in one second start alike", "no attempt stayed within a second");
});
