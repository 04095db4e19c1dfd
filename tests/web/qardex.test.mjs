// The page library as built (out/native/web/qardex.js, or $QARDEX_WEB_LIB) without a browser:
// fetch, navigator.permissions and location are fakes on globalThis, fetch answering as a
// scripted local service. Run by tests/web/run.
import test from "node:test";
import assert from "node:assert/strict";
import { createRequire } from "node:module";
import { readFileSync } from "node:fs";
import { fileURLToPath, pathToFileURL } from "node:url";

const built = fileURLToPath(new URL("../../out/native/web/qardex.js", import.meta.url));
const library = pathToFileURL(process.env.QARDEX_WEB_LIB ?? built).href;
const { connect, diagnose, QardexError, version } = await import(library);

const setGlobal = (name, value) =>
  Object.defineProperty(globalThis, name, { value, configurable: true, writable: true });
setGlobal("location", { origin: "https://page.example" });
const json = (status, value) => ({ status, body: JSON.stringify(value) });
const gone = json(404, { error: "unknown session" });
const kind = (r) => (r.path === "/v1/session" ? "open" : r.method === "DELETE" ? "close" : "call");
const fail = (message) => { throw new TypeError(message); };
const aborted = (signal) => new Promise((_, reject) =>
  signal.addEventListener("abort", () => reject(new DOMException("aborted", "AbortError"))));

// The service behind the fake fetch: sessions s1, s2, ... unless script(request) answers
// {status, body, delay, brokeOff, bodyHangs, events, open}, "unreachable" (a network error) or
// "hang" (nothing until the request is aborted); `events`: chunks of an event stream that ends
// after them unless `open`. permission(name, probed, asked): the Local Network Access state
// (`asked`: after the page's first request), or
// undefined for a name the browser does not know; null: no Permissions API.
function fakeService(script = () => undefined, permission = () => "prompt") {
  const service = { log: [], sessions: new Set(), opened: 0 };
  const probed = () => service.log.some((r) => r.mode === "no-cors");
  const query = async ({ name }) => ({
    state: permission(name, probed(), service.log.length > 0) ?? fail(name) });
  setGlobal("navigator", permission === null ? {} : { permissions: { query } });
  setGlobal("fetch", async (url, { method = "GET", mode, body, signal, headers, keepalive }) => {
    const request = { url, method, path: new URL(url).pathname, mode };
    if (keepalive) request.keepalive = true;
    if (headers !== undefined) request.headers = headers;
    if (body !== undefined) request.body = JSON.parse(body);
    service.log.push(request);
    const answer = script(request) ?? serve(service, request);
    if (answer === "hang") return aborted(signal);
    if (answer === "unreachable") fail("Failed to fetch");
    await new Promise((resolve) => setTimeout(resolve, answer.delay ?? 0));
    const text = async () => (answer.bodyHangs ? aborted(signal)
      : answer.brokeOff ? fail("network error") : answer.body ?? "");
    const events = answer.events && new ReadableStream({ start(stream) {
      for (const chunk of answer.events) stream.enqueue(new TextEncoder().encode(chunk));
      if (!answer.open) stream.close();
      signal.addEventListener("abort", () => stream.error(new DOMException("aborted", "AbortError")));
    } });
    return { status: answer.status, ok: answer.status >= 200 && answer.status < 300, text,
      body: events };
  });
  return service;
}

function serve(service, { method, path, mode, body }) {
  if (mode === "no-cors") return { status: 0 };  // what a page sees of any answer
  const [, , , id, name] = path.split("/");
  if (kind({ method, path }) === "open") {
    service.sessions.add(`s${++service.opened}`);
    return json(201, { session: `s${service.opened}` });
  }
  if (!service.sessions.has(id)) return gone;
  if (method === "DELETE") return service.sessions.delete(id) && { status: 204 };
  return json(200, { result: `${id} ${name}(${body.args})`, lastError: 4000 + service.opened });
}

