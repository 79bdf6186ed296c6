// The shift's judgement of a run in the runs list: the latest one shown in
// its row (who, when, why on hover), and a box to give one, Good, Bad or
// not for analysis with a comment, that lists the judgements given before.
// It posts to /certify, the display's one write; the list is read again
// once it is stored. State is exposed on window.kivoRuns.certify for tests.
import { localTime } from './runs.mjs';
import { element } from './element.mjs';

const JUDGEMENTS = ['Good', 'Bad', 'not for analysis'];
const MAX_COMMENT = 500;

const state = { open: null, stored: 0, error: null };

function judgementClass(verdict) {
  return `certification cert-${verdict.replaceAll(' ', '-')}`;
}

function described(judgement) {
  return `${judgement.verdict} by ${judgement.user}, ${localTime(judgement.at)}` +
    (judgement.comment ? `: ${judgement.comment}` : '');
}

// The row's cell: the latest judgement, and the button that opens the box.
export function certificationCell(entry, stored) {
  const latest = entry.certification;
  const shown = latest
    ? element('span', { class: judgementClass(latest.verdict), title: (entry.certifications ?? []).map(described).join('\n') },
              latest.verdict)
    : element('span', { class: 'certification none' }, 'not certified');
  const button = element('button', { type: 'button', class: 'certify', 'data-id': String(entry.id) }, 'Certify');
  button.addEventListener('click', () => openBox(entry, stored));
  const who = latest ? element('span', { class: 'certified-by' }, ` ${latest.user}`) : '';
  return element('td', { class: 'certification-cell' }, shown, who, button);
}

function closeBox() {
  document.getElementById('certify-box')?.remove();
  state.open = null;
}

function historyList(entry) {
  const history = entry.certifications ?? [];
  if (!history.length) return element('p', { class: 'certify-history' }, 'Not certified yet.');
  return element('ol', { class: 'certify-history' },
                 ...[...history].reverse().map((judgement) => element('li', {},
                                                                       element('span', { class: judgementClass(judgement.verdict) },
                                                                               judgement.verdict),
                                                                       ` ${described(judgement).slice(judgement.verdict.length)}`)));
}

async function submit(form, entry, stored) {
  const message = form.querySelector('.certify-message');
  const verdict = form.elements.verdict.value;
  const comment = form.elements.comment.value.trim();
  if (verdict !== 'Good' && !comment) {
    message.textContent = `A run judged ${verdict} needs a comment that says why.`;
    return;
  }
  message.textContent = 'Storing…';
  try {
    const response = await fetch('certify', {
      method: 'POST', headers: { 'Content-Type': 'application/json' }, cache: 'no-store',
      body: JSON.stringify({ id: entry.id, verdict, comment }),
    });
    const answer = await response.json().catch(() => ({}));
    if (!response.ok) throw new Error(answer.error ?? `HTTP ${response.status}`);
    state.stored += 1;
    state.error = null;
    closeBox();
    await stored();
  } catch (error) {
    state.error = String(error?.message ?? error);
    message.textContent = `Not stored: ${state.error}`;
  }
}

function openBox(entry, stored) {
  closeBox();
  state.open = entry.id;
  const form = element('form', { id: 'certify-box' },
                       element('h3', {}, `Certify run ${entry.run} (${entry.stand}, ${entry.file})`),
                       element('label', {}, 'Judgement ',
                               element('select', { name: 'verdict' },
                                       ...JUDGEMENTS.map((verdict) => element('option', { value: verdict }, verdict)))),
                       element('label', {}, 'Comment ',
                               element('input', { name: 'comment', maxlength: String(MAX_COMMENT), size: '48',
                                                  placeholder: 'why (needed unless Good)' })),
                       element('button', { type: 'submit' }, 'Store'),
                       element('button', { type: 'button', class: 'certify-cancel' }, 'Cancel'),
                       element('p', { class: 'certify-message' }),
                       historyList(entry));
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    submit(form, entry, stored);
  });
  form.querySelector('.certify-cancel').addEventListener('click', closeBox);
  document.getElementById('runs-list').prepend(form);
  form.elements.comment.focus();
}

export function certifyState() {
  return state;
}
