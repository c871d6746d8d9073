// mdb-read.js FILE [TABLE]
// Prints what mdb-reader sees in a Jet file as one line of JSON:
//   {"tables": [user table names], "table": {"name", "columns": [{"name", "type",
//    "size", "length"}], "rows": [[value, ...], ...]}}   ("table" only with TABLE)
// Values are null or text: numbers as JavaScript prints them (a single float
// as the double it widens to), dates "YYYY-MM-DD" with " HH:MM:SS" only when
// there is a time of day, binary data in hex. "length" is the size of a text
// column in characters (Jet 4 stores two bytes per character), 0 otherwise.
// TABLE may also name a system table (MSysObjects, MSysQueries). Exit status 1
// when the table is not there, 2 when the file does not read.
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const [file, tableName] = process.argv.slice(2);
if (!file) {
  process.stderr.write("usage: mdb-read.js FILE [TABLE]\n");
  process.exit(2);
}

function two(n) {
  return String(n).padStart(2, "0");
}

// mdb-reader turns a Jet date into a Date in UTC, to the millisecond.
function dateText(d) {
  const t = new Date(Math.round(d.getTime() / 1000) * 1000);
  const day = `${String(t.getUTCFullYear()).padStart(4, "0")}-${two(t.getUTCMonth() + 1)}-${two(t.getUTCDate())}`;
  const h = t.getUTCHours(), m = t.getUTCMinutes(), s = t.getUTCSeconds();
  return h || m || s ? `${day} ${two(h)}:${two(m)}:${two(s)}` : day;
}

function valueText(v) {
  if (v === null || v === undefined) return null;
  if (v instanceof Date) return dateText(v);
  if (Buffer.isBuffer(v)) return v.toString("hex");
  return String(v);
}

let reader;
try {
  reader = new MDBReader(readFileSync(file));
} catch (e) {
  process.stderr.write(`${file}: ${e.message}\n`);
  process.exit(2);
}
const out = { tables: reader.getTableNames() };
if (tableName !== undefined) {
  if (!reader.getTableNames({ systemTables: true }).includes(tableName)) {
    process.stderr.write(`${file}: no table ${tableName}\n`);
    process.exit(1);
  }
  const table = reader.getTable(tableName);
  const columns = table.getColumns();
  const names = columns.map((c) => c.name);
  out.table = {
    name: table.name,
    columns: columns.map((c) => ({
      name: c.name,
      type: c.type,
      size: c.size,
      length: c.type === "text" ? c.size / 2 : 0,
    })),
    rows: table.getData().map((row) => names.map((n) => valueText(row[n]))),
  };
}
process.stdout.write(JSON.stringify(out) + "\n");