const calls = (service) => service.log.filter((r) => kind(r) === "call" && r.mode === "cors");
const rejectsWith = (promise, code, status) => assert.rejects(promise,
  (e) => e instanceof QardexError && e.code === code && e.status === status);

test("a call goes to its session's method as a simple request (no preflight) and gives the result and lastError", async () => {
  const service = fakeService();
  const card = await connect();
  assert.match(service.log[0].url, /^https:\/\/[a-z0-9.-]+:[0-9]+\/v1\/session$/);
  assert.equal(await card.GetRandom("8"), "s1 GetRandom(8)");
  assert.equal(card.lastError, 4001);
  assert.deepEqual(service.log.at(-1), { url: `${service.log[0].url}/s1/GetRandom`,
    method: "POST", path: "/v1/session/s1/GetRandom", mode: "cors", body: { args: ["8"] } });
});

for (const [what, on, answer, code, status] of [
  ["400 for the arguments", "call", json(400, { error: "wrong arguments" }), "bad-request", 400],
  ["429 for a new session", "open", json(429, { error: "too many sessions" }), "busy", 429],
  ["503 while the card is held", "call", json(503, { error: "card busy" }), "busy", 503],
  ["502 when the worker ended", "call", json(502, { error: "worker ended during the call" }),
    "interrupted", 502],
  ["403 for a caller of another user", "open", json(403, { error: "caller not allowed" }),
    "caller-not-allowed", 403],
  ["404 for another reason", "call", json(404, { error: "unknown method" }), "protocol", 404],
  ["JSON cut short", "call", { status: 200, body: '{"result":"x","lastE' }, "protocol", 200],
  ["an answer that breaks off", "call", { status: 200, brokeOff: true }, "protocol", 200],
  ["an empty answer", "call", { status: 200 }, "protocol", 200],
  ["an answer without lastError", "call", json(200, { result: "x" }), "protocol", 200],
  ["an answer without result", "call", json(200, { lastError: 0 }), "protocol", 200],
  ["a bare number", "call", json(200, 5), "protocol", 200],
  ["a new session without its id", "open", json(201, { id: "s1" }), "protocol", 201],
  ["no answer in time", "call", "hang", "timeout", undefined],
  ["no body in time", "call", { status: 200, bodyHangs: true }, "timeout", undefined],
]) {
  test(`${what} rejects with "${code}", without a second try`, async () => {
    const service = fakeService((r) => (kind(r) === on ? answer : undefined));
    await rejectsWith(connect({ timeoutMs: 50 }).then((card) => card.GetBasic()), code, status);
    assert.equal(calls(service).length, on === "call" ? 1 : 0);
  });
}

const denied = "local-network-access-denied";
const blocked = "local-network-access-blocked";
let instances = 0;
for (const [what, permission, probe, code, probes] of [
  ["no Permissions API, nothing answers", null, "unreachable", "service-not-running", 1],
  ["something answers the probe", () => "granted", undefined, "origin-not-approved", 1],
  ["denied before the page asked", (n) => (n === "loopback-network" ? "denied" : "prompt"),
    undefined, blocked, 0],
  ["denied in answer to the page", (n, probed, asked) => (asked && n === "loopback-network"
    ? "denied" : "prompt"), undefined, denied, 0],
  ["denied after the probe", (n, probed) => (probed && n === "loopback-network" ? "denied"
    : "prompt"), "unreachable", denied, 1],
  ["only the first name it knows counts", (n) => (n === "local-network" ? "denied"
    : n === "local-network-access" ? "prompt" : undefined), "unreachable", "service-not-running", 1],
  ["denied under the last name, the others unknown",
    (n) => (n === "local-network" ? "denied" : undefined), undefined, blocked, 0],
  ["nothing denied, nothing answers", () => "prompt", "unreachable", "service-not-running", 1],
  ["the probe gets no answer in time", () => "prompt", "hang", "timeout", 1],
]) {
  test(`without an answer: ${what} gives "${code}"`, async () => {
    // A library of its own: it keeps the permission's state from before the page's first request.
    const fresh = await import(`${library}?instance=${++instances}`);
    const service = fakeService((r) => (r.mode === "no-cors" ? probe : "unreachable"), permission);
    await assert.rejects(fresh.connect({ timeoutMs: 50 }),
      (e) => e instanceof fresh.QardexError && e.code === code && e.status === undefined);
    const host = new URL(service.log[0].url).host;
    const sent = service.log.filter((r) => r.mode === "no-cors" && r.path === "/v1/version" &&
      new URL(r.url).host === host);
    assert.equal(sent.length, probes);
  });
}

