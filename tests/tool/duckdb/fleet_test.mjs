// A fleet's logs in DuckDB: 10,000 generated logs with known causes of failure, summarized by
// `tev log --summary --json` over their folder, then read by the recipe README.md gives (run as it
// is written there), whose counts must be the causes put in.
// Usage: node fleet_test.mjs TEV README.md SCRATCH_DIR
import { DuckDBInstance } from "@duckdb/node-api";
import { spawnSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";

const [tev, readme, scratch] = process.argv.slice(2);
const logs = 10000;

// Log lines as TEV writes them: UTF-16LE, CR LF.
const line = (second, text) => `1/2/2016; 3:${Math.floor(second / 60)}:${second % 60}; ${text}\r\n`;
const run = (steps) =>
  ["InitML;", ...steps].map((text, i) => line(i, text)).join("");
const download = (url, outcome) => [`DownloadBegin;${url};`, outcome];
const core = "https://dl.example.com/core.cab", lang = "https://dl.example.com/lang.cab";
const extra = "https://dl.example.com/extra.cab";
// What goes wrong in a run, and the first error the summary must give.
const kinds = [
  [["InstallBegin;Studio;", "InstallError;Studio;", "ShutdownML;"], "installation failed: Studio"],
  [[...download(core, `DownloadError;${core};timed out;`), "ShutdownML;"], `download failed: ${core}: timed out`],
  [[...download(lang, `DownloadError;${lang};404 not found;`), "ShutdownML;"], `download failed: ${lang}: 404 not found`],
  [[...download(core, `DownloadEnd;${core};`), "OnCrash;", "ShutdownML;"], "the setup crashed"],
  [["Fail to initialize KV8;"], "the analytics library did not come up"],
];
// By the log's number modulo 20: 5 in 20 fail to install, 3 a download, 2 another, one crashes,
// one has no analytics library; the rest are clean.
const causes = [0, 0, 0, 0, 0, 1, 1, 1, 2, 2, 3, 4].map((kind) => kinds[kind]);
const clean = [...download(core, `DownloadEnd;${core};`), "wpWarning;low disk;", "ShutdownML;"];
// A clean run whose warning holds a lone surrogate (TEV logs any code unit): JSON readers refuse
// \ud800, so the summary gives U+FFFD and says the run was damaged.
const damaged = [...download(core, `DownloadEnd;${core};`), "wpWarning;low disk \uD800;", "ShutdownML;"];
const damagedEvery = 100, damagedAt = 17;  // a clean log's place modulo 20

const folder = path.join(scratch, "fleet");
fs.rmSync(scratch, { recursive: true, force: true });
fs.mkdirSync(folder, { recursive: true });
const expectedErrors = new Map();
const count = (map, key, by = 1) => map.set(key, (map.get(key) ?? 0) + by);
for (let i = 0; i < logs; ++i) {
  const cause = causes[i % 20];
  let text = run(cause ? cause[0] : i % damagedEvery === damagedAt ? damaged : clean);
  if (cause) count(expectedErrors, cause[1]);
  if (i % 50 === 5) {  // a second run in the same file: the customer's logs concatenated
    text += run([...download(extra, `DownloadError;${extra};reset;`), "ShutdownML;"]);
    count(expectedErrors, `download failed: ${extra}: reset`);
  }
  fs.writeFileSync(path.join(folder, `${String(i).padStart(5, "0")}.log`), Buffer.from(text, "utf16le"));
}
const expectedFailures = new Map([[core, 1500], [lang, 1000], [extra, 200]]);

const jsonl = path.join(scratch, "runs.jsonl");
const summary = spawnSync(tev, ["log", "--summary", "--json", folder], { maxBuffer: 1 << 30 });
if (summary.status !== 3) throw new Error(`tev log exited ${summary.status}: ${summary.stderr}`);
fs.writeFileSync(jsonl, summary.stdout);

// The recipe: the SQL block below the marker in README.md, its statements run in turn.
const text = fs.readFileSync(readme, "utf8");
const block = text.split("<!-- fleet recipe -->")[1]?.match(/```sql\n([\s\S]*?)```/);
if (!block) throw new Error("README.md has no ```sql block after <!-- fleet recipe -->");
const statements = block[1].replaceAll("runs.jsonl", jsonl).split(";").map((s) => s.trim())
  .filter((s) => s.replace(/--.*$/gm, "").trim());
const connection = await (await DuckDBInstance.create(":memory:")).connect();
const results = [];
for (const statement of statements) results.push((await connection.runAndReadAll(statement)).getRowObjectsJS());
const [, firstErrors, failingDownloads] = results;

let failures = 0;
const check = (what, got, expected) => {
  if (got !== expected) {
    console.error(`${what}: got ${got}, expected ${expected}`);
    ++failures;
  }
};
check("first errors", firstErrors.length, expectedErrors.size);
for (const row of firstErrors) check(`runs whose first error is "${row.first_error}"`, Number(row.runs), expectedErrors.get(row.first_error));
check("first error at the top", firstErrors[0]?.first_error, "installation failed: Studio");
check("failing downloads", failingDownloads.length, expectedFailures.size);
for (const row of failingDownloads) check(`failures of ${row.url}`, Number(row.failures), expectedFailures.get(row.url));
check("logs failing extra.cab", Number(failingDownloads.find((row) => row.url === extra)?.logs), 200);
const damagedRuns = (await connection.runAndReadAll("SELECT count(*) AS n FROM runs WHERE damaged"))
  .getRowObjectsJS();
check("runs said damaged", Number(damagedRuns[0].n), logs / damagedEvery);
if (failures) process.exit(1);
console.log(`fleet: ${logs} logs, ${[...expectedErrors.values()].reduce((a, b) => a + b)} failed runs, counts as put in`);
