// When kivo does not answer, the page says so where a glance finds it, also
// in a background tab: the verdict badge reads "no answer", the tab's title
// starts with it and its icon turns to a question mark. What they showed
// before comes back once kivo answers again. The header (display.mjs) tells
// of each change through its kivo:header event.
const PREFIX = 'No answer from kivo · ';
const ICON = 'data:image/svg+xml,' + encodeURIComponent(
  '<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 32 32"><rect width="32" height="32" rx="6" fill="#4a2a6a"/>' +
  '<text x="16" y="24" font-size="22" font-family="sans-serif" font-weight="bold" fill="white" text-anchor="middle">?</text></svg>');

let saved = null;  // badge, title and icon as they were, while kivo does not answer

// The title a tab shows while kivo does not answer.
export function silentTitle(title) {
  return title.startsWith(PREFIX) ? title : PREFIX + title;
}

function enter(seconds) {
  const badge = document.getElementById('quality-badge');
  const icon = document.querySelector('link[rel="icon"]');
  if (!saved) saved = { text: badge?.textContent, className: badge?.className, title: document.title, icon: icon?.getAttribute('href') };
  if (badge) {
    badge.textContent = 'no answer';
    badge.className = 'verdict NoAnswer';
    badge.title = `kivo has not answered for ${seconds} s: the verdict shown before may be out of date`;
  }
  document.title = silentTitle(saved.title ?? document.title);
  icon?.setAttribute('href', ICON);
}

function leave() {
  const badge = document.getElementById('quality-badge');
  if (badge?.classList.contains('NoAnswer')) {
    badge.textContent = saved.text;
    badge.className = saved.className;
    badge.title = 'overall verdict';
  }
  if (document.title.startsWith(PREFIX)) document.title = saved.title;
  const icon = document.querySelector('link[rel="icon"]');
  if (icon?.getAttribute('href') === ICON) icon.setAttribute('href', saved.icon);
  saved = null;
}

document.addEventListener('kivo:header', ({ detail }) => {
  if (detail.flow === 'no-answer') enter(detail.state.match(/\d+/)?.[0] ?? '?');
  else if (saved) leave();
});