test("nothing at the default name: connect() takes the name an earlier version's certificate has", async () => {
  let first;
  const service = fakeService((r) =>
    ((first ??= new URL(r.url).host) === new URL(r.url).host ? "unreachable" : undefined));
  assert.equal(await (await connect()).GetName(), "s1 GetName()");
  assert.notEqual(new URL(service.log.at(-1).url).host, first);
  const asked = service.log.length;
  await rejectsWith(connect({ host: first.split(":")[0] }), "service-not-running", undefined);
  assert.ok(service.log.slice(asked).every((r) => new URL(r.url).host === first));
});

test("a session that expires again during the retry rejects with session-expired", async () => {
  const service = fakeService((r) => (kind(r) === "call" ? gone : undefined));
  await rejectsWith((await connect()).GetName(), "session-expired", 404);
  assert.deepEqual([service.opened, calls(service).length], [2, 2]);
});

test("calls that find their session gone share one new session and are sent again", async () => {
  const service = fakeService((r) => (kind(r) === "open" && service.opened > 0
    ? { ...serve(service, r), delay: 20 } : undefined));
  const card = await connect();
  service.sessions.clear();
  const answers = await Promise.all([card.GetBasic(), card.GetName(), card.GetReaders()]);
  assert.deepEqual(answers, ["s2 GetBasic()", "s2 GetName()", "s2 GetReaders()"]);
  assert.deepEqual([service.opened, calls(service).length, card.lastError], [2, 6, 4002]);
});

test("close ends the session once; a later call opens a new one", async () => {
  const service = fakeService();
  const card = await connect();
  await card.close();
  await card.close();
  const closes = service.log.filter((r) => kind(r) === "close");
  assert.deepEqual(closes.map((r) => r.path), ["/v1/session/s1"]);
  assert.equal(await card.GetVersion(), "s2 GetVersion()");
  assert.equal(calls(service).length, 1);
});

test("close while a call replaces an expired session closes the new one", async () => {
  const service = fakeService((r) => (kind(r) === "open" && service.opened === 1
    ? { ...serve(service, r), delay: 20 } : undefined));
  const card = await connect();
  service.sessions.clear();
  const call = card.GetVersion();
  while (service.log.filter((r) => kind(r) === "open").length < 2) {
    await new Promise((resolve) => setTimeout(resolve, 1));
  }
  await card.close();
  await call.catch(() => null);
  const closes = service.log.filter((r) => kind(r) === "close");
  assert.deepEqual(closes.map((r) => r.path), ["/v1/session/s2"]);
});

for (const [what, answer, code, status] of [
  ["for a session the service forgot resolves", gone],
  ["refused (500) rejects", json(500, { error: "internal error" }), "protocol", 500],
  ["without an answer rejects", "unreachable", "service-not-running", undefined],
]) {
  test(`close ${what}${code ? ` with "${code}"` : ""}`, async () => {
    fakeService((r) => (kind(r) === "close" ? answer
      : r.mode === "no-cors" ? "unreachable" : undefined));
    const closing = (await connect({ timeoutMs: 50 })).close();
    await (code ? rejectsWith(closing, code, status) : closing);
  });
}

