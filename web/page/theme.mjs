// The page's theme: dark or light as the system prefers (prefers-color-scheme),
// unless the switch in the header chooses one; the choice is kept in the
// address's fragment (#theme=dark or #theme=light), so that a link opens in it.
const THEMES = ['auto', 'dark', 'light'];
const LABELS = { auto: 'Theme: auto', dark: 'Theme: dark', light: 'Theme: light' };

const systemDark = window.matchMedia('(prefers-color-scheme: dark)');

// The theme the address asks for: 'dark', 'light' or 'auto'.
export function chosenTheme(hash = window.location.hash) {
  const asked = new URLSearchParams(hash.slice(1)).get('theme');
  return THEMES.includes(asked) ? asked : 'auto';
}

// 'dark' or 'light': what the page shows for `choice`.
export function shownTheme(choice, prefersDark) {
  return choice === 'auto' ? (prefersDark ? 'dark' : 'light') : choice;
}

function apply() {
  const choice = chosenTheme();
  document.documentElement.dataset.theme = shownTheme(choice, systemDark.matches);
  const button = document.getElementById('theme-switch');
  if (button) button.textContent = LABELS[choice];
}

function choose(choice) {
  const url = new URL(window.location.href);
  const params = new URLSearchParams(url.hash.slice(1));
  if (choice === 'auto') params.delete('theme');
  else params.set('theme', choice);
  url.hash = params.toString();
  window.history.replaceState(window.history.state, '', url);
  apply();
}

const button = document.createElement('button');
Object.assign(button, { id: 'theme-switch', type: 'button', title: 'dark, light, or as the system prefers' });
button.addEventListener('click', () => choose(THEMES[(THEMES.indexOf(chosenTheme()) + 1) % THEMES.length]));
document.getElementById('top')?.append(button);
systemDark.addEventListener('change', apply);
window.addEventListener('popstate', apply);
window.addEventListener('hashchange', apply);
apply();
