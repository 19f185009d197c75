// The band remote in a real browser: the system's chromium, headless, driven by puppeteer-core,
// against the real program on loopback (run inside a private network namespace) and on a private
// JACK server with a DAW on it (the DAW helper, which also writes the set). One phone opens the
// viewer link and sees the set, is refused control without the pairing code (the DAW hears
// nothing), pairs, presses NEXT: the DAW hears the mutes of the next section, and a second phone
// sees the change.
//
//   node remote_browser_test.mjs <path of the strata program> <path of the DAW helper>
import { spawn } from "node:child_process";
import { mkdtempSync, mkdirSync, writeFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import assert from "node:assert/strict";
import puppeteer from "puppeteer-core";

const program = process.argv[2];
const dawHelper = process.argv[3];
const port = 18780;
const token = "0123456789abcdef0123456789abcdef";
const patience = 30000; // a wait that ends as soon as what it waits for holds

const root = mkdtempSync(join(tmpdir(), "strata-remote-browser-"));
mkdirSync(join(root, "config", "Korvel"), { recursive: true });
writeFileSync(join(root, "config", "Korvel", "Strata.conf"), [
  "[General]",
  `remoteConfig="{\\"web\\":true,\\"webPort\\":${port},\\"osc\\":false,\\"oscPort\\":18781,\\"oscAllowed\\":[]}"`,
  `remoteViewerToken=${token}`,
  "showModeChooserAtStartup=false",
  "hasSeenQuickStart=true",
  "",
].join("\n"));

let log = "";
// The DAW: its lines ("jack <server>", "connected", "mutes 01000000") as they come.
const daw = spawn(dawHelper, [root], { stdio: ["pipe", "pipe", "pipe"] });
const dawLines = [];
let dawRest = "";
daw.stdout.on("data", (d) => {
  const parts = (dawRest + d).split("\n");
  dawRest = parts.pop();
  dawLines.push(...parts);
});
daw.stderr.on("data", (d) => { log += "[daw] " + d; });
const dawExited = new Promise((r) => daw.on("exit", r));
let app;
let appExited = Promise.resolve();
// The DAW's mutes as last reported ("" before it is wired), one character a track.
const dawMutes = () => {
  const last = dawLines.filter((l) => l.startsWith("mutes ")).pop();
  return last ? last.slice(6) : "";
};

async function until(what, check) {
  if (process.env.STRATA_VERBOSE) console.log("waiting for " + what);
  const end = Date.now() + patience;
  while (Date.now() < end) {
    if (await check()) return;
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error("never: " + what + "\n" + log);
}

let browser;
let status = 0;
try {
  await until("the JACK server", () => dawLines.some((l) => l.startsWith("jack ")));
  const server = dawLines.find((l) => l.startsWith("jack ")).slice(5);
  const env = { ...process.env, HOME: join(root, "home"), XDG_CONFIG_HOME: join(root, "config"),
    XDG_DATA_HOME: join(root, "data"), QT_QPA_PLATFORM: "offscreen", STRATA_TEST_HOOKS: "1",
    STRATA_MIDI: "jack", JACK_DEFAULT_SERVER: server, JACK_NO_START_SERVER: "1" };
  app = spawn(program, [], { env, stdio: ["ignore", "pipe", "pipe"] });
  app.stdout.on("data", (d) => { log += d; });
  app.stderr.on("data", (d) => { log += d; });
  appExited = new Promise((r) => app.on("exit", r));
  await until("the page is served", () => log.includes("web page on port") && log.includes("Ready (MIDI: jack)"));
  await until("the DAW wired to Strata", () => dawLines.includes("connected"));
  browser = await puppeteer.launch({ executablePath: process.env.STRATA_CHROMIUM || "/usr/bin/chromium", headless: "new",
    args: ["--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-dev-shm-usage"],
    protocolTimeout: 60000 });
  const link = `http://127.0.0.1:${port}/?t=${token}`;
  const open = async (width, height) => {
    const page = await browser.newPage();
    await page.setViewport({ width, height, isMobile: true, hasTouch: true });
    await page.goto(link);
    return page;
  };
  // Each look brings its page to the front: a page behind another is throttled by the browser.
  const text = async (page, id) => {
    await page.bringToFront();
    return page.$eval("#" + id, (e) => e.textContent);
  };

  // Without the token there is nothing.
  const stranger = await browser.newPage();
  const refused = await stranger.goto(`http://127.0.0.1:${port}/`);
  assert.equal(refused.status(), 404);

  // The viewer link shows the set, live.
  const phone = await open(390, 844);
  const second = await open(844, 390);
  for (const page of [phone, second]) {
    await until("the set on a phone", async () => (await text(page, "now")) === "Intro");
    assert.equal(await text(page, "song"), "New Song");
    assert.equal(await text(page, "next"), "Verse 1");
    assert.ok((await text(page, "songs")).includes("New Song"));
  }

  // No control without pairing: the controls are hidden, and a NEXT sent anyway is refused.
  await phone.bringToFront();
  assert.equal(await phone.$eval("#controls", (e) => e.classList.contains("hidden")), true);
  await phone.evaluate(() => send({ cmd: "next" }));
  await until("the refusal", async () => (await text(phone, "msg")) === "Not paired");
  assert.equal(await text(second, "now"), "Intro");
  // A refused command never reaches MIDI: Verse 1's track is not muted. (Intro's is, unless the
  // DAW was wired after the program's first push went out.)
  const before = dawMutes();
  assert.equal(before[1], "0", "the DAW's mutes after a refused NEXT: " + before);

  // A wrong code is refused; the code on the performer's screen pairs.
  await phone.bringToFront();
  await phone.type("#code", "999999x");
  await phone.click("#pairBtn");
  await until("the wrong code", async () => (await text(phone, "msg")) === "Wrong code");
  const code = /\[Remote\] pairing code (\d{6})/.exec(log)[1];
  await phone.bringToFront();
  await phone.type("#code", code);
  await phone.click("#pairBtn");
  await until("the controls", async () =>
    (await phone.bringToFront()) || !(await phone.$eval("#controls", (e) => e.classList.contains("hidden"))));
  await second.bringToFront();
  assert.equal(await second.$eval("#controls", (e) => e.classList.contains("hidden")), true);

  // NEXT on the paired phone: both phones show the next section.
  await phone.bringToFront();
  await phone.click("#go");
  for (const page of [phone, second])
    await until("the move on both phones", async () => (await text(page, "now")) === "Verse 1");
  // The DAW heard it: Verse 1's track muted, Intro's sounding again when it had heard Intro.
  await until("the move in the DAW", () => dawMutes()[1] === "1");
  assert.equal(dawMutes(), before === "10000000" ? "01000000" : "11000000");
  // The program itself moved: its window's state is what a new phone is sent.
  const third = await open(390, 844);
  await until("the move for a new phone", async () => (await text(third, "now")) === "Verse 1");
  if (process.env.STRATA_SCREENSHOTS) {
    await phone.bringToFront();
    await phone.screenshot({ path: join(process.env.STRATA_SCREENSHOTS, "remote-phone.png") });
    await second.bringToFront();
    await second.screenshot({ path: join(process.env.STRATA_SCREENSHOTS, "remote-phone-landscape.png") });
    const tablet = await open(820, 1180);
    await until("the tablet", async () => (await text(tablet, "now")) === "Verse 1");
    await tablet.screenshot({ path: join(process.env.STRATA_SCREENSHOTS, "remote-tablet.png") });
  }
  status = 0;
} catch (error) {
  console.error(error.stack || String(error));
  status = 1;
} finally {
  if (browser) await browser.close();
  if (app) app.kill("SIGTERM");
  await appExited;
  daw.stdin.end(); // the helper stops its JACK server
  await dawExited;
  rmSync(root, { recursive: true, force: true });
}
process.exit(status);
