// Checks under cscript that procstat.exe measures this script host: the handle count follows
// files the script opens and closes, and private bytes grow with what the script allocates.
//
//   cscript //nologo procstat_check.js PROCSTAT_EXE WORK_DIR      (Windows paths)
//
// Prints each measurement, a summary "N passed, M failed", and quits with 1 on any failure.
var shell = new ActiveXObject("WScript.Shell");
var fso = new ActiveXObject("Scripting.FileSystemObject");
var procstat = WScript.Arguments(0);
var workDir = WScript.Arguments(1);
var statFile = workDir + "\\procstat.txt";
var passed = 0, failed = 0;

function expect(ok, what) {
  if (ok) { passed++; } else { failed++; WScript.Echo("FAIL " + what); }
}

// Runs procstat.exe and returns {handles, privateBytes} from the line it appended.
function measure(label) {
  var rc = shell.Run('"' + procstat + '" "' + statFile + '"', 0, true);
  expect(rc == 0, label + ": procstat exit code " + rc);
  var file = fso.OpenTextFile(statFile, 1);
  var lines = file.ReadAll().split("\r\n");
  file.Close();
  var line = lines[lines.length - 2];
  var match = /^handles=(\d+) private=(\d+)$/.exec(line);
  expect(match != null, label + ": line format '" + line + "'");
  WScript.Echo(label + ": " + line);
  return match ? {handles: +match[1], privateBytes: +match[2]} : {handles: 0, privateBytes: 0};
}

try {
  var start = measure("start");
  expect(start.handles > 0, "handle count is not zero");
  expect(start.privateBytes > 0, "private bytes are not zero");

  var files = [];
  for (var i = 0; i < 40; i++) {
    files.push(fso.CreateTextFile(workDir + "\\held" + i + ".txt", true));
  }
  var opened = measure("40 files open");
  expect(opened.handles >= start.handles + 40, "handle count grows by at least 40");

  var ballast = [];
  for (var j = 0; j < 200000; j++) {
    ballast.push("ballast " + j + " ................................");
  }
  var grown = measure("ballast allocated");
  expect(grown.privateBytes >= opened.privateBytes + 4 * 1024 * 1024,
         "private bytes grow by at least 4 MB");

  for (var k = 0; k < files.length; k++) files[k].Close();
  var closed = measure("files closed");
  expect(closed.handles <= opened.handles - 40, "handle count drops by at least 40");
} catch (e) {
  expect(false, "script error " + e.number + " " + e.description);
}
WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Quit(failed == 0 ? 0 : 1);