test("watch passes on the stream's events and follows the service through a restart", async () => {
  const state = (readers) => `data: {"type":"state","readers":${readers}}\n\n`;
  let watches = 0;
  const service = fakeService((r) => !r.path.endsWith("/events") ? undefined
    : r.path.includes("/s1/") && ++watches === 1
      ? { status: 200, events: [state("[]") + ": alive\n\n", 'data: {"type":"card-', 'inserted"}\n\n'] }
      : r.path.includes("/s1/") ? gone  // the restarted service forgot the session
      : { status: 200, events: [state('[{"index":0}]')], open: true });
  const card = await connect();
  const seen = [];
  await new Promise((resolve) => {
    const stop = card.watch((event) => seen.push(event) === 3 && resolve(stop()));
  });
  assert.deepEqual(seen, [{ type: "state", readers: [] }, { type: "card-inserted" },
    { type: "state", readers: [{ index: 0 }] }]);
  assert.deepEqual(service.log.filter((r) => r.path.endsWith("/events")).map((r) => r.path),
    ["/v1/session/s1/events", "/v1/session/s1/events", "/v1/session/s2/events"]);
});

test("a call given up through its signal rejects at once, and an aborted signal sends nothing", async () => {
  const service = fakeService((r) => (kind(r) === "call" ? "hang" : undefined));
  const card = await connect();
  const controller = new AbortController();
  const call = card.GetBasic({ signal: controller.signal });
  await new Promise((resolve) => setTimeout(resolve, 20));  // the request is out, waiting
  controller.abort();
  await assert.rejects(call, { name: "AbortError" });
  await assert.rejects(card.H_Sign("1", { signal: controller.signal }), { name: "AbortError" });
  assert.deepEqual(calls(service).map((r) => r.body), [{ args: [] }]);
});

const summary = (d) => `${d.problem} ${d.checks.map((c) => `${c.name}:${c.ok}`).join(" ")}`;
for (const [what, script, permission, expected] of [
  ["a healthy set-up", () => json(200, { version: "1.0.0", readers: 2, hcCard: true,
    serverReachable: true }), undefined, "null local-network-access:true service-running:true " +
    "origin-approved:true caller-allowed:true reader:true hc-card:true server-reachable:true"],
  ["no reader, server down", () => json(200, { version: "1.0.0", readers: 0, hcCard: false,
    serverReachable: false }), undefined, "null local-network-access:true service-running:true " +
    "origin-approved:true caller-allowed:true reader:false hc-card:false server-reachable:false"],
  ["local network access denied", () => "unreachable", () => "denied",
    `${denied} local-network-access:false`],
  ["nothing answers", () => "unreachable", undefined,
    "service-not-running local-network-access:true service-running:false"],
  ["origin refused", (r) => (r.mode === "no-cors" ? undefined : "unreachable"), undefined,
    "origin-not-approved local-network-access:true service-running:true origin-approved:false"],
  ["caller refused", () => json(403, { error: "caller not allowed" }), undefined,
    "caller-not-allowed local-network-access:true service-running:true origin-approved:true " +
    "caller-allowed:false"],
]) {
  test(`diagnose: ${what}`, async () => {
    const service = fakeService(script, permission);
    assert.equal(summary(await diagnose({ timeoutMs: 50 })), expected);
    assert.ok(service.log.every((r) => r.path !== "/v1/session"));
  });
}

test("diagnose rejects an incomplete answer and a busy service", async () => {
  fakeService(() => json(200, { version: "1.0.0", readers: 1 }));
  await rejectsWith(diagnose(), "protocol", 200);
  fakeService(() => json(503, { error: "card busy" }));
  await rejectsWith(diagnose(), "busy", 503);
});

// The extension behind a fake window: the content script answers the probe unless `absent`;
// host(request) answers a request with a message or a list ({status, body}, {event}, {error}),
// "hang" for none, or undefined for the canned one. Returns what the page posted.
const page = new EventTarget();
setGlobal("window", page);
function fakeExtension(host = () => undefined, absent = false) {
  const sent = [];
  const canned = (r) => (r.ask === "open" ? { status: 201, body: { session: "h1" } }
    : r.ask === "watch" ? [{ event: { type: "state" } }, { event: { type: "card-inserted" } }]
    : { status: 200, body: { result: `${r.method}(${r.args})`, lastError: 0 } });
  page.postMessage = ({ tag, to, ...message }) => {
    sent.push(message);
    const answer = absent || message.cancel ? "hang" : message.probe ? { probe: true }
      : host(message) ?? canned(message);
    for (const reply of answer === "hang" ? [] : [answer].flat()) {
      setTimeout(() => page.dispatchEvent(Object.assign(new Event("message"),
        { data: { id: message.id, ...reply, tag, to: "page" }, source: page })));
    }
  };
  return sent;
}
const asks = (sent) => sent.map((m) => m.ask ?? (m.probe ? "probe" : `cancel ${m.id}`));
const notInstalled = { error: "host-not-installed", message: "not found" };

