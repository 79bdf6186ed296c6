// ROOT ignores "same" on the first object drawn into an empty pad and paints it with
// its own axes (a hit map drawn "colz same" into a fresh pad gets axes and palette).
// JSROOT honours "same" there and draws nothing, so the option is dropped before
// drawing, pad by pad.
function isHistogram(object) {
  return /^TH[123]/.test(object?._typename ?? '');
}

function withoutSame(option) {
  return option.replace(/\bsame\b/gi, '').replace(/\s+/g, ' ').trim();
}

// Applies the rule to the pad and all its sub-pads; returns how many options changed.
export function dropSameOnFirstHistogram(pad) {
  const list = pad.fPrimitives;
  if (!list?.arr?.length) return 0;
  let changed = 0;
  if (isHistogram(list.arr[0]) && /\bsame\b/i.test(list.opt?.[0] ?? '')) {
    list.opt[0] = withoutSame(list.opt[0]);
    ++changed;
  }
  for (const object of list.arr)
    if (object?._typename === 'TPad') changed += dropSameOnFirstHistogram(object);
  return changed;
}
