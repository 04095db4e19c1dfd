// The reader list and the reader scan against the scenario's readers and cards.
// Arguments: the expected GetReaders text, GetHCConnectNo result and GetLastError after it.
var expectedReaders = arg(0);
var expectedNumber = parseInt(arg(1), 10);
var expectedError = parseInt(arg(2), 10);

test("reader list and scan", function () {
    var control = newControl();
    checkEqual("GetReaders", control.GetReaders(), expectedReaders);
    checkEqual("GetReaders leaves GetLastError at 0", control.GetLastError(), 0);
    checkEqual("GetHCConnectNo", control.GetHCConnectNo(), expectedNumber);
    checkEqual("GetLastError after GetHCConnectNo", control.GetLastError(), expectedError);
    checkEqual("GetReaders again", control.GetReaders(), expectedReaders);
    checkEqual("GetReaders leaves GetLastError unchanged", control.GetLastError(), expectedError);
    checkEqual("GetHCConnectNo again", control.GetHCConnectNo(), expectedNumber);
});