for (const [what, transport, absent, host, road, code] of [
  ["the extension runs", undefined, false, undefined, "extension"],
  ["no content script answers", undefined, true, undefined, "service"],
  ["the extension has no host", undefined, false, notInstalled, "service"],
  ["the service forced", "service", false, undefined, "service"],
  ["the extension forced, none answers", "extension", true, undefined, null, "extension-not-installed"],
  ["the extension forced, no host", "extension", false, notInstalled, null, "host-not-installed"],
]) {
  test(`the road when ${what}: ${road ?? code}`, async () => {
    const service = fakeService();
    const sent = fakeExtension(() => host, absent);
    if (code) return rejectsWith(connect({ transport }), code, undefined);
    const card = await connect({ transport });
    assert.deepEqual([card.transport, await card.GetVersion(), calls(service).length],
      road === "service" ? ["service", "s1 GetVersion()", 1] : ["extension", "GetVersion()", 0]);
    assert.equal(sent.some((m) => m.probe), transport !== "service");
  });
}

test("over the extension: refusals keep their codes, a host that ended fails the call and the next call gets a new session", async () => {
  const answers = [{ status: 503, body: { error: "card busy" } }, { error: "host-ended" },
    { status: 403, body: { error: "origin not approved" } }, { status: 404, body: { error: "unknown session" } }];
  const sent = fakeExtension((r) => (r.ask === "call" ? answers.shift() : undefined));
  const card = await connect();
  for (const [code, status] of [["busy", 503], ["host-ended"], ["origin-not-approved", 403]]) {
    await rejectsWith(card.GetBasic(), code, status);
  }
  assert.equal(await card.GetName(), "GetName()");
  assert.deepEqual(asks(sent).slice(1), ["open", "call", "call", "call", "call", "open", "call"]);
});

test("over the extension: a call given up or late is cancelled at the host; a watch gets its events in order and ends with a cancel", async () => {
  const sent = fakeExtension((r) => (r.method === "H_Sign" ? "hang" : undefined));
  const card = await connect({ timeoutMs: 50 });
  await assert.rejects(card.H_Sign("1", { signal: AbortSignal.timeout(10) }), { name: "TimeoutError" });
  await rejectsWith(card.H_Sign("2"), "timeout", undefined);
  const seen = [];
  await new Promise((resolve) => {
    const stop = card.watch((event) => seen.push(event.type) === 2 && resolve(stop()));
  });
  await new Promise((resolve) => setTimeout(resolve, 10));
  const [, , first, , second, , watch] = sent;
  assert.deepEqual(seen, ["state", "card-inserted"]);
  assert.deepEqual(asks(sent).slice(2), ["call", `cancel ${first.id}`, "call", `cancel ${second.id}`,
    "watch", `cancel ${watch.id}`]);
});

test("diagnose reports both roads and puts on top the one connect takes", async () => {
  const healthy = { version: "1.0.0", readers: 1, hcCard: true, serverReachable: true };
  fakeService(() => "unreachable");
  fakeExtension((r) => (r.ask === "diagnostics" ? { status: 200, body: healthy } : undefined));
  const both = await diagnose({ timeoutMs: 50 });
  assert.equal(`${both.transport} ${summary(both)} | ${summary(both.roads.service)}`, "extension null " +
    "extension:true host:true origin-approved:true caller-allowed:true reader:true hc-card:true " +
    "server-reachable:true | service-not-running local-network-access:true service-running:false");
  fakeExtension(() => notInstalled);
  const without = await diagnose({ timeoutMs: 50 });
  assert.equal(`${without.transport} ${summary(without.roads.extension)}`,
    "service host-not-installed extension:true host:false");
});

