// The verdict banner across the top of the page, always in sight: the overall
// verdict as a badge, the worst check with its reason, since when the
// verdict is Bad, and the count of Bad and Medium rows. Every row that turns
// Bad, not only the first, is signalled: the badge flashes until the
// operator acknowledges it, the page title and the tab's icon change, and,
// when the operator has turned it on, a sound plays.
import { pageTitle } from './quality-plots.mjs';
import { element } from './element.mjs';
import { checkLabel, newlyBad, rowKey, whereOf, worstRow } from './quality-rows.mjs';

const TITLE = document.title;
const SOUND_SETTING = 'kivo.alarm-sound';
const ICONS = {
  Bad: '#c62828', Medium: '#e68a00', Good: '#2e8b3a',
};

const banner = document.getElementById('banner');
const icon = document.querySelector('link[rel="icon"]');
const plainIcon = icon?.getAttribute('href');
let audio = null;

// The time of day in `since` ("run 7, event 12000, 14:02:31") as a Date
// today, or yesterday when that would be in the future.
export function sinceTime(since, now = new Date()) {
  const found = /(\d\d):(\d\d):(\d\d)\s*$/.exec(since ?? '');
  if (!found) return null;
  const time = new Date(now);
  time.setHours(Number(found[1]), Number(found[2]), Number(found[3]), 0);
  if (time > now) time.setDate(time.getDate() - 1);
  return time;
}

export function duration(ms) {
  const minutes = Math.floor(ms / 60000);
  if (minutes < 1) return `${Math.max(0, Math.floor(ms / 1000))} s`;
  if (minutes < 120) return `${minutes} min`;
  return `${Math.floor(minutes / 60)} h ${minutes % 60} min`;
}

function beep(context, at) {
  const tone = context.createOscillator();
  const gain = context.createGain();
  tone.frequency.value = 880;
  gain.gain.value = 0.2;
  tone.connect(gain).connect(context.destination);
  tone.start(at);
  tone.stop(at + 0.2);
}

export class VerdictBanner {
  // `quality` is window.kivoQuality: the banner records its signals there.
  constructor(quality) {
    this.quality = quality;
    this.knownBad = new Set();
    this.badSince = null;  // row key and time of the Bad the banner names
    const sound = element('input', { type: 'checkbox', id: 'alarm-sound' });
    sound.checked = localStorage.getItem(SOUND_SETTING) === 'on';
    sound.addEventListener('change', () => {
      localStorage.setItem(SOUND_SETTING, sound.checked ? 'on' : 'off');
      if (sound.checked) audio ??= new AudioContext();  // browsers allow sound once the operator has clicked
    });
    const acknowledge = element('button', { type: 'button', id: 'alarm-acknowledge', hidden: '' }, 'acknowledge');
    acknowledge.addEventListener('click', () => this.acknowledge());
    banner.replaceChildren(
      element('div', { id: 'quality-badge', class: 'verdict Null', title: 'overall verdict' }, 'no verdict yet'),
      element('div', { id: 'banner-text' }, element('div', { id: 'banner-worst' }, 'no check has judged yet'),
              element('div', { id: 'banner-reason' })),
      element('div', { id: 'banner-since' }),
      element('div', { id: 'banner-counts' }),
      acknowledge,
      element('label', { id: 'banner-sound', title: 'a sound at every new Bad' }, sound, ' sound'));
    setInterval(() => this.showSince(), 1000);
  }

  acknowledge() {
    this.quality.alarm = false;
    this.showAlarm();
  }

  showAlarm() {
    document.getElementById('quality-badge').classList.toggle('alarm', this.quality.alarm);
    document.getElementById('alarm-acknowledge').hidden = !this.quality.alarm;
  }

  // Signals each row that turned Bad since the last view.
  signal(rows) {
    const fresh = newlyBad(rows, this.knownBad);
    this.knownBad = new Set(rows.filter((row) => row.verdict === 'Bad').map(rowKey));
    if (this.knownBad.size === 0) this.quality.alarm = false;
    if (fresh.length === 0) return;
    this.quality.alarm = true;
    this.quality.badSignals += 1;
    this.quality.newBad = fresh.map((row) => `${checkLabel(row.check)}, ${whereOf(row)}`);
    if (document.getElementById('alarm-sound').checked) this.sound();
  }

  sound() {
    audio ??= new AudioContext();
    for (let i = 0; i < 3; ++i) beep(audio, audio.currentTime + 0.3 * i);
    this.quality.soundsPlayed += 1;
  }

  show(view) {
    const rows = Array.isArray(view.rows) ? view.rows : [];
    const overall = view.judged ? String(view.overall) : null;
    this.signal(rows);
    const badge = document.getElementById('quality-badge');
    badge.textContent = overall === 'Null' ? 'Null: not judged' : overall ?? 'no verdict yet';
    badge.title = view.judged && view.overall_text ? String(view.overall_text) : 'overall verdict';
    badge.className = `verdict ${['Good', 'Medium', 'Bad'].includes(overall) ? overall : 'Null'}`;
    banner.dataset.verdict = overall ?? 'Null';
    this.showAlarm();
    const worst = worstRow(rows);
    // Every result Null: the badge says "Null: not judged", the banner why.
    const notJudged = overall === 'Null' && view.overall_text
      ? String(view.overall_text).replace(/^Null: not judged \((.*)\)$/, '$1') : null;
    document.getElementById('banner-worst').textContent = worst ? `${checkLabel(worst.check)}, ${whereOf(worst)}`
      : notJudged ?? (view.judged ? 'every check Good or not judged' : 'no check has judged yet');
    document.getElementById('banner-reason').textContent = worst ? String(worst.reason ?? '') : '';
    const count = (verdict) => rows.filter((row) => row.verdict === verdict).length;
    const [bad, medium] = [count('Bad'), count('Medium')];
    document.getElementById('banner-counts').textContent =
      bad + medium ? [bad && `${bad} Bad`, medium && `${medium} Medium`].filter(Boolean).join(', ') : '';
    this.badSince = worst?.verdict === 'Bad' ? sinceTime(worst.since) : null;
    this.showSince();
    document.title = pageTitle(TITLE, overall, bad);
    if (icon) icon.setAttribute('href', ICONS[overall] ? this.iconFor(ICONS[overall]) : plainIcon);
  }

  showSince() {
    document.getElementById('banner-since').textContent = this.badSince
      ? `Bad since ${this.badSince.toLocaleTimeString('en-GB')} (${duration(Date.now() - this.badSince)})` : '';
  }

  iconFor(colour) {
    const svg = `<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 32 32"><rect width="32" height="32" rx="6" fill="${colour}"/></svg>`;
    return `data:image/svg+xml,${encodeURIComponent(svg)}`;
  }
}
