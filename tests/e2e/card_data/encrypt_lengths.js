// EnCrypt refuses inputs of fewer than 6 or more than 12 characters before it opens the card.
// The scenario's step "no-apdus" checks that the card has seen nothing so far.
function describe(input) {
    if (input === undefined) return "undefined";
    var kind = /^[\x00-\x7f]*$/.test(input) ? " ASCII" : " double-byte";
    return input.length + kind + " characters";
}

test("wrong lengths", function () {
    var control = newControl();
    // The third is 5 characters of 2 bytes each in code page 950: characters count, not bytes.
    var inputs = ["12345", "ABCDEFGHIJKLM", "\u5f35\u5bb6\u79c0\u5f35\u5bb6", "", undefined];
    for (var i = 0; i < inputs.length; i++) {
        var name = "EnCrypt of " + describe(inputs[i]);
        checkEqual(name, control.EnCrypt(inputs[i]), "8009");
        checkEqual("GetLastError after " + name, control.GetLastError(), 8009);
    }
    handOver("no-apdus");
    checkMatch("EnCrypt of 6 characters then reads the card", control.EnCrypt("ABCDEF"),
               /^[0-9A-F]{32}$/);
});