test("a frame that does not delegate Local Network Access is told so, before any request", async () => {
  const service = fakeService();
  const allowed = new Set();
  setGlobal("document", { featurePolicy: { features: () => ["loopback-network", "local-network"],
    allowsFeature: (name) => allowed.has(name) } });
  Object.assign(page, { self: page, top: {} });
  await rejectsWith(connect({ transport: "service" }), "frame-not-allowed", undefined);
  assert.equal(service.log.length, 0);
  allowed.add("loopback-network");
  await connect({ transport: "service" }).finally(() => Object.assign(page, { self: 0, top: 0 }));
  assert.equal(service.log.length, 1);
});

test("the import and require forms work alike; the version is package.json's, its metadata the default host and port", async () => {
  const { version: packed } = JSON.parse(readFileSync(new URL("package.json", library), "utf8"));
  const required = createRequire(fileURLToPath(library))("qardex-web");
  assert.notEqual(required.QardexError, QardexError);  // its own module, not the ES one
  for (const form of [{ connect, version }, required]) {
    const service = fakeService();
    assert.equal(await (await form.connect()).GetName(), "s1 GetName()");
    assert.equal(`${form.version}`, `${packed.split("+")[0]}+${new URL(service.log[0].url).host.replace(":", ".")}`);
    assert.equal(form.version, packed);
  }
});

for (const [road, when] of [["service", 1], ["service", 2], ["extension", 1]]) {
  test(`a ${road} that no longer serves this library, at session ${when}: requires-update (library), that session closed`, async () => {
    const newer = (body) => ({ status: 201, body: { ...body, protocol: 1e6, oldestLibraryProtocol: 1e6 } });
    const service = fakeService((r) => (kind(r) === "open" && service.opened + 1 === when
      ? json(201, newer(JSON.parse(serve(service, r).body)).body) : undefined));
    const sent = fakeExtension((r) => (r.ask === "open" ? newer({ session: "s1" }) : undefined), road !== "extension");
    const card = when === 1 ? connect({ transport: road }) : await connect({ transport: road });
    service.sessions.clear();
    await assert.rejects(when === 1 ? card : card.GetName(), { code: "requires-update", outdated: "library" });
    await new Promise((resolve) => setTimeout(resolve, 10));
    const closes = [...service.log.map((r) => kind(r) === "close" && r.path.slice(12)), ...sent.map((m) => m.ask === "close" && m.session)];
    assert.deepEqual(closes.filter(Boolean), [`s${when}`]);
  });
}

test("a page that is not a secure context gets insecure-page from connect() and diagnose(), nothing sent", async () => {
  const [service, sent] = [fakeService(), fakeExtension()];
  setGlobal("isSecureContext", false);
  await rejectsWith(connect(), "insecure-page", undefined).finally(() => setGlobal("isSecureContext", true));
  setGlobal("isSecureContext", false);
  const found = await diagnose({ transport: "service" }).finally(() => setGlobal("isSecureContext", true));
  assert.deepEqual([summary(found), service.log.length, sent.length], ["insecure-page local-network-access:false", 0, 0]);
});

test("pagehide closes every open session by a request that outlives the page; a later call opens a new one", async () => {
  const service = fakeService();
  const options = { transport: "service", port: 14999 };  // apart from the cards of other tests
  const [kept, closed] = [await connect(options), await connect(options)];
  await closed.close();
  page.dispatchEvent(new Event("pagehide"));
  await new Promise((resolve) => setTimeout(resolve, 10));
  assert.deepEqual(service.log.filter((r) => kind(r) === "close" && r.url.includes(":14999/"))
    .map((r) => `${r.path} ${r.keepalive}`), ["/v1/session/s2 true", "/v1/session/s1 true"]);
  assert.equal(await kept.GetName(), "s3 GetName()");
});
