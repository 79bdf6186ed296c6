// Where the page marks chips on a hit map, for the x range a frame shows.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { chipMarks } from '../page/chip-boundaries.mjs';

test('a whole stave shows nine chips and the eight boundaries between them', () => {
  const marks = chipMarks(-0.5, 9215.5);
  assert.deepEqual(marks.map((m) => m.chip), [0, 1, 2, 3, 4, 5, 6, 7, 8]);
  assert.deepEqual(marks.filter((m) => m.boundary !== null).map((m) => m.boundary),
                   [1023.5, 2047.5, 3071.5, 4095.5, 5119.5, 6143.5, 7167.5, 8191.5]);
  assert.equal(marks[4].middle, 4607.5);
});

test('a zoom shows the chips it reaches, each label in the middle of its visible part', () => {
  const marks = chipMarks(3500, 5600);
  assert.deepEqual(marks.map((m) => [m.chip, m.boundary]), [[3, null], [4, 4095.5], [5, 5119.5]]);
  assert.equal(marks[0].middle, (3500 + 4095.5) / 2);
  assert.equal(marks[2].middle, (5119.5 + 5600) / 2);
  assert.deepEqual(chipMarks(4200, 4300).map((m) => [m.chip, m.boundary]), [[4, null]], 'inside one chip: no boundary');
  assert.deepEqual(chipMarks(4095.5, 4200).map((m) => m.chip), [4], 'a range starting on a boundary');
});
