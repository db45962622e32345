// The work of `corvane3 --summary` and `--export-csv` done by two general data tools, to time
// them side by side (bench/file-commands runs it): the count, minimum, mean, maximum and
// population standard deviation of every numeric column of a .csd file, and the file written
// back as CSV.
//
//   node bench/other-readers.mjs duckdb-summary|polars-summary|duckdb-csv FILE.csd [OUT.csv]
//
// The packages are looked for in NODE_PATH (bench/file-commands installs them there).

import { createRequire } from "node:module";
import path from "node:path";

const require = createRequire(path.join(process.env.NODE_PATH ?? process.cwd(), "x.js"));
const [what, file, out] = process.argv.slice(2);
if (!what || !file) {
  console.error("usage: node other-readers.mjs duckdb-summary|polars-summary|duckdb-csv FILE [OUT]");
  process.exit(2);
}

// Numbers only; the header's blanks after the commas are part of the names.
const quoted = (name) => `"${name.replaceAll('"', '""')}"`;

async function duckdb(csv) {
  const { DuckDBInstance } = require("@duckdb/node-api");
  const instance = await DuckDBInstance.create(":memory:");
  const connection = await instance.connect();
  const source = `read_csv('${file.replaceAll("'", "''")}', header = true)`;
  if (csv) {
    await connection.run(`COPY (SELECT * FROM ${source}) TO '${(out ?? "/dev/null").replaceAll("'", "''")}' (HEADER)`);
    return;
  }
  const columns = (await connection.runAndReadAll(`DESCRIBE SELECT * FROM ${source}`))
    .getRowObjects()
    .filter((row) => /INT|DOUBLE|FLOAT|DECIMAL|BIGINT/.test(String(row.column_type)))
    .map((row) => String(row.column_name));
  const parts = columns.flatMap((c) => [
    `min(${quoted(c)})`, `avg(${quoted(c)})`, `max(${quoted(c)})`, `stddev_pop(${quoted(c)})`,
  ]);
  const result = await connection.runAndReadAll(`SELECT count(*), ${parts.join(", ")} FROM ${source}`);
  console.log(`${columns.length} columns, ${result.getRows()[0][0]} records`);
}

function polars() {
  const pl = require("nodejs-polars");
  const frame = pl.scanCSV(file, { hasHeader: true }).collectSync();
  // Columns whose numbers follow a blank are read as text: converted, as the other readers do.
  const numbers = frame.columns.map((c) =>
    frame.getColumn(c).isNumeric()
      ? pl.col(c)
      : pl.col(c).str.stripChars().cast(pl.Float64, false).alias(c),
  );
  const values = frame.select(...numbers);
  const stats = values.select(
    ...values.columns.flatMap((c, i) => [
      pl.col(c).min().alias(`min${i}`),
      pl.col(c).mean().alias(`mean${i}`),
      pl.col(c).max().alias(`max${i}`),
      pl.col(c).std(0).alias(`sigma${i}`),
    ]),
  );
  console.log(`${values.width} columns, ${frame.height} records, ${stats.width} figures`);
}

if (what === "duckdb-summary") {
  await duckdb(false);
} else if (what === "duckdb-csv") {
  await duckdb(true);
} else if (what === "polars-summary") {
  polars();
} else {
  console.error(`unknown: ${what}`);
  process.exit(2);
}
