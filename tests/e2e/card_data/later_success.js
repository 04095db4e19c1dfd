// The error code of a failed GetBasic survives a later successful EnCrypt but not a later
// successful GetBasic. The scenario starts with an empty reader; step "insert-card" fills it.
test("later success", function () {
    var control = newControl();
    checkEqual("GetBasic without a card", control.GetBasic(), "8013");
    checkEqual("GetLastError after it", control.GetLastError(), 8013);
    handOver("insert-card");
    checkMatch("EnCrypt with the card", control.EnCrypt("ABCDEF"), /^[0-9A-F]{32}$/);
    checkEqual("GetLastError keeps 8013 after EnCrypt", control.GetLastError(), 8013);
    checkMatch("GetBasic with the card", control.GetBasic(), /^000012345678,/);
    checkEqual("GetLastError is 0 after GetBasic", control.GetLastError(), 0);
});
