// pcscd stops while the control lives (step "stop-pcscd").
// Argument: the name of the scenario's only reader, which holds a card.
var readerName = arg(0);

test("service stops", function () {
    var control = newControl();
    checkEqual("GetReaders while pcscd runs", control.GetReaders(), readerName);
    checkEqual("GetHCConnectNo while pcscd runs", control.GetHCConnectNo(), 0);
    handOver("stop-pcscd");
    checkEqual("GetHCConnectNo after pcscd stopped", control.GetHCConnectNo(), -1);
    checkEqual("GetLastError after pcscd stopped", control.GetLastError(), 7001);
    checkEqual("GetReaders after pcscd stopped", control.GetReaders(), "N/A");
    checkEqual("GetReaders leaves GetLastError unchanged", control.GetLastError(), 7001);
    checkEqual("GetVersion still works", control.GetVersion(), "0001");
});
