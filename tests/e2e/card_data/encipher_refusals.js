// EnCrypt and SecureGetBasicWithParam against a card that fails them, or no card.
// Arguments: the expected EnCrypt result (an error code, or "hex" for 32 hex digits) and the
// expected SecureGetBasicWithParam error code.
var expectedEncrypt = arg(0);
var expectedSecure = arg(1);

test("refusals", function () {
    var control = newControl();
    var encrypted = control.EnCrypt("ABCDEF");
    if (expectedEncrypt == "hex") {
        checkMatch("EnCrypt", encrypted, /^[0-9A-F]{32}$/);
        checkEqual("GetLastError after EnCrypt", control.GetLastError(), 0);
    } else {
        checkEqual("EnCrypt", encrypted, expectedEncrypt);
        checkEqual("GetLastError after EnCrypt", control.GetLastError(),
                   parseInt(expectedEncrypt, 10));
    }
    checkEqual("SecureGetBasicWithParam", control.SecureGetBasicWithParam("1234"), expectedSecure);
    checkEqual("GetLastError after SecureGetBasicWithParam", control.GetLastError(),
               parseInt(expectedSecure, 10));
});
