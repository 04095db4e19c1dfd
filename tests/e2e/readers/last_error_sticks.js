// A later success of GetHCConnectNo keeps the code of the earlier failure.
// The scenario starts with an empty reader; step "insert-card" puts the card in.
test("first failure is kept", function () {
    var control = newControl();
    checkEqual("GetHCConnectNo without a card", control.GetHCConnectNo(), -1);
    checkEqual("GetLastError after the failure", control.GetLastError(), 7004);
    handOver("insert-card");
    checkEqual("GetHCConnectNo with the card", control.GetHCConnectNo(), 0);
    checkEqual("GetLastError still holds the failure", control.GetLastError(), 7004);
    checkEqual("a new control starts at 0", newControl().GetLastError(), 0);
});
