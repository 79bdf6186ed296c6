// The rows of /quality.json as the panel shows them: ordered Bad first, then
// Medium, then the rest; where each points (stave, chip); and a check-by-stave
// grid holding the worst verdict of each cell. Checks, staves and verdicts
// the page does not know of just appear; fields it does not know are ignored.
// No page here, so that Node can check them too.

const ORDER = { Bad: 0, Medium: 1 };
const rank = (verdict) => ORDER[verdict] ?? 2;
// Worst first, for the grid's cells: a verdict the page does not know counts
// as worse than Good (it may say a check is not judging).
const SEVERITY = { Bad: 4, Medium: 3, Good: 1, Null: 0 };
const severity = (verdict) => SEVERITY[verdict] ?? 2;

export const checkLabel = (check) => String(check).replaceAll('_', ' ');

// The rows ordered Bad, Medium, then the rest, each group in kivo's order.
export function orderedRows(rows) {
  return rows.map((row, index) => ({ row, index }))
    .sort((a, b) => rank(a.row.verdict) - rank(b.row.verdict) || a.index - b.index)
    .map(({ row }) => row);
}

// "stave 2, chip 5" (the chip only when the row is Medium or Bad), "all" for no stave.
export function whereOf(row) {
  if (row.stave === null || row.stave === undefined) return 'all';
  const chip = row.chip !== null && row.chip !== undefined && (row.verdict === 'Medium' || row.verdict === 'Bad');
  return `stave ${row.stave}${chip ? `, chip ${row.chip}` : ''}`;
}

export const rowKey = (row) => `${row.check}|${row.stave}|${row.chip}`;

// { checks, columns, cells } with `cells` by "check|column": the rows of
// that check and stave ('all' for rows of no stave) and the worst verdict.
export function verdictGrid(rows) {
  const checks = [], staves = new Set();
  const cells = new Map();
  for (const row of rows) {
    if (!checks.includes(row.check)) checks.push(row.check);
    const column = row.stave === null || row.stave === undefined ? 'all' : row.stave;
    if (column !== 'all') staves.add(column);
    const key = `${row.check}|${column}`;
    const cell = cells.get(key) ?? { rows: [], verdict: null };
    cell.rows.push(row);
    if (cell.verdict === null || severity(row.verdict) > severity(cell.verdict)) cell.verdict = row.verdict;
    cells.set(key, cell);
  }
  const columns = [...[...staves].sort((a, b) => a - b)];
  if ([...cells.keys()].some((key) => key.endsWith('|all'))) columns.unshift('all');
  return { checks, columns, cells };
}

// The row the banner names: the first Bad, else the first Medium, else null.
export function worstRow(rows) {
  return rows.find((row) => row.verdict === 'Bad') ?? rows.find((row) => row.verdict === 'Medium') ?? null;
}

// The Bad rows not Bad at the last look (`known`: their keys then).
export function newlyBad(rows, known) {
  return rows.filter((row) => row.verdict === 'Bad' && !known.has(rowKey(row)));
}
