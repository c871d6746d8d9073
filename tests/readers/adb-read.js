// adb-read.js FILE [TABLE]
// Prints what accessdb-parser sees in a Jet file as one line of JSON:
//   {"tables": [user table names], "table": {"name", "columns": [{"name", "type",
//    "length"}], "rows": [[value, ...], ...]}}   ("table" only with TABLE)
// Values are text exactly as accessdb-parser gives them: numbers as JavaScript
// prints them (a single float as the double it widens to), dates "DD/MM/YYYY"
// without the time of day, a Null as "" or as the bytes its place holds (the
// parser does not read the null mask). A row it misreads is null: it takes
// the offsets of a row's variable-length values one byte wide, so a record of
// 256 bytes or more comes out garbled. Its table reader gives only column
// names, so the columns (in table order, with their types and the length of a
// text in characters) come from the package's own parser of the table
// definition. TABLE may also name a system table (MSysObjects, MSysQueries),
// which the parser's catalog leaves out: it is found in the parser's own
// reading of MSysObjects. Exit status 1 when the table is not there, 2 when
// the file does not read.
import { readFileSync } from "node:fs";
import { AccessParser } from "accessdb-parser";
import { TDEF_HEADER, parseDataPageHeader, parseTableHead, parseTableData } from "accessdb-parser/lib/parsing-primitives.js";

const [file, tableName] = process.argv.slice(2);
if (!file) {
  process.stderr.write("usage: adb-read.js FILE [TABLE]\n");
  process.exit(2);
}
// The parser logs as it reads (memo fields, odd records): keep stdout for the reply.
console.log = console.error;

const kPage = 4096;  // Jet 4
const kTypes = { 1: "boolean", 2: "byte", 3: "integer", 4: "long", 5: "currency", 6: "single", 7: "double",
                 8: "datetime", 9: "binary", 10: "text", 11: "ole", 12: "memo", 15: "repid", 16: "numeric" };

// The columns of the table whose definition starts on page `id`, in table order.
function columnsOf(buf, id) {
  const first = buf.subarray(id * kPage, (id + 1) * kPage);
  const head = parseTableHead(first, 4);
  let data = first.subarray(head.tDefHeaderEnd);
  for (let next = head.TDEF_header.nextPagePtr; next; ) {
    const page = buf.subarray(next * kPage, (next + 1) * kPage);
    const h = TDEF_HEADER.parse(page);
    data = Buffer.concat([data, page.subarray(h.headerEnd)]);
    next = h.nextPagePtr;
  }
  const parsed = parseTableData(data, head.realIndexCount, head.columnCount, 4);
  return parsed.column
    .map((c, k) => {
      const type = kTypes[c.type] ?? `type ${c.type}`;
      return { index: c.columnIndex, name: parsed.columnNames[k].colNameStr, type,
               length: type === "text" ? c.length / 2 : 0 };
    })
    .sort((a, b) => a.index - b.index)
    .map(({ name, type, length }) => ({ name, type, length }));
}

// The length of each record of the table on page `id` as the parser cuts it,
// in the order it reads them: data pages in file order, each page's records
// in slot order, deleted ones left out, an overflow pointer followed. A record
// ends where the one before it in the slot table starts: in a scan, an offset
// of 0 (a deleted record at the page's end) means the page's end; behind a
// pointer, the offset before counts without its flags only when deleted.
function recordLengths(parser, id) {
  const lengths = [];
  const span = (page, slot, scan) => {
    const offsets = parseDataPageHeader(page, 4).recordOffsets;
    const before = slot === 0 ? kPage : offsets[slot - 1];
    const end = scan ? (before & 0xfff) || kPage : before & 0x8000 ? before & 0xfff : Math.min(before, kPage);
    return Math.max(0, end - (offsets[slot] & 0xfff));
  };
  for (const page of parser.tablesWithData[id * kPage]?.linkedPages ?? []) {
    const offsets = parseDataPageHeader(page, 4).recordOffsets;
    offsets.forEach((offset, slot) => {
      if (offset & 0x8000) return;
      if (offset & 0x4000) {
        const pointer = page.readUInt32LE(offset & 0xfff);
        const target = buf.subarray((pointer >>> 8) * kPage, ((pointer >>> 8) + 1) * kPage);
        lengths.push(span(target, pointer & 0xff, false));
      } else {
        lengths.push(span(page, slot, true));
      }
    });
  }
  return lengths;
}

let buf, parser;
try {
  buf = readFileSync(file);
  parser = new AccessParser(buf);
} catch (e) {
  process.stderr.write(`${file}: ${e.message}\n`);
  process.exit(2);
}
const out = { tables: parser.getTables() };
// A system table's id, from the rows of MSysObjects (its definition is on page 2).
function systemTableId(name) {
  const catalog = parser.catalog;
  parser.catalog = { MSysObjects: 2 };
  try {
    const rows = parser.parseTableUnformatted("MSysObjects");
    const k = rows.Name.indexOf(name);
    return k >= 0 && rows.Type[k] === 1 ? rows.Id[k] : undefined;
  } finally {
    parser.catalog = catalog;
  }
}
if (tableName !== undefined && !out.tables.includes(tableName) && tableName.startsWith("MSys")) {
  const id = systemTableId(tableName);
  if (id !== undefined) parser.catalog[tableName] = id;
}
if (tableName !== undefined) {
  if (parser.catalog[tableName] === undefined) {
    process.stderr.write(`${file}: no table ${tableName}\n`);
    process.exit(1);
  }
  try {
    // The catalog's id of a table is the page of its definition.
    const columns = columnsOf(buf, parser.catalog[tableName]);
    let rows = [];
    try {
      const { fields, lines } = parser.parseTable(tableName);
      // Fixed-size columns come first in `fields`: put each value in its column.
      const at = columns.map((c) => fields.indexOf(c.name));
      if (at.includes(-1) || fields.length !== columns.length)
        throw new Error(`fields ${JSON.stringify(fields)} are not the table's columns`);
      const lengths = recordLengths(parser, parser.catalog[tableName]);
      if (lengths.length !== lines.length)
        throw new Error(`${lines.length} rows read from ${lengths.length} records`);
      rows = lines.map((line, n) => (lengths[n] < 256 ? at.map((k) => line[k]) : null));
    } catch (e) {
      // A table without rows has no data page the parser could find.
      if (e.message !== "Empty table") throw e;
    }
    out.table = { name: tableName, columns, rows };
  } catch (e) {
    process.stderr.write(`${file}: table ${tableName}: ${e.message}\n`);
    process.exit(2);
  }
}
process.stdout.write(JSON.stringify(out) + "\n");
